#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "sim/LinePace.h"

#include <optional>

class QSocketNotifier;
class QTimer;

// The controller's end of the serial line: the master side of a pseudo-terminal in raw mode,
// whose slave device the panel opens as its serial port, reachable also through a symbolic
// link at a fixed path.
//
// The simulator keeps the slave open itself: otherwise every time the panel closes its port
// the master reads a hang-up, and keeps reading it, until someone opens the device again.
//
// It reads the panel's bytes no faster than the line's speed carries them (see LinePace):
// the speed the panel set on its end, read again as the panel changes it, unless a fixed one
// is given. What it does not read yet stays in the kernel, so a panel that writes faster
// than the line carries backs up as on a real line.
class VirtualPort : public QObject
{
    Q_OBJECT

public:
    static constexpr int RetryInterval = 200;          // ms before reading again after an error
    static constexpr qsizetype MaxQueued = 64 * 1024;  // bytes kept while nobody reads the line

    explicit VirtualPort(QObject *parent = nullptr);
    ~VirtualPort() override; // closes the device and removes the link, if it is still ours

    bool open(QString *error);
    // Points a symbolic link at the device, replacing an earlier link (a stale one left by a
    // simulator that was killed) but never a file or folder.
    bool createLink(const QString &path, QString *error);
    void removeLink();

    QString device() const { return m_device; }
    QString linkPath() const { return m_link; }

    void write(const QByteArray &bytes);

    // A fixed speed in baud (0: as fast as the pseudo-terminal delivers), or none to follow
    // the speed the panel sets.
    void setFixedBaud(std::optional<int> baud);
    std::optional<int> fixedBaud() const { return m_fixedBaud; }
    // The speed the robot reads at now: the fixed one, else the line's.
    int baud() const;

    // Stops reading what the panel sends, so that its writes back up, or reads again.
    void setReading(bool reading);
    // Closes the device, as a cable pulled out: the panel's port fails at once. The link is
    // removed, so that nobody opens whatever takes the device's name next. Returns how many
    // bytes sent were left unread by the panel.
    qint64 hangUp();
    // A new device behind the same link, as an adapter plugged in again.
    bool comeBack(QString *error);
    bool isUp() const { return m_master >= 0; }

signals:
    void received(const QByteArray &bytes);
    // Something went wrong on the line; the port goes on serving.
    void problem(const QString &message);

private:
    enum class Pace { Keep, Ignore };
    void readAvailable(Pace pace = Pace::Keep);
    void writePending();
    void close();
    // Listens for the panel's bytes only while reading, not resting after an error, and not
    // waiting for the line's pace.
    void updateReading();

    int m_master = -1;
    int m_slave = -1;
    QString m_device;
    QString m_link;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer *m_retry = nullptr;
    QTimer *m_paceTimer = nullptr; // the end of a pause for the line's pace
    LinePace m_pace;
    std::optional<int> m_fixedBaud;
    int m_lineBaud = 0; // the last speed read from the line
    QByteArray m_outgoing;
    bool m_reading = true;
};
