#pragma once

#include <QtGlobal>

// How many of the panel's bytes the robot may take, at the pace of a serial line: ten bits
// a byte (start bit, eight data bits, stop bit), so 57600 baud carries 5760 bytes a second.
// A token bucket: credit builds up with time at the line's rate, reading spends it. While
// the line is idle at most Burst of line time builds up, so after a pause the robot takes
// a short burst at once and then keeps to the rate again.
class LinePace
{
public:
    static constexpr int BitsPerByte = 10;
    static constexpr qint64 Burst = 50'000'000; // ns of line time kept while idle
    static constexpr qint64 Tick = 10'000'000;  // ns of line time a pause waits for at least

    // The speed of the line in baud; 0 takes everything at once. Credit already earned is
    // kept (in bits), so a change of speed applies from now on.
    void setBaud(int baud);
    int baud() const { return m_baud; }
    // A new line: the bucket starts full at the next reading.
    void reset() { m_started = false; }

    // Whole bytes that may be read at nowNs (any monotonic clock in nanoseconds).
    qint64 allowance(qint64 nowNs);
    void take(qint64 bytes);
    // Nanoseconds from nowNs until a pause is worth ending: at least one byte, and a tick's
    // worth of bytes, may be read again.
    qint64 pause(qint64 nowNs);

    // The baud rate the terminal settings of a pseudo-terminal or serial device give
    // (its output speed, else its input speed); -1 when they cannot be read.
    static int baudOf(int fd);

private:
    // Credit is counted in bit-nanoseconds: baud x ns. One byte costs BitsPerByte x 1e9.
    static constexpr qint64 ByteCost = qint64(BitsPerByte) * 1'000'000'000;

    void earn(qint64 nowNs);
    qint64 ceiling() const;

    int m_baud = 0;
    bool m_started = false;
    qint64 m_credit = 0;
    qint64 m_lastNs = 0;
};
