#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <vector>

class QTimer;

// Lets at most one send per key (a body part) through every Interval ms. The first change after
// a quiet spell is sent at once; changes within the interval are gathered, and when it ends one
// send goes out with whatever is then current, so the last position always reaches the robot.
class Send_Throttle : public QObject
{
    Q_OBJECT

public:
    // 50 ms, counted in nanoseconds: a clock of whole milliseconds lets gaps of 49 ms through.
    static constexpr qint64 Interval = 50'000'000;
    using Clock = std::function<qint64()>; // nanoseconds, never going back
    using Send = std::function<void(int key)>;

    Send_Throttle(int keys, Send send, QObject *parent = nullptr);

    // Tests drive the clock themselves; the default one is the monotonic clock.
    void setClock(Clock clock);

    void changed(int key);
    // Drops whatever waits; the next change is sent at once.
    void stop();
    // The end of key's interval, run by its timer: sends what waits.
    void intervalEnded(int key);
    bool waiting(int key) const { return m_keys[size_t(key)].waiting; }

private:
    struct Key
    {
        QTimer *timer = nullptr;
        qint64 sentAt = 0;
        bool sent = false;
        bool waiting = false;
    };

    void sendNow(int key);

    std::vector<Key> m_keys;
    Send m_send;
    QElapsedTimer m_elapsed;
    Clock m_clock;
};
