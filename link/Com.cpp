#include "link/Com.h"

#include "link/File_Kind.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QMetaMethod>
#include <QSettings>
#include <QSocketNotifier>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::array<qint32, 16> BaudRates{110,   300,   600,   1200,  2400,  4800,   9600,   14400,
                                           19200, 28800, 38400, 56000, 57600, 115200, 128000, 256000};

struct ParityLetter
{
    QChar letter;
    QSerialPort::Parity parity;
};
constexpr std::array<ParityLetter, 5> ParityLetters{{{u'n', QSerialPort::NoParity},
                                                     {u'e', QSerialPort::EvenParity},
                                                     {u'o', QSerialPort::OddParity},
                                                     {u'm', QSerialPort::MarkParity},
                                                     {u's', QSerialPort::SpaceParity}}};

} // namespace

std::optional<Com::LineSettings> Com::LineSettings::parse(const QString &text, QString *why)
{
    auto refuse = [&](const QString &reason) -> std::optional<LineSettings> {
        if (why)
            *why = QStringLiteral("invalid settings \"%1\": %2").arg(text, reason);
        return std::nullopt;
    };

    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        return refuse(QStringLiteral("expected baud rate, parity, data bits and stop bits, "
                                     "as in \"57600,n,8,1\""));

    LineSettings settings;
    bool ok = false;
    const int baud = fields[0].trimmed().toInt(&ok);
    if (!ok || std::find(BaudRates.begin(), BaudRates.end(), baud) == BaudRates.end())
        return refuse(QStringLiteral("unsupported baud rate \"%1\"").arg(fields[0].trimmed()));
    settings.baudRate = baud;

    const QString parity = fields[1].trimmed().toLower();
    const auto letter = std::find_if(ParityLetters.begin(), ParityLetters.end(), [&](const ParityLetter &p) {
        return parity.size() == 1 && parity[0] == p.letter;
    });
    if (letter == ParityLetters.end())
        return refuse(QStringLiteral("parity must be n, e, o, m or s, not \"%1\"").arg(fields[1].trimmed()));
    settings.parity = letter->parity;

    const int dataBits = fields[2].trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return refuse(QStringLiteral("data bits must be 5 to 8, not \"%1\"").arg(fields[2].trimmed()));
    settings.dataBits = QSerialPort::DataBits(dataBits);

    const QString stop = fields[3].trimmed();
    if (stop == u"1")
        settings.stopBits = QSerialPort::OneStop;
    else if (stop == u"2")
        settings.stopBits = QSerialPort::TwoStop;
    else
        return refuse(QStringLiteral("stop bits must be 1 or 2, not \"%1\"").arg(stop));
    return settings;
}

QString Com::LineSettings::text() const
{
    const auto letter = std::find_if(ParityLetters.begin(), ParityLetters.end(),
                                     [&](const ParityLetter &p) { return p.parity == parity; });
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baudRate)
        .arg(letter == ParityLetters.end() ? QChar(u'n') : letter->letter)
        .arg(int(dataBits))
        .arg(stopBits == QSerialPort::TwoStop ? 2 : 1);
}

Com::Com(QObject *parent)
    : QObject(parent)
{
    m_port.setReadBufferSize(ReadBufferLimit);
    connect(&m_port, &QSerialPort::readyRead, this, &Com::notifyLater);
    connect(&m_port, &QSerialPort::errorOccurred, this, &Com::handlePortError);
}

Com::~Com() = default;

QString Com::deviceFor(int port)
{
    if (const QString device = environmentDevice(port); !device.isEmpty())
        return device;
    if (const QString device = chosenDevice(port); !device.isEmpty())
        return device;
    return defaultDevice(port);
}

QString Com::defaultDevice(int port)
{
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
}

QString Com::environmentDevice(int port)
{
    return qEnvironmentVariable(qPrintable(QStringLiteral("ORVIK_COM%1").arg(port)));
}

namespace {
QString deviceKey(int port)
{
    return QStringLiteral("Devices/COM%1").arg(port);
}
} // namespace

QString Com::chosenDevice(int port)
{
    return QSettings().value(deviceKey(port)).toString().trimmed();
}

