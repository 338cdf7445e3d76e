#pragma once

#include "link/Line.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <vector>

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
//
// The line has a thread of its own, with its own event loop, so that the window's work (a
// repaint, a long list) never holds up a frame or a reply: the device and the queue of frames
// live there, in a Line. Which thread touches what:
// - the window's thread (where Com lives): the settings members, the received bytes waiting
//   for Input and their notification, and every signal Com raises;
// - the line's thread: m_line and what it owns (the device, the queue of frames), and the
//   objects handed to adopt() (a playing script's steps);
// - either thread: Output, PortOpen, OutputStalled, OutBufferCount, queuedFrames and
//   errorDescription, through m_shared's atomics and m_errorLock.
// What the window's thread asks of the device (open, close, settings, writeOut,
// discardQueued) runs on the line's thread while the window's thread waits for it.
class Com : public QObject
{
    Q_OBJECT

public:
    enum InputModes { comInputModeText = 0, comInputModeBinary = 1 };

    using LineSettings = Line_Settings;

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

    // On Com's own thread, as far as the line's news has reached it.
    bool PortOpen() const { return QThread::currentThread() == thread() ? m_open : m_shared.open.load(); }
    // Closing first lets what waits go out for up to writeOutMs() and the driver empty its own
    // buffer; frames still waiting then are counted in notSent(). Another device's program may
    // not hold the same device: a second open of it, by whatever path, is refused.
    bool setPortOpen(bool open);
    // Opening a network device waits for its server, up to 5 seconds. beginOpen() starts
    // opening and returns at once (false when it cannot start: opening already, or open);
    // openFinished() says how it ended, errorDescription() why not. cancelOpen() gives up.
    bool beginOpen();
    void cancelOpen();
    bool opening() const { return m_opening; }

    // Takes the bytes as one frame, written in order and unchanged. When the robot is not reading
    // and what already waits fills about half a second of line time, the frame is refused whole
    // (false, OutputStalled() true): the robot only ever gets whole frames.
    bool Output(QByteArrayView bytes);
    // True from a refused write until bytes go out again.
    bool OutputStalled() const { return m_shared.stalled; }
    // Removes and returns the oldest InputLen waiting bytes (all of them when InputLen is 0).
    QByteArray Input();
    int InBufferCount() const;
    // Bytes accepted by Output that have not left the program yet.
    qint64 OutBufferCount() const { return m_shared.queuedBytes; }
    // Frames accepted by Output that have not wholly left the program yet.
    int queuedFrames() const { return m_shared.queuedFrames; }
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
    // Rewrites each frame Output takes, on the line's thread as it is queued (the window's
    // gentle first moves); a frame refused whole never passes through it. None by default.
    using FrameFilter = Line::FrameFilter;
    void setFrameFilter(FrameFilter filter);

    QString errorDescription() const;

    // Moves worker (which has no parent) onto the line's thread, where its timers fire and its
    // slots run; Com deletes it there when Com goes, if its owner did not delete it before.
    void adopt(QObject *worker);
    // Runs f on the line's thread and returns when it ran.
    void runOnLine(const std::function<void()> &f);

    // What may wait in the program to be written: about half a second of line time.
    qint64 writeBacklogLimit() const;
    // The line time of writeBacklogLimit() bytes.
    int writeOutMs() const;
    // What is held of received bytes not yet taken with Input; more waits in the driver, and
    // a line that sends faster than the panel reads loses the excess there, as a serial line does.
    static constexpr qint64 ReadBufferLimit = Line::ReadBufferLimit;

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
    // What beginOpen() started has ended: the port is open, or not.
    void openFinished(bool open);

private:
    bool fail(const QString &reason);
    void notifyLater();
    void notify();
    // Raises outputStalledChanged when the stall changed since it was last raised.
    void showStalled();
    void received(const QByteArray &bytes, quint64 epoch);
    void lineGone(const QString &reason, quint64 epoch);
    void finishOpen(bool opened, const QString &why, quint64 epoch);
    void markOpen(quint64 epoch);
    // Raises on this thread what the line raised during a call that waited for it.
    void deliverLineNews();
    bool onLineThread() const { return QThread::currentThread() == &m_thread; }
    template <class F>
    auto onLine(F f);

    // Either thread.
    Line::Shared m_shared;
    std::atomic<bool> m_closing{false};
    mutable QMutex m_errorLock;
    QString m_error;
    std::atomic<short> m_commPort{1};

    // The line's thread, and what runs there.
    QThread m_thread;
    Line *m_line = nullptr;
    std::vector<QPointer<QObject>> m_adopted; // kept by the window's thread

    // The window's thread.
    quint64 m_epoch = 0; // the opening the line's news must come from
    bool m_open = false;
    LineSettings m_settings;
    QByteArray m_input;
    int m_inputLen = 0;
    int m_rThreshold = 0;
    int m_sThreshold = 0;
    int m_inputMode = comInputModeText;
    bool m_notifyQueued = false;
    bool m_stalledShown = false;
    bool m_opening = false;
    bool m_openCancelled = false;
};
