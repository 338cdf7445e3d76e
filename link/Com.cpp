#include "link/Com.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <array>

#include <pthread.h>
#include <sched.h>

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

std::optional<Line_Settings> Line_Settings::parse(const QString &text, QString *why)
{
    auto refuse = [&](const QString &reason) -> std::optional<Line_Settings> {
        if (why)
            *why = QStringLiteral("invalid settings \"%1\": %2").arg(text, reason);
        return std::nullopt;
    };

    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        return refuse(QStringLiteral("expected baud rate, parity, data bits and stop bits, "
                                     "as in \"57600,n,8,1\""));

    Line_Settings settings;
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

QString Line_Settings::text() const
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
    m_thread.setObjectName(QStringLiteral("line"));
    m_line = new Line(m_shared);
    m_line->moveToThread(&m_thread);
    connect(m_line, &Line::received, this, &Com::received);
    connect(m_line, &Line::written, this, &Com::written);
    connect(m_line, &Line::stallChanged, this, &Com::showStalled);
    connect(m_line, &Line::gone, this, &Com::lineGone);
    connect(m_line, &Line::notSent, this, [this](int frames, const QString &reason, quint64 epoch) {
        if (epoch == m_epoch)
            emit notSent(frames, reason);
    });
    m_shared.backlogLimit = writeBacklogLimit();
    m_thread.start();
    // A step of a playing script is due to the fraction of a millisecond; where the system
    // allows it, the line's thread runs in the lowest real-time class, ahead of the builds and
    // browsers that share the machine. It only ever waits or writes, and a looping script takes
    // a 20 ms step at each restart, so it cannot keep a core to itself.
    runOnLine([] {
        const sched_param lowest{sched_get_priority_min(SCHED_FIFO)};
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &lowest);
    });
}

Com::~Com()
{
    // An open still waiting for its server gives up at once.
    m_shared.connectAbort.abort();
    // Nothing of the line outlives Com: what runs there goes first, then the line itself,
    // which closes the device without waiting.
    runOnLine([this] {
        for (const QPointer<QObject> &worker : m_adopted)
            delete worker.data();
        delete m_line;
    });
    m_thread.quit();
    m_thread.wait();
}

template <class F>
auto Com::onLine(F f)
{
    if (onLineThread())
        return f();
    using Result = decltype(f());
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(m_line, f, Qt::BlockingQueuedConnection);
        deliverLineNews();
    } else {
        Result result{};
        QMetaObject::invokeMethod(m_line, [&] { result = f(); }, Qt::BlockingQueuedConnection);
        deliverLineNews();
        return result;
    }
}

void Com::runOnLine(const std::function<void()> &f)
{
    onLine(f);
}

void Com::deliverLineNews()
{
    // What the line raised while this thread waited (frames written, a hang-up) is raised here
    // before the call returns, as when the port was written on this thread.
    if (QThread::currentThread() == thread())
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void Com::adopt(QObject *worker)
{
    std::erase_if(m_adopted, [](const QPointer<QObject> &gone) { return gone.isNull(); });
    m_adopted.emplace_back(worker);
    worker->moveToThread(&m_thread);
}

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
    const short port = m_commPort;
    const QString error = QStringLiteral("COM%1 (%2): %3").arg(port).arg(deviceFor(port), reason);
    const QMutexLocker lock(&m_errorLock);
    m_error = error;
    return false;
}

QString Com::errorDescription() const
{
    const QMutexLocker lock(&m_errorLock);
    return m_error;
}

