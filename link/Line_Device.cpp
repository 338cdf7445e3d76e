#include "link/Line_Device.h"

#include "link/File_Kind.h"
#include "link/Line.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Why a path that names no serial device is refused; "" for a device, or when nothing is there.
QString notADevice(const QString &path)
{
    const QString kind = File_Kind::at(path);
    if (kind.isEmpty() || kind == u"a device")
        return {};
    return kind + QStringLiteral(" is not a serial device");
}

bool isInUseError(const QString &reason)
{
    // QSerialPort's lock file and TIOCEXCL speak of permissions; what the operator needs to know
    // is that another program holds the robot.
    return reason == QLatin1StringView("Permission error while locking the device") ||
           reason == QString::fromLocal8Bit(std::strerror(EBUSY));
}

const QString InUse = QStringLiteral("the device is in use by another program");
const QString LineClosed = QStringLiteral("the robot's line was closed");

} // namespace

Serial_Device::Serial_Device(const QString &path, QObject *parent)
    : Line_Device(parent)
    , m_path(path)
{
}

Serial_Device::~Serial_Device()
{
    close();
}

void Serial_Device::apply(const Line_Settings &settings)
{
    m_port->setBaudRate(settings.baudRate);
    m_port->setParity(settings.parity);
    m_port->setDataBits(settings.dataBits);
    m_port->setStopBits(settings.stopBits);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
}

bool Serial_Device::open(const Line_Settings &settings, QString *why)
{
    if (const QString what = notADevice(m_path); !what.isEmpty()) {
        *why = what;
        return false;
    }
    m_port = new QSerialPort(this);
    m_port->setReadBufferSize(Line::ReadBufferLimit);
    // Through a link or by its own name, one device has one lock: QSerialPort names its lock
    // file after the path it opens.
    const QString canonical = QFileInfo(m_path).canonicalFilePath();
    m_port->setPortName(canonical.isEmpty() ? m_path : canonical);
    apply(settings);
    if (!m_port->open(QIODevice::ReadWrite)) {
        const QString reason = m_port->errorString();
        delete m_port;
        m_port = nullptr;
        if (isInUseError(reason))
            *why = InUse;
        else
            *why = reason == QString::fromLocal8Bit(std::strerror(ENOTTY)) ? QStringLiteral("it is not a serial device")
                                                                           : reason;
        return false;
    }
    // TIOCEXCL, which QSerialPort sets, does not hold root back; a lock on the device itself
    // does, whatever path the other program named it by.
    if (::flock(int(m_port->handle()), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        delete m_port;
        m_port = nullptr;
        *why = InUse;
        return false;
    }
    connect(m_port, &QSerialPort::readyRead, this, &Line_Device::readable);
    connect(m_port, &QSerialPort::errorOccurred, this, &Serial_Device::handleError);
    m_writable = new QSocketNotifier(m_port->handle(), QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &Line_Device::writable);
    return true;
}

void Serial_Device::close()
{
    if (!m_port)
        return;
    // The notifier or the port may be the one whose signal led here: they go at the next turn
    // of the loop.
    m_writable->setEnabled(false);
    m_writable->deleteLater();
    m_writable = nullptr;
    m_port->disconnect(this);
    m_port->close();
    m_port->deleteLater();
    m_port = nullptr;
}

bool Serial_Device::applySettings(const Line_Settings &settings, QString *why)
{
    if (!m_port)
        return true;
    m_port->clearError();
    m_port->blockSignals(true);
    apply(settings);
    m_port->blockSignals(false);
    if (m_port->error() == QSerialPort::NoError)
        return true;
    *why = m_port->errorString();
    m_port->clearError();
    return false;
}

qint64 Serial_Device::write(const char *data, qint64 size)
{
    if (!m_port)
        return -1;
    for (;;) {
        const ssize_t n = ::write(int(m_port->handle()), data, size_t(size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

bool Serial_Device::waitWritable(int msecs)
{
    if (!m_port)
        return false;
    pollfd line{int(m_port->handle()), POLLOUT, 0};
    return ::poll(&line, 1, std::max(msecs, 0)) == 1 && (line.revents & POLLOUT) &&
           !(line.revents & (POLLERR | POLLHUP));
}

void Serial_Device::setWritableNotice(bool on)
{
    if (m_writable)
        m_writable->setEnabled(on);
}

qint64 Serial_Device::heldBelow() const
{
    int inDriver = 0;
    if (!m_port || ::ioctl(int(m_port->handle()), TIOCOUTQ, &inDriver) != 0)
        return 0;
    return inDriver;
}

qint64 Serial_Device::bytesAvailable() const
{
    return m_port ? m_port->bytesAvailable() : 0;
}

QByteArray Serial_Device::read(qint64 maxSize)
{
    return m_port ? m_port->read(maxSize) : QByteArray();
}

void Serial_Device::handleError(QSerialPort::SerialPortError error)
{
    if (!m_port || error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    // "Try again" from the device is no failure: closing on it would drop what waits.
    if (error == QSerialPort::ResourceError && m_port->errorString() == QString::fromLocal8Bit(std::strerror(EAGAIN))) {
        m_port->clearError();
        return;
    }
    // A device that fails while open (cable pulled, far end gone) keeps failing: QSerialPort
    // would report the same error again on every turn of the event loop and spin a core.
    // Close at once, without waiting for what cannot go out. A hang-up shows as a failed read,
    // a failed write or a resource gone, worded by whatever call met it first ("Inappropriate
    // ioctl for device"); the operator needs what happened.
    const bool lineGone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
                          error == QSerialPort::WriteError;
    const QString reason = lineGone ? LineClosed : m_port->errorString();
    close();
    emit gone(reason);
}
