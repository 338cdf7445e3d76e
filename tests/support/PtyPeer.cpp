#include "support/PtyPeer.h"

#include <algorithm>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    termios raw{};
    tcgetattr(m_slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slave, TCSANOW, &raw);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_device = QString::fromLocal8Bit(name);
}

PtyPeer::~PtyPeer()
{
    hangUp();
    if (m_slave >= 0)
        ::close(m_slave);
}

QByteArray PtyPeer::readAvailable()
{
    QByteArray bytes;
    if (m_master < 0)
        return bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    return bytes;
}

QByteArray PtyPeer::readAtMost(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    const ssize_t n = m_master < 0 ? -1 : ::read(m_master, bytes.data(), size_t(count));
    bytes.resize(std::max<qsizetype>(n, 0));
    return bytes;
}

QByteArray PtyPeer::read(int count, int timeoutMs)
{
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    while (bytes.size() < count && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{m_master, POLLIN, 0};
        ::poll(&p, 1, 5);
        bytes += readAvailable();
    }
    return bytes;
}

bool PtyPeer::write(QByteArrayView bytes)
{
    qsizetype done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0)
            return false;
        done += n;
    }
    return done == bytes.size();
}

qsizetype PtyPeer::offer(QByteArrayView bytes)
{
    if (m_master < 0)
        return 0;
    const ssize_t n = ::write(m_master, bytes.data(), size_t(bytes.size()));
    return n < 0 ? 0 : n;
}

QByteArray PtyPeer::drain(int quietMs)
{
    QByteArray bytes;
    for (;;) {
        const QByteArray more = read(1, quietMs);
        if (more.isEmpty())
            return bytes;
        bytes += more;
    }
}

int PtyPeer::baudRate() const
{
    // The master reads the terminal's settings as the device's holder set them.
    termios line{};
    if (m_master < 0 || tcgetattr(m_master, &line) != 0)
        return 0;
    static constexpr struct { speed_t code; int baud; } Speeds[] = {
        {B110, 110}, {B300, 300}, {B600, 600}, {B1200, 1200}, {B2400, 2400}, {B4800, 4800},
        {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    for (const auto &s : Speeds)
        if (cfgetospeed(&line) == s.code)
            return s.baud;
    return 0;
}

void PtyPeer::hangUp()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}
