#include "link/Line.h"

#include "link/Line_Device.h"

#include <QDeadlineTimer>
#include <QList>

#include <algorithm>

#include <poll.h>

namespace {
const QString LineClosed = QStringLiteral("the robot's line was closed");
}

Line::Line(Shared &shared)
    : m_shared(shared)
{
}

Line::~Line()
{
    if (m_device)
        m_device->close();
}

int Line::writeOutMs() const
{
    return int(m_shared.backlogLimit.load() * 10 * 1000 / m_baudRate);
}

bool Line::open(const QString &path, const Line_Settings &settings, quint64 epoch, QString *why)
{
    std::unique_ptr<Line_Device> device;
    if (Socket_Device::isNetworkName(path)) {
        const std::optional<Socket_Device::Address> address = Socket_Device::parse(path, why);
        if (!address)
            return false;
        device = std::make_unique<Socket_Device>(*address, &m_shared.connectAbort);
    } else {
        device = std::make_unique<Serial_Device>(path);
    }
    if (!device->open(settings, why))
        return false;
    m_device = std::move(device);
    m_epoch = epoch;
    m_baudRate = settings.baudRate;
    m_shared.handedOver = 0;
    m_shared.readHeldBack = false;
    connect(m_device.get(), &Line_Device::readable, this, &Line::readReceived);
    connect(m_device.get(), &Line_Device::writable, this, &Line::pump);
    connect(m_device.get(), &Line_Device::gone, this, &Line::lineGone);
    m_shared.open = true;
    return true;
}

bool Line::applySettings(const Line_Settings &settings, QString *why)
{
    if (!m_device)
        return true;
    if (!m_device->applySettings(settings, why))
        return false;
    m_baudRate = settings.baudRate;
    return true;
}

int Line::dropQueue()
{
    const int frames = int(m_queue.size());
    qint64 bytes = 0;
    for (const QByteArray &frame : m_queue)
        bytes += frame.size();
    m_queue.clear();
    m_shared.queuedBytes -= bytes - m_headWritten;
    m_shared.queuedFrames -= frames;
    m_headWritten = 0;
    return frames;
}

int Line::close(bool writeOutFirst)
{
    if (!m_device)
        return 0;
    if (writeOutFirst) {
        writeOut(writeOutMs());
        waitForDriver();
    }
    m_shared.open = false;
    const int lost = dropQueue();
    m_device->close();
    m_device.release()->deleteLater();
    m_shared.stalled = false;
    return lost;
}

void Line::lineGone(const QString &reason)
{
    if (!m_device)
        return;
    // The device may be the one whose signal led here: it goes at the next turn of the loop.
    m_device->close();
    m_shared.open = false;
    const int lost = dropQueue();
    m_device.release()->deleteLater();
    m_shared.stalled = false;
    // What was lost first: whoever learns that the line is gone knows it already.
    if (lost > 0)
        emit notSent(lost, LineClosed, m_epoch);
    emit gone(reason, m_epoch);
}

bool Line::take(const QByteArray &frame, qint64 *waiting)
{
    if (!m_device) {
        *waiting = -1;
        return false;
    }
    // A robot that stops reading must never get part of a frame: a frame cut short makes the
    // controller take the next frame's bytes as its data and move a servo nobody asked for.
    // So a frame is taken whole or refused whole, and what waits stays short enough to still
    // mean what the operator wanted when it arrives. One frame is always taken on an empty line.
    const qint64 queued = m_shared.queuedBytes;
    if (queued > 0 && queued + frame.size() > m_shared.backlogLimit) {
        m_shared.stalled = true; // Com tells the windows
        *waiting = queued;
        return false;
    }
    m_shared.queuedBytes += frame.size();
    m_shared.queuedFrames += 1;
    m_queue.push_back(m_frameFilter ? m_frameFilter(frame) : frame);
    pump();
    return true;
}

