#include "link/Socket_Device.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString ServerClosed = QStringLiteral("the server closed the connection");

QString systemError(int error)
{
    // A reset is the server gone as much as a close is; the operator needs what happened.
    if (error == ECONNRESET || error == EPIPE)
        return ServerClosed;
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

Connect_Abort::Connect_Abort()
    : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

Connect_Abort::~Connect_Abort()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void Connect_Abort::abort()
{
    const quint64 one = 1;
    if (m_fd >= 0)
        (void)!::write(m_fd, &one, sizeof one);
}

void Connect_Abort::reset()
{
    quint64 count = 0;
    if (m_fd >= 0)
        (void)!::read(m_fd, &count, sizeof count);
}

QString Socket_Device::Address::hostAndPort() const
{
    return (host.contains(u':') ? u'[' + host + u']' : host) + u':' + QString::number(port);
}

bool Socket_Device::isNetworkName(const QString &name)
{
    return name.startsWith(u"tcp://", Qt::CaseInsensitive) || name.startsWith(u"rfc2217://", Qt::CaseInsensitive);
}

std::optional<Socket_Device::Address> Socket_Device::parse(const QString &name, QString *why)
{
    static const QRegularExpression form(QStringLiteral(R"(^(tcp|rfc2217)://(?:\[([0-9A-Fa-f:.]+)\]|([^\s/:\[\]]+)):(\d{1,5})$)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(name);
    const int port = match.hasMatch() ? match.captured(4).toInt() : 0;
    if (port < 1 || port > 65535) {
        if (why)
            *why = QStringLiteral("a network device is named tcp://HOST:PORT or rfc2217://HOST:PORT");
        return std::nullopt;
    }
    Address address;
    address.protocol = match.captured(1).compare(u"tcp", Qt::CaseInsensitive) == 0 ? Protocol::Raw : Protocol::Rfc2217;
    address.host = match.hasCaptured(2) && !match.captured(2).isEmpty() ? match.captured(2) : match.captured(3);
    address.port = quint16(port);
    return address;
}

Socket_Device::Socket_Device(const Address &address, const Connect_Abort *abort, QObject *parent)
    : Line_Device(parent)
    , m_address(address)
    , m_abort(abort)
{
}

Socket_Device::~Socket_Device()
{
    close();
}

int Socket_Device::fd() const
{
    return m_socket ? int(m_socket->socketDescriptor()) : -1;
}

bool Socket_Device::connectSocket(QString *why)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const QByteArray host = m_address.host.toUtf8();
    const QByteArray port = QByteArray::number(m_address.port);
    if (const int error = ::getaddrinfo(host.constData(), port.constData(), &hints, &found); error != 0) {
        *why = QStringLiteral("%1: %2").arg(m_address.host, QString::fromLocal8Bit(::gai_strerror(error)));
        return false;
    }

    // One deadline for every address the name has.
    const QDeadlineTimer deadline(ConnectTimeoutMs);
    int connected = -1;
    for (addrinfo *a = found; a && connected < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            *why = systemError(errno);
            continue;
        }
        int error = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) {
            pollfd waits[2] = {{fd, POLLOUT, 0}, {m_abort ? m_abort->fd() : -1, POLLIN, 0}};
            int ready = 0;
            do {
                ready = ::poll(waits, 2, int(deadline.remainingTime()));
            } while (ready < 0 && errno == EINTR);
            if (waits[1].revents & POLLIN) {
                ::close(fd);
                *why = QStringLiteral("connecting was cancelled");
                break;
            }
            if (ready == 0) {
                ::close(fd);
                *why = QStringLiteral("no answer from %1 within %2 seconds").arg(m_address.hostAndPort()).arg(ConnectTimeoutMs / 1000);
                break;
            }
            socklen_t length = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
        }
        if (error != 0) {
            ::close(fd);
            *why = systemError(error);
            continue;
        }
        connected = fd;
    }
    ::freeaddrinfo(found);
    if (connected < 0)
        return false;

    m_socket = new QTcpSocket(this);
    if (!m_socket->setSocketDescriptor(connected, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        *why = m_socket->errorString();
        ::close(connected);
        delete m_socket;
        m_socket = nullptr;
        return false;
    }
    // Frames are small and wanted now; and a socket's default buffers hold minutes of line time.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, SendBufferSize);
    m_socket->setReadBufferSize(ReadBufferLimit);
    return true;
}

bool Socket_Device::open(const Line_Settings &settings, QString *why)
{
    if (!connectSocket(why))
        return false;
    m_baudRate = settings.baudRate;
    m_telnet = Telnet_Com_Port();
    m_control.clear();
    m_data.clear();
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        if (takeReceived())
            emit readable();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { lose(ServerClosed); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        lose(error == QAbstractSocket::RemoteHostClosedError || error == QAbstractSocket::NetworkError
                 ? ServerClosed : m_socket->errorString());
    });
    m_writable = new QSocketNotifier(fd(), QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &Socket_Device::onWritable);
    // The socket's queue shrinking raises no event of its own: while it is full, look again.
    m_recheck = new QTimer(this);
    m_recheck->setInterval(5);
    connect(m_recheck, &QTimer::timeout, this, &Socket_Device::onWritable);
    if (m_address.protocol == Protocol::Rfc2217) {
        m_control = m_telnet.start();
        if (!applySettings(settings, why)) {
            close();
            return false;
        }
    }
    return true;
}

void Socket_Device::close()
{
    if (!m_socket)
        return;
    // The notifier or the socket may be the one whose signal led here: they go at the next
    // turn of the loop.
    m_writable->setEnabled(false);
    m_writable->deleteLater();
    m_writable = nullptr;
    m_recheck->stop();
    m_recheck->deleteLater();
    m_recheck = nullptr;
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
}

