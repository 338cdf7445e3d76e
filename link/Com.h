#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <deque>
#include <functional>
#include <optional>

class QSocketNotifier;

// The program's one serial port, offering the surface the windows rely on: choose a port
// number and a settings text, open and close, write whole frames, and read what arrives one
// byte at a time on the GUI thread.
//
// Port n is the device the environment variable ORVIK_COMn names (ORVIK_COM1=/dev/ttyUSB0), else
// the one the operator chose for it (Serial → Devices…), else /dev/ttyS(n-1). An operation that
// fails returns false and leaves a description naming the port and its device in errorDescription().
//
// A frame counts as sent when its bytes left the program for the device. Until then it waits in
// the port's own queue; a frame that waits is either written later, whole and in order, or
// counted in notSent(): none is dropped without a word.
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
    // Where a device name leads: a name with a '/' in it, or one that exists in the current
    // folder, is a path from the current folder; another bare name is looked up under /dev;
    // a "scheme://" name is left as it is.
    static QString devicePath(const QString &name);

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
    // Closing first lets what waits go out for up to writeOutMs() and the driver empty its own
    // buffer; frames still waiting then are counted in notSent(). Another device's program may
    // not hold the same device: a second open of it, by whatever path, is refused.
    bool setPortOpen(bool open);

    // Takes the bytes as one frame, written in order and unchanged. When the robot is not reading
    // and what already waits fills about half a second of line time, the frame is refused whole
    // (false, OutputStalled() true): the robot only ever gets whole frames.
    bool Output(QByteArrayView bytes);
    // True from a refused write until bytes go out again.
    bool OutputStalled() const { return m_outputStalled; }
    // Removes and returns the oldest InputLen waiting bytes (all of them when InputLen is 0).
    QByteArray Input();
    int InBufferCount() const;
    // Bytes accepted by Output that have not left the program yet.
    qint64 OutBufferCount() const { return m_queuedBytes; }
    // Frames accepted by Output that have not wholly left the program yet.
    int queuedFrames() const { return int(m_queue.size()); }
    // Waits, without running the event loop, until every queued frame left the program or msecs
    // passed; true when nothing waits. written() is raised for each frame as it leaves.
    bool writeOut(int msecs);
    // Drops the queued frames that have not started to leave (a frame partly written is finished
    // first, for at most writeOutMs()) and returns how many were dropped; raises nothing.
    int discardQueued();
    // Drops the queued frames that have not started to leave, at once, and returns how many;
    // a frame partly written stays queued and finishes when the line takes bytes (Stop All:
    // the window must not block, and the robot must not get a cut frame).
    int discardWaiting();
    // Rewrites each frame Output takes, before it is queued (the window's gentle first moves);
    // a frame refused whole never passes through it. None by default.
    using FrameFilter = std::function<QByteArray(QByteArrayView frame)>;
    void setFrameFilter(FrameFilter filter) { m_frameFilter = std::move(filter); }

    QString errorDescription() const { return m_error; }

    // What may wait in the program to be written: about half a second of line time.
    qint64 writeBacklogLimit() const;
    // The line time of writeBacklogLimit() bytes.
    int writeOutMs() const;
    // What is held of received bytes not yet taken with Input; more waits in the driver, and
    // a line that sends faster than the panel reads loses the excess there, as a serial line does.
    static constexpr qint64 ReadBufferLimit = 4096;

signals:
    // Raised on the GUI thread while at least RThreshold received bytes wait, and again after
    // a handler that read some of them, as long as bytes remain.
    void OnComm();
    // OutputStalled() changed.
    void outputStalledChanged(bool stalled);
    // A frame taken by Output has wholly left the program for the device; raised once per frame,
    // in order. The traffic monitor and the command line count frames through it.
    void written(const QByteArray &bytes);
    // Frames taken by Output were dropped unwritten: the port closed while the robot was not
    // reading, or the line went away. Raised once for each such close.
    void notSent(int frames, const QString &reason);

private:
    bool fail(const QString &reason);
    void handlePortError(QSerialPort::SerialPortError error);
    void applyLineSettings(const LineSettings &settings);
    void notifyLater();
    void notify();
    void setOutputStalled(bool stalled);
    // Writes what the device takes now, without waiting.
    void pump();
    bool waitForLine(int msecs) const;
    void waitForDriver();
    enum class LineState { Working, Gone };
    void closePort(LineState line);
    bool lockDevice();

    QSerialPort m_port{this};
    QSocketNotifier *m_writable = nullptr;
    std::deque<QByteArray> m_queue; // frames accepted and not yet wholly written, oldest first
    qsizetype m_headWritten = 0; // bytes of the oldest frame already written
    qint64 m_queuedBytes = 0;
    bool m_pumping = false;
    bool m_closing = false;
    short m_commPort = 1;
    LineSettings m_settings;
    int m_inputLen = 0;
    int m_rThreshold = 0;
    int m_sThreshold = 0;
    int m_inputMode = comInputModeText;
    bool m_notifyQueued = false;
    bool m_outputStalled = false;
    QString m_error;
    FrameFilter m_frameFilter;
};