void Line::pump()
{
    if (m_pumping || !m_device)
        return;
    m_pumping = true;
    QList<QByteArray> left;
    bool failed = false;
    while (!m_queue.empty()) {
        const QByteArray &frame = m_queue.front();
        const qint64 n = m_device->write(frame.constData() + m_headWritten, frame.size() - m_headWritten);
        if (n <= 0) {
            failed = n < 0;
            break;
        }
        m_headWritten += n;
        m_shared.queuedBytes -= n;
        if (m_headWritten < frame.size())
            continue;
        left.append(frame);
        m_queue.pop_front();
        m_headWritten = 0;
        m_shared.queuedFrames -= 1;
    }
    m_device->setWritableNotice(!m_queue.empty() && !failed);
    m_pumping = false;

    if (!left.isEmpty()) {
        if (m_shared.stalled.exchange(false))
            emit stallChanged();
        for (const QByteArray &frame : std::as_const(left))
            emit written(frame);
    }
    if (failed)
        lineGone(LineClosed);
}

bool Line::writeOut(int msecs)
{
    const QDeadlineTimer deadline(msecs);
    while (m_device && !m_queue.empty()) {
        pump();
        if (m_queue.empty() || !m_device || deadline.hasExpired())
            break;
        m_device->waitWritable(int(std::min<qint64>(deadline.remainingTime(), 50)));
    }
    return m_queue.empty();
}

int Line::discardQueued()
{
    if (m_queue.empty())
        return 0;
    if (m_headWritten > 0) {
        // The robot has the start of this frame: the rest must follow, or it takes the next
        // frame's bytes as its data.
        const QDeadlineTimer deadline(writeOutMs());
        while (m_device && m_headWritten > 0 && !deadline.hasExpired()) {
            m_device->waitWritable(int(std::min<qint64>(deadline.remainingTime(), 50)));
            const QByteArray head = m_queue.front();
            const qint64 n = m_device->write(head.constData() + m_headWritten, head.size() - m_headWritten);
            if (n < 0)
                break;
            m_headWritten += n;
            m_shared.queuedBytes -= n;
            if (m_headWritten == head.size()) {
                m_queue.pop_front();
                m_headWritten = 0;
                m_shared.queuedFrames -= 1;
                emit written(head);
            }
        }
    }
    const int dropped = dropQueue();
    if (m_device)
        m_device->setWritableNotice(false);
    return dropped;
}

int Line::discardWaiting()
{
    std::deque<QByteArray> started;
    if (m_headWritten > 0) {
        started.push_back(std::move(m_queue.front()));
        m_queue.pop_front();
    }
    const int frames = int(m_queue.size());
    qint64 bytes = 0;
    for (const QByteArray &frame : m_queue)
        bytes += frame.size();
    m_queue = std::move(started);
    m_shared.queuedBytes -= bytes;
    m_shared.queuedFrames -= frames;
    if (m_device)
        m_device->setWritableNotice(!m_queue.empty());
    return frames;
}

void Line::waitForDriver()
{
    // Closing restores the line's old settings; bytes still in the driver would leave at the
    // wrong speed. A driver holds a few kilobytes at most: wait for their line time, bounded.
    qint64 inDriver = m_device->heldBelow();
    if (inDriver <= 0)
        return;
    const qint64 lineMs = inDriver * 10 * 1000 / m_baudRate + 100;
    const QDeadlineTimer deadline(std::min<qint64>(lineMs, 2000));
    while (!deadline.hasExpired() && m_device->heldBelow() > 0)
        ::poll(nullptr, 0, 5);
}

void Line::readReceived()
{
    // What Com holds stays within ReadBufferLimit; the rest waits in the device, and beyond
    // its own bound in the driver, until Com takes some and calls readMore.
    while (m_device) {
        if (m_shared.handedOver.load() >= Line::ReadBufferLimit) {
            m_shared.readHeldBack = true;
            // Com may have taken some between the look and the flag.
            if (m_shared.handedOver.load() >= Line::ReadBufferLimit || !m_shared.readHeldBack.exchange(false))
                return;
        }
        const QByteArray bytes = m_device->read(Line::ReadBufferLimit - m_shared.handedOver.load());
        if (bytes.isEmpty())
            return;
        m_shared.handedOver += bytes.size();
        emit received(bytes, m_epoch);
    }
}

void Line::readMore()
{
    readReceived();
}