bool Com::setCommPort(int port)
{
    if (PortOpen())
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
    if (PortOpen()) {
        QString reason;
        const bool applied = onLine([&] {
            if (m_line->applySettings(*settings, &reason))
                return true;
            QString ignored;
            m_line->applySettings(m_settings, &ignored);
            return false;
        });
        if (!applied)
            return fail(reason);
    }
    m_settings = *settings;
    m_shared.backlogLimit = writeBacklogLimit();
    return true;
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

bool Com::setPortOpen(bool open)
{
    if (open == PortOpen())
        return true;
    if (!open) {
        m_closing = true;
        const int lost = onLine([this] { return m_line->close(true); });
        m_closing = false;
        m_open = false;
        m_input.clear();
        showStalled();
        if (lost > 0)
            emit notSent(lost, QStringLiteral("the robot was not reading"));
        return true;
    }
    if (m_opening)
        return fail(QStringLiteral("the port is opening"));
    const QString path = devicePath(deviceFor(m_commPort));
    QString why;
    const quint64 epoch = m_epoch + 1;
    m_shared.connectAbort.reset();
    if (!onLine([&] { return m_line->open(path, m_settings, epoch, &why); }))
        return fail(why);
    markOpen(epoch);
    return true;
}

void Com::markOpen(quint64 epoch)
{
    m_epoch = epoch;
    m_open = true;
    m_input.clear();
    const QMutexLocker lock(&m_errorLock);
    m_error.clear();
}

bool Com::beginOpen()
{
    if (PortOpen() || m_opening)
        return fail(QStringLiteral("the port is %1").arg(m_opening ? u"opening" : u"open"));
    m_opening = true;
    m_openCancelled = false;
    m_shared.connectAbort.reset();
    const QString path = devicePath(deviceFor(m_commPort));
    const Line_Settings settings = m_settings;
    const quint64 epoch = m_epoch + 1;
    // The line's thread waits for the server; this one goes on, and hears how it ended.
    QMetaObject::invokeMethod(m_line, [this, path, settings, epoch] {
        QString why;
        const bool opened = m_line->open(path, settings, epoch, &why);
        QMetaObject::invokeMethod(this, [this, opened, why, epoch] { finishOpen(opened, why, epoch); },
                                  Qt::QueuedConnection);
    }, Qt::QueuedConnection);
    return true;
}

void Com::cancelOpen()
{
    if (!m_opening)
        return;
    m_openCancelled = true;
    m_shared.connectAbort.abort();
}

void Com::finishOpen(bool opened, const QString &why, quint64 epoch)
{
    m_opening = false;
    if (opened && m_openCancelled) {
        // Connected just before the operator gave up: the operator's word stands.
        onLine([this] { return m_line->close(false); });
        opened = false;
    }
    if (opened)
        markOpen(epoch);
    else
        fail(m_openCancelled ? QStringLiteral("connecting was cancelled") : why);
    emit openFinished(opened);
}

void Com::lineGone(const QString &reason, quint64 epoch)
{
    if (epoch != m_epoch)
        return;
    fail(reason);
    m_open = false;
    m_input.clear();
    showStalled();
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
    if (!PortOpen())
        return fail(QStringLiteral("the port is not open"));
    if (m_closing)
        return fail(QStringLiteral("the port is closing"));
    if (bytes.isEmpty())
        return true;
    // Written at once on the line's thread, so the frame leaves when the operator (or the
    // script's step) sent it; the window's thread waits the moment that takes.
    const QByteArray frame = bytes.toByteArray();
    qint64 waiting = 0;
    if (onLine([&] { return m_line->take(frame, &waiting); }))
        return true;
    if (waiting < 0)
        return fail(QStringLiteral("the robot's line was closed"));
    showStalled();
    return fail(QStringLiteral("the robot is not reading; %1 bytes still wait to be written, so the frame was not sent")
                    .arg(waiting));
}

bool Com::writeOut(int msecs)
{
    return onLine([this, msecs] { return m_line->writeOut(msecs); });
}

int Com::discardQueued()
{
    return onLine([this] { return m_line->discardQueued(); });
}

int Com::discardWaiting()
{
    return onLine([this] { return m_line->discardWaiting(); });
}

void Com::setFrameFilter(FrameFilter filter)
{
    onLine([this, &filter] { m_line->setFrameFilter(std::move(filter)); });
}

void Com::showStalled()
{
    // Raised on the window's thread only, however the stall changed.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, &Com::showStalled, Qt::QueuedConnection);
        return;
    }
    const bool stalled = m_shared.stalled;
    if (stalled == m_stalledShown)
        return;
    m_stalledShown = stalled;
    emit outputStalledChanged(stalled);
}

QByteArray Com::Input()
{
    if (!PortOpen() || m_input.isEmpty())
        return {};
    const qsizetype taken = m_inputLen == 0 ? m_input.size() : std::min<qsizetype>(m_inputLen, m_input.size());
    const QByteArray bytes = m_input.left(taken);
    m_input.remove(0, taken);
    m_shared.handedOver -= taken;
    if (m_shared.readHeldBack.exchange(false))
        QMetaObject::invokeMethod(m_line, &Line::readMore, Qt::QueuedConnection);
    return bytes;
}

int Com::InBufferCount() const
{
    return PortOpen() ? int(m_input.size()) : 0;
}

void Com::received(const QByteArray &bytes, quint64 epoch)
{
    if (epoch != m_epoch || !PortOpen())
        return;
    m_input.append(bytes);
    notifyLater();
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
    // not keep the event loop busy; new bytes raise it again when they come.
    if (InBufferCount() > 0 && InBufferCount() < waiting)
        notifyLater();
}
