#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "sim/LineWriter.h"

#include <memory>

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
// The robot never waits for its log (see LineWriter): lines the log cannot take at once wait
// in memory, up to MaxQueued bytes; beyond that they are dropped, and once the log has caught
// up a "dropped" line says how many were lost.
class FrameLog : public QObject
{
    Q_OBJECT

public:
    enum class Direction { Received, Sent };
    static constexpr qsizetype MaxQueued = 256 * 1024;

    // A log on standard output goes through the writer the command answers take, so that
    // the two never cut into each other's lines.
    explicit FrameLog(LineWriter &standardOutput, QObject *parent = nullptr);

    // "-" is standard output. Without a successful open nothing is logged.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_writer != nullptr; }

    void frame(Direction direction, const QByteArray &mnemonic, const QByteArray &data);
    void bad(const QByteArray &bytes);
    // A fault put on the line on purpose (see LineFaults); what is one word in lower case.
    void fault(const QString &what, const QByteArray &bytes);

    static qint64 nowMicroseconds();

signals:
    // The log file cannot be written, or cannot keep up; said once until it recovers.
    void problem(const QString &message);

private:
    void writeLine(const QByteArray &line);

    LineWriter &m_standardOutput;
    std::unique_ptr<LineWriter> m_file;
    LineWriter *m_writer = nullptr;
};
