#pragma once

#include "link/Sys_Project.h"

#include <QList>
#include <QLocale>
#include <QString>

#include <array>
#include <optional>

// The level below which each battery counts as low, in tenths of a volt (0: not watched), and
// the margin it must rise above that level by before a new fall warns again, so that a reading
// wavering around the level does not warn at every reply.
struct Battery_Thresholds
{
    static constexpr int DefaultMarginTenths = 2;

    std::array<int, 2> tenths{0, 0};
    int marginTenths = DefaultMarginTenths;

    // Where the program keeps them: the application's settings, off until the operator sets them.
    static Battery_Thresholds load();
    void save() const;

    // Volts as the operator gives them, to the nearest tenth; nothing for what is not 0 to 25.5.
    static std::optional<int> tenthsFromVolts(double volts);
};

// Battery voltages as text: 7.2 shows "7.2", 7.0 shows "7", in the given number format.
QString batteryVolts(int tenths, const QLocale &locale = QLocale::c());

// Something the robot reported that a playing script may have to stop for.
struct Sensor_Event
{
    enum Kind { WhiskerClosed, BatteryLow };

    Kind kind = WhiskerClosed;
    int number = 1;    // the whisker or battery, from 1
    quint8 tenths = 0; // a low battery's reading

    // "whisker 2 closed", "battery 1 low: 6.1 V"
    QString text(const QLocale &locale = QLocale::c()) const;
};

// Turns the replies into events: a whisker that closes, a battery that falls below its
// threshold (once per fall: not again until it has risen above the threshold plus the margin).
class Sensor_Watch
{
public:
    void setThresholds(const Battery_Thresholds &thresholds);
    const Battery_Thresholds &thresholds() const { return m_thresholds; }
    // Forgets the whiskers' state, as when the line is opened afresh.
    void reset();

    QList<Sensor_Event> take(const Sys_Project::Reply &reply);
    // Below its threshold at the last reading.
    bool isLow(int battery) const { return m_below[size_t(battery)]; }

private:
    Battery_Thresholds m_thresholds;
    std::array<bool, 2> m_below{};
    std::array<bool, 2> m_warned{}; // the fall was told; re-armed above the threshold plus the margin
    quint8 m_whiskers = 0;          // open until the controller says otherwise
};

// Which events pause a playing script: the operator's choice, kept between runs by the player.
struct Pause_Rule
{
    static constexpr quint8 AnyWhisker = 0x0F;

    quint8 whiskers = 0; // bit k: pause when whisker k + 1 closes
    bool onLowBattery = false;

    bool pausesOn(const Sensor_Event &event) const;
};
