#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

// The controller's end of the serial line: the master side of a pseudo-terminal in raw mode,
// whose slave device the panel opens as its serial port, reachable also through a symbolic
// link at a fixed path.
//
// The simulator keeps the slave open itself: otherwise every time the panel closes its port
// the master reads a hang-up, and keeps reading it, until someone opens the device again.
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
    void readAvailable();
    void writePending();
    void close();

    int m_master = -1;
    int m_slave = -1;
    QString m_device;
    QString m_link;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer *m_retry = nullptr;
    QByteArray m_outgoing;
    bool m_reading = true;
};
