#include "sim/LinePace.h"

#include <algorithm>
#include <climits>

// The kernel's own terminal settings, whose speeds are plain numbers of baud (glibc's
// <termios.h> only knows the B* constants, and cannot be included beside this one).
#include <asm/termbits.h>
#include <sys/ioctl.h>

void LinePace::setBaud(int baud)
{
    m_baud = std::max(baud, 0);
    m_credit = std::min(m_credit, ceiling());
}

qint64 LinePace::ceiling() const
{
    return std::max(qint64(m_baud) * Burst, ByteCost);
}

void LinePace::earn(qint64 nowNs)
{
    if (!m_started) {
        m_started = true;
        m_credit = ceiling();
        m_lastNs = nowNs;
        return;
    }
    const qint64 elapsed = nowNs - m_lastNs;
    m_lastNs = nowNs;
    if (elapsed <= 0 || m_baud == 0)
        return;
    // No longer than it takes to fill the bucket from empty, so that the product stays small.
    const qint64 fill = ceiling() / m_baud + 1;
    m_credit = std::min(ceiling(), m_credit + qint64(m_baud) * std::min(elapsed, fill));
}

qint64 LinePace::allowance(qint64 nowNs)
{
    if (m_baud == 0)
        return LLONG_MAX;
    earn(nowNs);
    return std::max<qint64>(m_credit / ByteCost, 0);
}

void LinePace::take(qint64 bytes)
{
    if (m_baud > 0)
        m_credit -= bytes * ByteCost;
}

qint64 LinePace::pause(qint64 nowNs)
{
    if (m_baud == 0)
        return 0;
    earn(nowNs);
    const qint64 wanted = std::max(ByteCost, qint64(m_baud) * Tick);
    if (m_credit >= wanted)
        return 0;
    return (wanted - m_credit + m_baud - 1) / m_baud;
}

int LinePace::baudOf(int fd)
{
    termios2 settings{};
    if (::ioctl(fd, TCGETS2, &settings) != 0)
        return -1;
    const speed_t speed = settings.c_ospeed != 0 ? settings.c_ospeed : settings.c_ispeed;
    return int(std::min<speed_t>(speed, INT_MAX));
}