void Com::setChosenDevice(int port, const QString &device)
{
    QSettings settings;
    if (device.trimmed().isEmpty())
        settings.remove(deviceKey(port));
    else
        settings.setValue(deviceKey(port), device.trimmed());
}

QString Com::devicePath(const QString &name)
{
    if (name.isEmpty() || name.contains(QStringLiteral("://")))
        return name;
    if (name.contains(u'/') || QFileInfo::exists(name))
        return QDir::cleanPath(QDir::current().absoluteFilePath(name));
    return QStringLiteral("/dev/") + name;
}

bool Com::fail(const QString &reason)
{
    m_error = QStringLiteral("COM%1 (%2): %3").arg(m_commPort).arg(deviceFor(m_commPort), reason);
    return false;
}

bool Com::setCommPort(int port)
{
    if (m_port.isOpen())
        return fail(QStringLiteral("the port number cannot change while the port is open"));
    if (port < 1 || port > 255)
        return fail(QStringLiteral("invalid port number %1").arg(port));
    m_commPort = short(port);
    return true;
}

bool Com::setSettings(const QString &text)
{
    QString why;
    const std::optional<LineSettings> settings = LineSettings::parse(text, &why);
    if (!settings)
        return fail(why);
    if (m_port.isOpen()) {
        applyLineSettings(*settings);
        if (m_port.error() != QSerialPort::NoError) {
            const QString reason = m_port.errorString();
            applyLineSettings(m_settings);
            m_port.clearError();
            return fail(reason);
        }
    }
    m_settings = *settings;
    return true;
}

void Com::applyLineSettings(const LineSettings &settings)
{
    m_port.setBaudRate(settings.baudRate);
    m_port.setParity(settings.parity);
    m_port.setDataBits(settings.dataBits);
    m_port.setStopBits(settings.stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
}

bool Com::setInputLen(int length)
{
    if (length < 0)
        return fail(QStringLiteral("invalid input length %1").arg(length));
    m_inputLen = length;
    return true;
}

bool Com::setRThreshold(int count)
{
    if (count < 0)
        return fail(QStringLiteral("invalid receive threshold %1").arg(count));
    m_rThreshold = count;
    notifyLater();
    return true;
}

bool Com::setSThreshold(int count)
{
    // Nothing in the program listens for transmission; the value is kept for what it is.
    if (count < 0)
        return fail(QStringLiteral("invalid send threshold %1").arg(count));
    m_sThreshold = count;
    return true;
}

bool Com::setInputMode(int mode)
{
    // Bytes come back unchanged in either mode: text mode hands out one character per byte.
    if (mode != comInputModeText && mode != comInputModeBinary)
        return fail(QStringLiteral("invalid input mode %1").arg(mode));
    m_inputMode = mode;
    return true;
}

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

bool Com::setPortOpen(bool open)
{
    if (open == m_port.isOpen())
        return true;
    if (!open) {
        closePort(LineState::Working);
        return true;
    }
    const QString path = devicePath(deviceFor(m_commPort));
    if (const QString what = notADevice(path); !what.isEmpty())
        return fail(what);
    // Through a link or by its own name, one device has one lock: QSerialPort names its lock
    // file after the path it opens.
    const QString canonical = QFileInfo(path).canonicalFilePath();
    m_port.setPortName(canonical.isEmpty() ? path : canonical);
    applyLineSettings(m_settings);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QString reason = m_port.errorString();
        m_port.clearError();
        if (isInUseError(reason))
            return fail(InUse);
        return fail(reason == QString::fromLocal8Bit(std::strerror(ENOTTY)) ? QStringLiteral("it is not a serial device")
                                                                           : reason);
    }
    if (!lockDevice()) {
        m_port.close();
        m_port.clearError();
        return fail(InUse);
    }
    m_writable = new QSocketNotifier(m_port.handle(), QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &Com::pump);
    m_error.clear();
    return true;
}

