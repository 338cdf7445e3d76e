#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// ser2net serving a serial device (a test's pseudo-terminal) on a free port of 127.0.0.1, run
// in the foreground with a configuration written here: raw TCP, or Telnet with RFC 2217.
// No banner, one client at a time, a new client taking the place of the old.
class Ser2Net
{
public:
    enum class Mode { Raw, Rfc2217 };

    // lineSettings in ser2net's spelling ("57600n81"): what the server sets the device to
    // when a client connects.
    Ser2Net(const QString &device, Mode mode, const QString &lineSettings = QStringLiteral("57600n81"));
    ~Ser2Net();
    Ser2Net(const Ser2Net &) = delete;
    Ser2Net &operator=(const Ser2Net &) = delete;

    // Starts the server and waits until it listens; false with errorString() when it does not.
    // Started again after stop() or kill(), it serves the same port.
    bool start();
    // Ends the server as a service manager would.
    void stop();
    // Ends it at once, in the middle of whatever it was doing.
    void kill();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    quint16 port() const { return m_port; }
    // The device name the program opens: tcp://127.0.0.1:PORT or rfc2217://127.0.0.1:PORT.
    QString url() const;
    QString errorString() const { return m_error; }

    static QString program(); // the ser2net executable, "" when it is not installed

private:
    bool listening() const;

    QString m_device;
    Mode m_mode;
    QString m_lineSettings;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
