#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <optional>

// The program's one serial port, offering the surface the windows rely on: choose a port
// number and a settings text, open and close, write whole frames, and read what arrives one
// byte at a time on the GUI thread.
//
// Port n is the device the environment variable ORVIK_COMn names (ORVIK_COM1=/dev/ttyUSB0), else
// the one the operator chose for it (Serial → Devices…), else /dev/ttyS(n-1). An operation that
// fails returns false and leaves a description naming the port and its device in errorDescription().
class Com : public QObject
{
    Q_OBJECT

public:
    enum InputModes { comInputModeText = 0, comInputModeBinary = 1 };

    // Line settings as the settings text spells them: "57600,n,8,1".
    struct LineSettings
    {
        qint32 baudRate = 9600;
        QSerialPort::Parity parity = QSerialPort::NoParity;
        QSerialPort::DataBits dataBits = QSerialPort::Data8;
        QSerialPort::StopBits stopBits = QSerialPort::OneStop;

        // Fields may carry blanks around them; parity is one of n, e, o, m, s in either case.
        static std::optional<LineSettings> parse(const QString &text, QString *why = nullptr);
        QString text() const;
    };

    explicit Com(QObject *parent = nullptr);
    ~Com() override;

    // The device port n opens, looked up each time it opens.
    static QString deviceFor(int port);
    static QString defaultDevice(int port); // /dev/ttyS(n-1)
    static QString environmentDevice(int port); // ORVIK_COMn, "" when unset
    // The operator's choice for port n, kept between runs in the application's QSettings;
    // "" when none. Choosing "" forgets it.
    static QString chosenDevice(int port);
    static void setChosenDevice(int port, const QString &device);

    short CommPort() const { return m_commPort; }
    bool setCommPort(int port); // refused while the port is open

    QString Settings() const { return m_settings.text(); } // without blanks
    bool setSettings(const QString &text);

    int InputLen() const { return m_inputLen; }
    bool setInputLen(int length); // 0 reads everything waiting
    int RThreshold() const { return m_rThreshold; }
    bool setRThreshold(int count); // 0 raises no receive notification
    int SThreshold() const { return m_sThreshold; }
    bool setSThreshold(int count);
    int InputMode() const { return m_inputMode; }
    bool setInputMode(int mode);

    bool PortOpen() const { return m_port.isOpen(); }
    bool setPortOpen(bool open);

    // Sends the bytes in order, unchanged, as one write. When the robot is not reading and what
    // already waits to be written fills about half a second of line time, the bytes are refused
    // whole (false, OutputStalled() true): the robot only ever gets whole frames.
    bool Output(QByteArrayView bytes);
    // True from a refused write until bytes go out again.
    bool OutputStalled() const { return m_outputStalled; }
    // Removes and returns the oldest InputLen waiting bytes (all of them when InputLen is 0).
    QByteArray Input();
    int InBufferCount() const;
    // Bytes accepted by Output that have not reached the device yet.
    qint64 OutBufferCount() const { return m_port.isOpen() ? m_port.bytesToWrite() : 0; }

    QString errorDescription() const { return m_error; }

    // Milliseconds since the port last opened, the time the traffic monitor shows.
    qint64 msSinceOpen() const { return m_openedAt.isValid() ? m_openedAt.elapsed() : 0; }

    // What may wait in the program to be written: about half a second of line time.
    qint64 writeBacklogLimit() const;
    // What is held of received bytes not yet taken with Input; more waits in the driver, and
    // a line that sends faster than the panel reads loses the excess there, as a serial line does.
    static constexpr qint64 ReadBufferLimit = 4096;

signals:
    // Raised on the GUI thread while at least RThreshold received bytes wait, and again after
    // a handler that read some of them, as long as bytes remain.
    void OnComm();
    // OutputStalled() changed.
    void outputStalledChanged(bool stalled);
    // Output took these bytes (a refused write raises nothing); the traffic monitor and the
    // soak count frames through it.
    void written(const QByteArray &bytes);

private:
    bool fail(const QString &reason);
    void handlePortError(QSerialPort::SerialPortError error);
    void applyLineSettings(const LineSettings &settings);
    void notifyLater();
    void notify();
    void setOutputStalled(bool stalled);
    bool lineTakesBytes() const;

    QSerialPort m_port{this};
    short m_commPort = 1;
    LineSettings m_settings;
    int m_inputLen = 0;
    int m_rThreshold = 0;
    int m_sThreshold = 0;
    int m_inputMode = comInputModeText;
    bool m_notifyQueued = false;
    bool m_outputStalled = false;
    QString m_error;
    QElapsedTimer m_openedAt;
};