bool Com::lockDevice()
{
    // TIOCEXCL, which QSerialPort sets, does not hold root back; a lock on the device itself
    // does, whatever path the other program named it by.
    return ::flock(int(m_port.handle()), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

void Com::closePort(LineState line)
{
    if (!m_port.isOpen())
        return;
    m_closing = true;
    if (line == LineState::Working) {
        writeOut(writeOutMs());
        waitForDriver();
    }
    const int lost = queuedFrames();
    m_queue.clear();
    m_headWritten = 0;
    m_queuedBytes = 0;
    // The notifier may be the one whose signal led here: it goes at the next turn of the loop.
    m_writable->setEnabled(false);
    m_writable->deleteLater();
    m_writable = nullptr;
    m_port.close();
    m_port.clearError();
    m_closing = false;
    setOutputStalled(false);
    if (lost > 0)
        emit notSent(lost, line == LineState::Working ? QStringLiteral("the robot was not reading") : LineClosed);
}

qint64 Com::writeBacklogLimit() const
{
    // Ten bits on the line for each byte: start, eight data bits, stop.
    return m_settings.baudRate / 10 / 2;
}

int Com::writeOutMs() const
{
    return int(writeBacklogLimit() * 10 * 1000 / m_settings.baudRate);
}

bool Com::Output(QByteArrayView bytes)
{
    if (!m_port.isOpen())
        return fail(QStringLiteral("the port is not open"));
    if (m_closing)
        return fail(QStringLiteral("the port is closing"));
    if (bytes.isEmpty())
        return true;
    // A robot that stops reading must never get part of a frame: a frame cut short makes the
    // controller take the next frame's bytes as its data and move a servo nobody asked for.
    // So a frame is taken whole or refused whole, and what waits stays short enough to still
    // mean what the operator wanted when it arrives. One frame is always taken on an empty line.
    if (m_queuedBytes > 0 && m_queuedBytes + bytes.size() > writeBacklogLimit()) {
        setOutputStalled(true);
        return fail(QStringLiteral("the robot is not reading; %1 bytes still wait to be written, so the "
                                   "frame was not sent")
                        .arg(m_queuedBytes));
    }
    m_queue.push_back(m_frameFilter ? m_frameFilter(bytes) : bytes.toByteArray());
    m_queuedBytes += bytes.size();
    // Written now rather than at the next turn of the event loop, so the frame leaves when the
    // operator (or the script timer) sent it.
    pump();
    return true;
}

void Com::pump()
{
    if (m_pumping || !m_port.isOpen())
        return;
    m_pumping = true;
    const int fd = int(m_port.handle());
    QList<QByteArray> left;
    int error = 0;
    while (!m_queue.empty()) {
        const QByteArray &frame = m_queue.front();
        const ssize_t n = ::write(fd, frame.constData() + m_headWritten, size_t(frame.size() - m_headWritten));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                error = errno;
            break;
        }
        m_headWritten += n;
        m_queuedBytes -= n;
        if (m_headWritten < frame.size())
            continue;
        left.append(frame);
        m_queue.pop_front();
        m_headWritten = 0;
    }
    if (m_writable)
        m_writable->setEnabled(!m_queue.empty() && error == 0);
    m_pumping = false;

    if (!left.isEmpty()) {
        setOutputStalled(false);
        // Only a monitor or the command line listens; with none this costs one check.
        if (isSignalConnected(QMetaMethod::fromSignal(&Com::written)))
            for (const QByteArray &frame : std::as_const(left))
                emit written(frame);
    }
    if (error != 0) {
        fail(LineClosed);
        closePort(LineState::Gone);
    }
}

bool Com::waitForLine(int msecs) const
{
    pollfd line{int(m_port.handle()), POLLOUT, 0};
    return ::poll(&line, 1, std::max(msecs, 0)) == 1 && (line.revents & POLLOUT) && !(line.revents & (POLLERR | POLLHUP));
}

bool Com::writeOut(int msecs)
{
    const QDeadlineTimer deadline(msecs);
    while (m_port.isOpen() && !m_queue.empty()) {
        pump();
        if (m_queue.empty() || !m_port.isOpen() || deadline.hasExpired())
            break;
        waitForLine(int(std::min<qint64>(deadline.remainingTime(), 50)));
    }
    return m_queue.empty();
}

int Com::discardQueued()
{
    if (m_queue.empty())
        return 0;
    if (m_headWritten > 0) {
        // The robot has the start of this frame: the rest must follow, or it takes the next
        // frame's bytes as its data.
        const QDeadlineTimer deadline(writeOutMs());
        while (m_port.isOpen() && m_headWritten > 0 && !deadline.hasExpired()) {
            waitForLine(int(std::min<qint64>(deadline.remainingTime(), 50)));
            const QByteArray head = m_queue.front();
            const ssize_t n = ::write(int(m_port.handle()), head.constData() + m_headWritten,
                                      size_t(head.size() - m_headWritten));
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
            if (n > 0) {
                m_headWritten += n;
                m_queuedBytes -= n;
                if (m_headWritten == head.size()) {
                    m_queue.pop_front();
                    m_headWritten = 0;
                    if (isSignalConnected(QMetaMethod::fromSignal(&Com::written)))
                        emit written(head);
                }
            }
        }
    }
    const int dropped = queuedFrames();
    m_queue.clear();
    m_headWritten = 0;
    m_queuedBytes = 0;
    if (m_writable)
        m_writable->setEnabled(false);
    return dropped;
}

int Com::discardWaiting()
{
    if (m_queue.empty())
        return 0;
    std::deque<QByteArray> started;
    if (m_headWritten > 0)
        started.push_back(std::move(m_queue.front()));
    const int dropped = queuedFrames() - int(started.size());
    m_queue = std::move(started);
    m_queuedBytes = m_queue.empty() ? 0 : m_queue.front().size() - m_headWritten;
    if (m_writable)
        m_writable->setEnabled(!m_queue.empty());
    return dropped;
}

void Com::waitForDriver()
{
    // Closing restores the line's old settings; bytes still in the driver would leave at the
    // wrong speed. A driver holds a few kilobytes at most: wait for their line time, bounded.
    int inDriver = 0;
    if (::ioctl(int(m_port.handle()), TIOCOUTQ, &inDriver) != 0 || inDriver <= 0)
        return;
    const qint64 lineMs = qint64(inDriver) * 10 * 1000 / m_settings.baudRate + 100;
    const QDeadlineTimer deadline(std::min<qint64>(lineMs, 2000));
    while (!deadline.hasExpired()) {
        if (::ioctl(int(m_port.handle()), TIOCOUTQ, &inDriver) != 0 || inDriver <= 0)
            return;
        ::poll(nullptr, 0, 5);
    }
}

void Com::setOutputStalled(bool stalled)
{
    if (stalled == m_outputStalled)
        return;
    m_outputStalled = stalled;
    emit outputStalledChanged(stalled);
}

QByteArray Com::Input()
{
    if (!m_port.isOpen())
        return {};
    return m_inputLen == 0 ? m_port.readAll() : m_port.read(m_inputLen);
}

int Com::InBufferCount() const
{
    return m_port.isOpen() ? int(m_port.bytesAvailable()) : 0;
}

void Com::handlePortError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !m_port.isOpen())
        return;
    // "Try again" from the device is no failure: closing on it would drop what waits.
    if (error == QSerialPort::ResourceError && m_port.errorString() == QString::fromLocal8Bit(std::strerror(EAGAIN))) {
        m_port.clearError();
        return;
    }
    // A device that fails while open (cable pulled, far end gone) keeps failing: QSerialPort
    // would report the same error again on every turn of the event loop and spin a core.
    // Close at once, without waiting for what cannot go out. A hang-up shows as a failed read,
    // a failed write or a resource gone, worded by whatever call met it first ("Inappropriate
    // ioctl for device"); the operator needs what happened.
    const bool lineGone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
                          error == QSerialPort::WriteError;
    fail(lineGone ? LineClosed : m_port.errorString());
    closePort(LineState::Gone);
}

void Com::notifyLater()
{
    if (m_notifyQueued || m_rThreshold <= 0)
        return;
    m_notifyQueued = true;
    QMetaObject::invokeMethod(this, &Com::notify, Qt::QueuedConnection);
}

void Com::notify()
{
    m_notifyQueued = false;
    if (m_rThreshold <= 0 || InBufferCount() < m_rThreshold)
        return;
    const int waiting = InBufferCount();
    emit OnComm();
    // Raise again only when the handler took something, so a port nobody reads from does
    // not keep the event loop busy; new bytes raise it again through readyRead.
    if (InBufferCount() > 0 && InBufferCount() < waiting)
        notifyLater();
}
