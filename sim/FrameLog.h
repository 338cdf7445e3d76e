#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>

class QSocketNotifier;

// One JSON object per line for every frame the simulator receives or sends, written as it
// happens, so that tests and benchmarks can follow the traffic while it happens:
//
//   {"t_us":123456,"dir":"rx","mnemonic":"meb","data":[45,0,45,10]}
//   {"t_us":123789,"dir":"tx","mnemonic":"gbv","data":[72,73]}
//   {"t_us":124000,"dir":"rx","bad":[1,2]}
//   {"t_us":125000,"dropped":17}
//   {"t_us":126000,"fault":"garbage","bytes":[3,250,103]}
//
// t_us is the system's monotonic clock (CLOCK_MONOTONIC) in microseconds, the same clock
// another process on the machine reads, so a benchmark can set its own times beside these.
//
// The robot never waits for its log: lines the log cannot take at once (a pipe nobody reads,
// a full disk) wait in memory, up to MaxQueued bytes; beyond that they are dropped, and once
// the log has caught up a "dropped" line says how many were lost.
class FrameLog : public QObject
{
    Q_OBJECT

public:
    enum class Direction { Received, Sent };
    static constexpr qsizetype MaxQueued = 256 * 1024;

    explicit FrameLog(QObject *parent = nullptr);
    ~FrameLog() override; // writes what the log takes at once; the rest is lost

    // "-" is standard output. Without a successful open nothing is logged.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_fd >= 0; }

    void frame(Direction direction, const QByteArray &mnemonic, const QByteArray &data);
    void bad(const QByteArray &bytes);
    // A fault put on the line on purpose (see LineFaults); what is one word in lower case.
    void fault(const QString &what, const QByteArray &bytes);

    static qint64 nowMicroseconds();

signals:
    // The log cannot be written, or cannot keep up; said once until it recovers.
    void problem(const QString &message);

private:
    void writeLine(const QByteArray &line);
    void flush();

    int m_fd = -1;
    bool m_ownsFd = false;
    QString m_name;
    std::deque<QByteArray> m_queue;
    qsizetype m_queuedBytes = 0;
    qsizetype m_headWritten = 0; // bytes of the first queued line already written
    qint64 m_dropped = 0;
    bool m_failing = false;
    QSocketNotifier *m_writable = nullptr;
};
