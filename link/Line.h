#pragma once

#include "link/Line_Settings.h"
#include "link/Socket_Device.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>

class Line_Device;

// The line's side of Com: it lives on Com's line thread and every member function runs there.
// It owns the device and the queue of frames waiting to be written, writes them whole and in
// order, hands received bytes over to Com, and raises what happened as signals, which reach
// Com queued on the window's thread.
class Line : public QObject
{
    Q_OBJECT

public:
    // What the line keeps and either thread may read.
    struct Shared
    {
        std::atomic<bool> open{false};
        std::atomic<qint64> queuedBytes{0};
        std::atomic<int> queuedFrames{0};
        std::atomic<bool> stalled{false};
        std::atomic<qint64> backlogLimit{9600 / 10 / 2};
        // Received bytes handed to Com and not taken by Input yet, and whether the line
        // stopped reading because Com holds ReadBufferLimit of them.
        std::atomic<qint64> handedOver{0};
        std::atomic<bool> readHeldBack{false};
        // Gives up connecting to a network device, from the window's thread.
        Connect_Abort connectAbort;
    };

    // What is held of received bytes not yet taken by Com; more waits in the device and the
    // driver, and a line that sends faster than the panel reads loses the excess there.
    static constexpr qint64 ReadBufferLimit = 4096;

    explicit Line(Shared &shared);
    ~Line() override;

    // epoch numbers the opening, so that Com can tell what reaches it late from an earlier one.
    bool open(const QString &path, const Line_Settings &settings, quint64 epoch, QString *why);
    // Lets what waits go out for up to writeOutMs() and the driver empty its buffer first when
    // asked; returns the frames dropped unwritten.
    int close(bool writeOutFirst);
    bool applySettings(const Line_Settings &settings, QString *why);
    // Takes a frame whole, written at once as far as the device takes it, or refuses it whole
    // (false) when what waits would pass the bound, *waiting then holding the bytes that wait,
    // or when the line is gone, *waiting then -1.
    bool take(const QByteArray &frame, qint64 *waiting);
    bool writeOut(int msecs);
    int discardQueued();
    // Drops the frames that have not started to leave, at once; a frame partly written stays
    // and finishes when the device takes bytes. Returns the frames dropped.
    int discardWaiting();
    // Rewrites each frame taken, as it is queued (a frame refused never passes through it).
    using FrameFilter = std::function<QByteArray(QByteArrayView frame)>;
    void setFrameFilter(FrameFilter filter) { m_frameFilter = std::move(filter); }
    // Com took received bytes: read on if the line held back.
    void readMore();

signals:
    void received(const QByteArray &bytes, quint64 epoch);
    // A frame's last byte left the program; once per frame, in order.
    void written(const QByteArray &frame);
    // Bytes left after a frame was refused: Shared::stalled is false again.
    void stallChanged();
    // Frames taken were dropped unwritten: the line went away.
    void notSent(int frames, const QString &reason, quint64 epoch);
    // The line went away while open; the device is closed.
    void gone(const QString &reason, quint64 epoch);

private:
    void pump();
    // Drops what waits, counting it out; returns the frames dropped.
    int dropQueue();
    void lineGone(const QString &reason);
    void waitForDriver();
    void readReceived();
    int writeOutMs() const;

    Shared &m_shared;
    std::unique_ptr<Line_Device> m_device;
    quint64 m_epoch = 0;
    int m_baudRate = 9600;
    std::deque<QByteArray> m_queue; // frames taken and not yet wholly written, oldest first
    qsizetype m_headWritten = 0;    // bytes of the oldest frame already written
    bool m_pumping = false;
    FrameFilter m_frameFilter;
};
