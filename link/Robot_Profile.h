#pragma once

#include "link/Frames.h"
#include "link/Servos.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <optional>

// The operator's robot, servo by servo: the name shown, the lowest and highest position it may
// be sent, its home position; and for the robot, the speed byte used for gentle moves and how
// many degrees per second one unit of speed means; and, when set, the level below which each
// battery counts as low.
//
// The built-in profile is the main window's slider table and limits nothing else: with it the
// single-servo window, scripts and the command line may send any byte. A profile of the
// operator's own (read from a file, or saved) limits every move.
//
// The file is JSON, versioned:
//   {"format": "Orvik robot profile", "version": 1, "safeSpeed": 5, "degreesPerSecond": 4,
//    "lowBattery": [6.5, 0],
//    "servos": [{"number": 18, "name": "Right eyebrow", "low": 10, "high": 60, "home": 45}, ...]}
// every servo of the robot listed once. "lowBattery" gives volts for batteries 1 and 2, to the
// tenth, 0 for a battery not watched; it is written only when a level is set, so that a profile
// without one reads as before. A file with anything wrong is refused whole.
class Robot_Profile
{
public:
    static constexpr int Version = 1;
    static constexpr int ServoCount = int(Servos::All.size());
    static constexpr int DefaultSafeSpeed = 5;
    static constexpr double DefaultDegreesPerSecond = 4;
    static constexpr double MaxDegreesPerSecond = 1000;
    static constexpr int MaxNameLength = 40;
    static constexpr qint64 MaxFileSize = 64 * 1024;
    static constexpr int BatteryCount = 2;
    static constexpr int MaxLowBatteryTenths = 255;

    struct Servo
    {
        QString name;
        int low = 0;
        int high = 255;
        int home = 0;
        bool operator==(const Servo &) const = default;
    };

    // Today's table; limits() is false.
    static Robot_Profile builtIn();

    // Reads a profile file's bytes; nothing when anything is wrong, and why names the line or key.
    static std::optional<Robot_Profile> parse(QByteArrayView bytes, QString *why = nullptr);
    QByteArray toJson() const;
    static std::optional<Robot_Profile> load(const QString &fileName, QString *why = nullptr);
    // Written atomically: a save that fails leaves the old file whole.
    bool save(const QString &fileName, QString *why = nullptr) const;

    // False for the built-in profile: it shapes the sliders and nothing else.
    bool limits() const { return m_limits; }
    void setLimits(bool limits) { m_limits = limits; }

    // Indexed as Servos::All.
    const Servo &servo(int index) const { return m_servos[size_t(index)]; }
    void setServo(int index, const Servo &servo) { m_servos[size_t(index)] = servo; }
    int safeSpeed() const { return m_safeSpeed; }
    void setSafeSpeed(int speed) { m_safeSpeed = speed; }
    double degreesPerSecond() const { return m_degreesPerSecond; }
    void setDegreesPerSecond(double degrees) { m_degreesPerSecond = degrees; }
    // The level below which the battery (from 0) counts as low, in tenths of a volt; 0: not watched.
    int lowBatteryTenths(int battery) const { return m_lowBattery[size_t(battery)]; }
    void setLowBatteryTenths(int battery, int tenths) { m_lowBattery[size_t(battery)] = tenths; }
    bool watchesBatteries() const;

    // The index in Servos::All of the servo with the controller's number, or -1.
    static int indexOfNumber(int number);
    // The index of the servo in the body part's frame slot (1-based), or -1.
    static int indexOfSlot(const Frames::Kind &kind, int slot);

    // What is wrong with a servo's values, or "" (0 to 255, low <= home <= high, a name).
    static QString servoProblem(const Servo &servo);
    static QString safeSpeedProblem(int speed);
    static QString degreesProblem(double degrees);
    static QString lowBatteryProblem(int battery, int tenths);
    // The first problem of the whole profile, or "".
    QString problem() const;
    // The servo may go beyond the built-in range.
    bool widens(int index) const;

    // Why the position may not go to the servo with that controller number, or "" when it may.
    // A number not in the robot's list has no range.
    QString positionRefusal(int number, qint64 position) const;
    // The same for every position of a move's values (as a script holds them); "" when the
    // profile limits nothing or the values are not a move of that kind.
    QString moveRefusal(const Frames::Kind &kind, const QList<qint32> &values) const;

    bool operator==(const Robot_Profile &) const = default;

private:
    std::array<Servo, ServoCount> m_servos{};
    int m_safeSpeed = DefaultSafeSpeed;
    double m_degreesPerSecond = DefaultDegreesPerSecond;
    std::array<int, BatteryCount> m_lowBattery{};
    bool m_limits = false;
};
