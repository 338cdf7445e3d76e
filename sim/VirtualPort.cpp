#include "sim/VirtualPort.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

VirtualPort::VirtualPort(QObject *parent)
    : QObject(parent)
{
}

VirtualPort::~VirtualPort()
{
    removeLink();
    close();
}

void VirtualPort::close()
{
    delete m_readNotifier;
    delete m_writeNotifier;
    delete m_retry;
    delete m_paceTimer;
    m_readNotifier = m_writeNotifier = nullptr;
    m_retry = m_paceTimer = nullptr;
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
    m_outgoing.clear();
}

bool VirtualPort::open(QString *error)
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        if (error)
            *error = QStringLiteral("cannot open a pseudo-terminal: %1").arg(systemError());
        m_master = m_slave = -1;
        return false;
    }
    // Every byte value must pass unchanged: no echo, no line editing, no CR/LF translation.
    termios raw{};
    tcgetattr(m_slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slave, TCSANOW, &raw);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_device = QString::fromLocal8Bit(name);

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { readAvailable(); });
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &VirtualPort::writePending);
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    m_retry->setInterval(RetryInterval);
    connect(m_retry, &QTimer::timeout, this, &VirtualPort::updateReading);
    m_paceTimer = new QTimer(this);
    m_paceTimer->setSingleShot(true);
    connect(m_paceTimer, &QTimer::timeout, this, &VirtualPort::updateReading);
    m_pace.reset();
    m_lineBaud = std::max(LinePace::baudOf(m_master), 0);
    updateReading();
    return true;
}

void VirtualPort::setReading(bool reading)
{
    m_reading = reading;
    updateReading();
}

void VirtualPort::updateReading()
{
    if (m_readNotifier)
        m_readNotifier->setEnabled(m_reading && !m_retry->isActive() && !m_paceTimer->isActive());
}

void VirtualPort::setFixedBaud(std::optional<int> baud)
{
    m_fixedBaud = baud;
}

int VirtualPort::baud() const
{
    if (m_fixedBaud)
        return *m_fixedBaud;
    // The master reads the settings the panel made on its end. A speed of 0 is a modem's
    // "hang up", not a speed: the last real one stays.
    const int line = m_master >= 0 ? LinePace::baudOf(m_master) : -1;
    return line > 0 ? line : m_lineBaud;
}

qint64 VirtualPort::hangUp()
{
    if (m_master < 0)
        return 0;
    // What the panel wrote before the line went is the robot's to read, even while it was not
    // reading and beyond the line's pace; what the panel had not read of ours is lost with the
    // device.
    readAvailable(Pace::Ignore);
    int unread = 0;
    if (::ioctl(m_slave, FIONREAD, &unread) != 0)
        unread = 0;
    const qint64 lost = unread + m_outgoing.size();
    const QString link = m_link;
    removeLink();
    m_link = link;
    close();
    return lost;
}

bool VirtualPort::comeBack(QString *error)
{
    if (m_master >= 0)
        return true;
    const QString link = m_link;
    m_link.clear();
    if (open(error) && (link.isEmpty() || createLink(link, error)))
        return true;
    // Kept for the next try.
    m_link = link;
    close();
    return false;
}

bool VirtualPort::createLink(const QString &path, QString *error)
{
    const QByteArray link = QFile::encodeName(path);
    struct stat existing{};
    if (::lstat(link.constData(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        if (error)
            *error = QStringLiteral("\"%1\" exists and is not a symbolic link; not replacing it").arg(path);
        return false;
    }
    // Made under a temporary name and renamed over the old link, so the path never points
    // nowhere while a second simulator takes it over.
    const QByteArray temporary = link + ".new" + QByteArray::number(::getpid());
    ::unlink(temporary.constData());
    if (::symlink(QFile::encodeName(m_device).constData(), temporary.constData()) != 0 ||
        ::rename(temporary.constData(), link.constData()) != 0) {
        if (error)
            *error = QStringLiteral("cannot make the link \"%1\": %2").arg(path, systemError());
        ::unlink(temporary.constData());
        return false;
    }
    m_link = path;
    return true;
}

void VirtualPort::removeLink()
{
    if (m_link.isEmpty())
        return;
    // Another simulator may have taken the path over since; its link stays.
    const QByteArray link = QFile::encodeName(m_link);
    char target[4096];
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    if (n > 0 && QByteArray(target, n) == QFile::encodeName(m_device))
        ::unlink(link.constData());
    m_link.clear();
}

void VirtualPort::readAvailable(Pace pace)
{
    char buffer[4096];
    for (;;) {
        qint64 wanted = qint64(sizeof buffer);
        if (pace == Pace::Keep) {
            const int speed = baud();
            if (!m_fixedBaud)
                m_lineBaud = speed;
            m_pace.setBaud(speed);
            const qint64 now = nowNs();
            wanted = std::min(wanted, m_pace.allowance(now));
            if (wanted == 0) {
                // The rest waits in the kernel until the line would have carried it.
                m_paceTimer->start(int(std::max<qint64>((m_pace.pause(now) + 999'999) / 1'000'000, 1)));
                updateReading();
                return;
            }
        }
        const ssize_t n = ::read(m_master, buffer, size_t(wanted));
        if (n > 0) {
            m_pace.take(n);
            emit received(QByteArray(buffer, n));
            if (m_master < 0)
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // A hang-up or an error repeats on every read until the slave side changes: rest a
        // moment instead of spinning, then serve again.
        emit problem(n == 0 ? QStringLiteral("the line hung up") : QStringLiteral("reading the line: %1").arg(systemError()));
        m_readNotifier->setEnabled(false);
        m_retry->start();
        return;
    }
}

void VirtualPort::write(const QByteArray &bytes)
{
    if (m_master < 0)
        return;
    m_outgoing.append(bytes);
    if (m_outgoing.size() > MaxQueued) {
        // Nobody has read the line for a long while; the oldest replies are worth nothing now.
        emit problem(QStringLiteral("nobody reads the line; %1 old bytes dropped").arg(m_outgoing.size() - MaxQueued));
        m_outgoing.remove(0, m_outgoing.size() - MaxQueued);
    }
    writePending();
}

void VirtualPort::writePending()
{
    while (!m_outgoing.isEmpty()) {
        const ssize_t n = ::write(m_master, m_outgoing.constData(), size_t(m_outgoing.size()));
        if (n > 0) {
            m_outgoing.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            emit problem(QStringLiteral("writing the line: %1").arg(systemError()));
            m_outgoing.clear();
        }
        break;
    }
    m_writeNotifier->setEnabled(!m_outgoing.isEmpty());
}
