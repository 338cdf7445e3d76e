#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>

// One JSON object per line for every frame the simulator receives or sends, flushed as it
// is written, so that tests and benchmarks can follow the traffic while it happens:
//
//   {"t_us":123456,"dir":"rx","mnemonic":"meb","data":[45,0,45,10]}
//   {"t_us":123789,"dir":"tx","mnemonic":"gbv","data":[72,73]}
//   {"t_us":124000,"dir":"rx","bad":[1,2]}
//
// t_us is the system's monotonic clock (CLOCK_MONOTONIC) in microseconds, the same clock
// another process on the machine reads, so a benchmark can set its own times beside these.
class FrameLog
{
public:
    enum class Direction { Received, Sent };

    FrameLog() = default;
    ~FrameLog();
    FrameLog(const FrameLog &) = delete;
    FrameLog &operator=(const FrameLog &) = delete;

    // "-" is standard output. Without a successful open nothing is logged.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_file != nullptr; }

    void frame(Direction direction, const QByteArray &mnemonic, const QByteArray &data);
    void bad(const QByteArray &bytes);

    static qint64 nowMicroseconds();

private:
    void writeLine(const QByteArray &line);

    std::FILE *m_file = nullptr;
    bool m_ownsFile = false;
};
