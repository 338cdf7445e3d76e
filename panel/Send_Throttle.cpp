#include "panel/Send_Throttle.h"

#include <QTimer>

namespace {
// A timer's milliseconds, rounded up: one that ends early only runs again.
int timerMs(qint64 nanoseconds)
{
    return int((nanoseconds + 999'999) / 1'000'000);
}
} // namespace

Send_Throttle::Send_Throttle(int keys, Send send, QObject *parent)
    : QObject(parent)
    , m_keys(size_t(keys))
    , m_send(std::move(send))
{
    m_elapsed.start();
    m_clock = [this] { return m_elapsed.nsecsElapsed(); };
    for (int key = 0; key < keys; ++key) {
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, key] { intervalEnded(key); });
        m_keys[size_t(key)].timer = timer;
    }
}

void Send_Throttle::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

void Send_Throttle::changed(int key)
{
    Key &k = m_keys[size_t(key)];
    if (k.waiting)
        return; // the send at the end of the interval takes the latest values
    const qint64 since = m_clock() - k.sentAt;
    if (!k.sent || since >= Interval) {
        sendNow(key);
        return;
    }
    k.waiting = true;
    k.timer->start(timerMs(Interval - since));
}

void Send_Throttle::intervalEnded(int key)
{
    Key &k = m_keys[size_t(key)];
    if (!k.waiting)
        return;
    const qint64 left = Interval - (m_clock() - k.sentAt);
    if (left > 0) {
        // A timer may run a little early; the interval is the clock's, not the timer's.
        k.timer->start(timerMs(left));
        return;
    }
    k.waiting = false;
    sendNow(key);
}

void Send_Throttle::stop()
{
    for (Key &k : m_keys) {
        k.timer->stop();
        k.waiting = false;
        k.sent = false;
    }
}

void Send_Throttle::sendNow(int key)
{
    Key &k = m_keys[size_t(key)];
    k.sent = true;
    k.sentAt = m_clock();
    m_send(key);
}