void Socket_Device::lose(const QString &reason)
{
    if (!m_socket)
        return;
    close();
    emit gone(reason);
}

bool Socket_Device::applySettings(const Line_Settings &settings, QString *why)
{
    m_baudRate = settings.baudRate;
    if (!m_socket || m_address.protocol == Protocol::Raw)
        return true;
    m_control += Telnet_Com_Port::setLine(settings.baudRate, settings.dataBits, settings.parity, settings.stopBits);
    if (!flushControl()) {
        *why = ServerClosed;
        return false;
    }
    return true;
}

bool Socket_Device::flushControl(Failure failure)
{
    while (!m_control.isEmpty() && m_socket) {
        const ssize_t n = ::send(fd(), m_control.constData(), size_t(m_control.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            m_control.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            updateNotice();
            return true;
        }
        if (failure == Failure::Raise)
            lose(n < 0 ? systemError(errno) : ServerClosed);
        else
            close();
        return false;
    }
    return m_socket != nullptr;
}

qint64 Socket_Device::write(const char *data, qint64 size)
{
    // A failure here is the line's to report: it hears -1 and closes the line itself.
    if (!m_socket || !flushControl(Failure::Quiet))
        return -1;
    if (!hasRoom())
        return 0;
    const bool telnet = m_address.protocol == Protocol::Rfc2217;
    // Escaping may double each byte: a piece at a time keeps the copy small.
    const QByteArrayView taken(data, std::min<qint64>(size, 4096));
    const QByteArray bytes = telnet ? Telnet_Com_Port::escape(taken) : taken.toByteArray();
    ssize_t n = -1;
    do {
        n = ::send(fd(), bytes.constData(), size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        close();
        return -1;
    }
    if (!telnet)
        return n;
    // Count the data bytes whose encoding went out; a 255 of which only the first half went
    // has its second half sent before anything else.
    qint64 dataBytes = 0;
    for (qsizetype at = 0; at < n; ++dataBytes) {
        if (quint8(taken[dataBytes]) == Telnet_Com_Port::IAC) {
            if (at + 1 == n)
                m_control += char(Telnet_Com_Port::IAC);
            at += 2;
        } else {
            at += 1;
        }
    }
    return dataBytes;
}

qint64 Socket_Device::holdLimit() const
{
    // Ten bits on the line for each byte; never below one frame's worth.
    return std::max<qint64>(m_baudRate / 10 / 2, 64);
}

bool Socket_Device::waitWritable(int msecs)
{
    // The socket's queue shrinks as the server acknowledges, which raises no event: look again
    // every few milliseconds until it has room below the limit.
    const QDeadlineTimer deadline(std::max(msecs, 0));
    for (;;) {
        if (!m_socket)
            return false;
        pollfd socket{fd(), POLLOUT, 0};
        const int wait = int(std::min<qint64>(deadline.remainingTime(), 5));
        const bool ready = ::poll(&socket, 1, wait) == 1 && (socket.revents & POLLOUT) &&
                           !(socket.revents & (POLLERR | POLLHUP));
        if (socket.revents & (POLLERR | POLLHUP))
            return false;
        if (ready && flushControl(Failure::Quiet) && hasRoom())
            return true;
        if (deadline.hasExpired())
            return false;
        if (ready)
            ::poll(nullptr, 0, wait);
    }
}

void Socket_Device::setWritableNotice(bool on)
{
    m_wantWritable = on;
    updateNotice();
}

bool Socket_Device::hasRoom() const
{
    return m_control.isEmpty() && heldBelow() < holdLimit();
}

void Socket_Device::updateNotice()
{
    if (!m_socket)
        return;
    const bool want = m_wantWritable || !m_control.isEmpty();
    // The descriptor stays writable while the queue is full: a notifier would fire on every
    // turn of the loop and spin a core.
    const bool full = m_control.isEmpty() && heldBelow() >= holdLimit();
    m_writable->setEnabled(want && !full);
    if (want && full) {
        if (!m_recheck->isActive())
            m_recheck->start();
    } else {
        m_recheck->stop();
    }
}

void Socket_Device::onWritable()
{
    if (!flushControl())
        return;
    if (m_wantWritable && hasRoom())
        emit writable();
    updateNotice();
}

qint64 Socket_Device::heldBelow() const
{
    int queued = 0;
    if (!m_socket || ::ioctl(fd(), SIOCOUTQ, &queued) != 0)
        return m_control.size();
    return queued + m_control.size();
}

qint64 Socket_Device::bytesAvailable() const
{
    return m_data.size() + (m_socket ? m_socket->bytesAvailable() : 0);
}

bool Socket_Device::takeReceived()
{
    if (!m_socket)
        return false;
    const qsizetype before = m_data.size();
    // What is not taken waits in the socket, and beyond its bound in the kernel, which then
    // holds the server back.
    while (m_socket && m_data.size() < ReadBufferLimit && m_socket->bytesAvailable() > 0) {
        const QByteArray bytes = m_socket->read(ReadBufferLimit - m_data.size());
        if (m_address.protocol == Protocol::Raw) {
            m_data += bytes;
            continue;
        }
        const Telnet_Com_Port::Received got = m_telnet.receive(bytes);
        m_data += got.data;
        if (!got.answer.isEmpty()) {
            m_control += got.answer;
            if (!flushControl())
                break;
        }
    }
    return m_data.size() > before;
}

QByteArray Socket_Device::read(qint64 maxSize)
{
    if (m_data.size() < maxSize)
        takeReceived();
    const QByteArray bytes = m_data.left(maxSize);
    m_data.remove(0, bytes.size());
    return bytes;
}
