#include "sim/LineFaults.h"

#include <QStringList>

#include <climits>
#include <cmath>

namespace {

// Enough replies to cover every byte the pseudo-terminal and the port can hold unread.
constexpr size_t RecentReplies = 16 * 1024;

std::optional<double> share(const QString &text)
{
    QString t = text.trimmed();
    const bool percent = t.endsWith(u'%');
    if (percent)
        t.chop(1);
    bool ok = false;
    double value = t.toDouble(&ok);
    if (percent)
        value /= 100;
    if (!ok || !std::isfinite(value) || value < 0 || value > 1)
        return std::nullopt;
    return value;
}

// A generator of its own for each kind of choice, from the run's seed and the kind.
std::mt19937 seeded(quint32 seed, quint32 kind)
{
    std::seed_seq sequence{seed, kind};
    return std::mt19937(sequence);
}

} // namespace

std::optional<int> LineFaults::milliseconds(const QString &text, bool *tooShort)
{
    if (tooShort)
        *tooShort = false;
    QString t = text.trimmed().toLower();
    double scale = 1000;
    if (t.endsWith(u"ms")) {
        scale = 1;
        t.chop(2);
    } else if (t.endsWith(u"min")) {
        scale = 60000;
        t.chop(3);
    } else if (t.endsWith(u's')) {
        t.chop(1);
    }
    bool ok = false;
    const double value = t.toDouble(&ok) * scale;
    if (!ok || !std::isfinite(value) || value < 0 || value > INT_MAX)
        return std::nullopt;
    // Taken as 0, it would turn off what was asked for.
    if (value > 0 && value < 1) {
        if (tooShort)
            *tooShort = true;
        return std::nullopt;
    }
    return int(std::lround(value));
}

QString LineFaults::tooShortMessage(const QString &text)
{
    return QStringLiteral("\"%1\" is shorter than a millisecond, the shortest time the robot counts")
        .arg(text.trimmed());
}

QString LineFaults::parse(const QString &text, Settings &settings)
{
    const qsizetype equals = text.indexOf(u'=');
    const QString name = text.left(equals).trimmed().toLower();
    const QString value = equals < 0 ? QString() : text.sliced(equals + 1);
    bool tooShort = false;

    if (name == u"drop" || name == u"duplicate" || name == u"corrupt") {
        const std::optional<double> p = share(value);
        if (!p)
            return QStringLiteral("%1 takes a share of the bytes, 0 to 1 or 0%-100%, not \"%2\"").arg(name, value);
        (name == u"drop" ? settings.drop : name == u"duplicate" ? settings.duplicate : settings.corrupt) = *p;
        if (settings.drop + settings.duplicate + settings.corrupt > 1)
            return QStringLiteral("drop, duplicate and corrupt add up to more than all the bytes");
        return {};
    }
    if (name == u"garbage") {
        const std::optional<int> every = milliseconds(value, &tooShort);
        if (tooShort)
            return QStringLiteral("garbage: ") + tooShortMessage(value);
        if (!every)
            return QStringLiteral("garbage takes the time between bursts (2s, 500ms; 0 for none), not \"%1\"").arg(value);
        settings.garbageEvery = *every;
        return {};
    }
    if (name == u"stop-reading" || name == u"hangup") {
        Periodic &periodic = name == u"hangup" ? settings.hangup : settings.stopReading;
        if (!value.contains(u':')) {
            const std::optional<int> off = milliseconds(value, &tooShort);
            if (tooShort)
                return name + QStringLiteral(": ") + tooShortMessage(value);
            if (off == 0) {
                periodic = Periodic{};
                return {};
            }
        }
        const QStringList parts = value.split(u':');
        std::optional<int> every;
        std::optional<int> length;
        if (parts.size() == 2) {
            every = milliseconds(parts[0], &tooShort);
            if (tooShort)
                return name + QStringLiteral(": ") + tooShortMessage(parts[0]);
            length = milliseconds(parts[1], &tooShort);
            if (tooShort)
                return name + QStringLiteral(": ") + tooShortMessage(parts[1]);
        }
        if (!every || !length || *every == 0 || *length == 0)
            return QStringLiteral("%1 takes EVERY:FOR, two times above zero (10s:2s), or 0 for none, not \"%2\"").arg(name, value);
        periodic = Periodic{*every, *length};
        return {};
    }
    return QStringLiteral("unknown fault \"%1\"; the faults are drop=P, duplicate=P, corrupt=P, garbage=EVERY, "
                          "stop-reading=EVERY:FOR, hangup=EVERY:FOR")
        .arg(text);
}

LineFaults::LineFaults(quint32 seed, QObject *parent)
    : QObject(parent)
    , m_seed(seed)
    , m_byteRandom(seeded(seed, 1))
    , m_corruptRandom(seeded(seed, 2))
    , m_garbageRandom(seeded(seed, 3))
{
    for (QTimer *timer : {&m_garbageTimer, &m_stopTimer, &m_hangupTimer})
        timer->setSingleShot(true);
    connect(&m_garbageTimer, &QTimer::timeout, this, &LineFaults::sendGarbage);
    connect(&m_stopTimer, &QTimer::timeout, this, [this] {
        if (!m_stopped) {
            startStop(m_settings.stopReading.length);
            return;
        }
        m_stopped = false;
        emit injected(QStringLiteral("reading"), {});
        emit readingChanged(true);
        if (m_settings.stopReading.every > 0)
            m_stopTimer.start(m_settings.stopReading.every);
    });
    connect(&m_hangupTimer, &QTimer::timeout, this, [this] {
        if (!m_hungUp) {
            startHangup(m_settings.hangup.length);
            return;
        }
        m_hungUp = false;
        emit injected(QStringLiteral("back"), {});
        emit lineChanged(true);
        if (m_settings.hangup.every > 0)
            m_hangupTimer.start(m_settings.hangup.every);
    });
}

void LineFaults::setSettings(const Settings &settings)
{
    m_settings = settings;
    if (settings.garbageEvery > 0)
        m_garbageTimer.start(settings.garbageEvery);
    else
        m_garbageTimer.stop();
    // A stop or a hang-up under way keeps its end; the schedule starts again after it.
    if (!m_stopped) {
        if (settings.stopReading.every > 0)
            m_stopTimer.start(settings.stopReading.every);
        else
            m_stopTimer.stop();
    }
    if (!m_hungUp) {
        if (settings.hangup.every > 0)
            m_hangupTimer.start(settings.hangup.every);
        else
            m_hangupTimer.stop();
    }
}

void LineFaults::hit(Sent &sent)
{
    if (!sent.hit)
        ++m_counts.repliesHit;
    sent.hit = true;
}

QByteArray LineFaults::reply(const QByteArray &frame)
{
    QByteArray out;
    out.reserve(frame.size() * 2);
    std::uniform_real_distribution<double> chance(0, 1);
    std::uniform_int_distribution<int> otherBits(1, 255);
    bool faulted = false;
    for (const char byte : frame) {
        const double r = m_settings.drop + m_settings.duplicate + m_settings.corrupt > 0 ? chance(m_byteRandom) : 1;
        if (r < m_settings.drop) {
            ++m_counts.dropped;
            faulted = true;
            emit injected(QStringLiteral("drop"), QByteArray(1, byte));
        } else if (r < m_settings.drop + m_settings.duplicate) {
            ++m_counts.duplicated;
            faulted = true;
            out.append(byte).append(byte);
            emit injected(QStringLiteral("duplicate"), QByteArray(1, byte));
        } else if (r < m_settings.drop + m_settings.duplicate + m_settings.corrupt) {
            ++m_counts.corrupted;
            faulted = true;
            const char changed = char(quint8(byte) ^ quint8(otherBits(m_corruptRandom)));
            out.append(changed);
            emit injected(QStringLiteral("corrupt"), QByteArray(1, changed));
        } else {
            out.append(byte);
        }
    }

    m_offset += out.size();
    ++m_counts.replies;
    m_recent.push_back(Sent{m_offset, false});
    if (m_recent.size() > RecentReplies)
        m_recent.pop_front();
    if (m_hitNext || faulted)
        hit(m_recent.back());
    m_hitNext = faulted;
    return out;
}

void LineFaults::sendGarbage()
{
    m_garbageTimer.start(m_settings.garbageEvery);
    if (m_hungUp)
        return;
    std::uniform_int_distribution<int> length(1, MaxGarbage);
    std::uniform_int_distribution<int> value(0, 255);
    QByteArray bytes(length(m_garbageRandom), Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(value(m_garbageRandom));
    ++m_counts.garbageBursts;
    m_counts.garbageBytes += bytes.size();
    m_offset += bytes.size();
    m_hitNext = true;
    emit injected(QStringLiteral("garbage"), bytes);
    emit garbage(bytes);
}

void LineFaults::lineHungUp(qint64 unread)
{
    const qint64 readUpTo = m_offset - unread;
    bool lastRead = false;
    for (auto sent = m_recent.rbegin(); sent != m_recent.rend(); ++sent) {
        if (sent->end > readUpTo) {
            hit(*sent);
            continue;
        }
        if (!lastRead) {
            hit(*sent);
            lastRead = true;
            continue;
        }
        break;
    }
    m_hitNext = true;
}

void LineFaults::stopReadingFor(int length)
{
    if (m_stopped)
        m_stopTimer.start(length);
    else if (length > 0)
        startStop(length);
}

void LineFaults::hangUpFor(int length)
{
    if (m_hungUp)
        m_hangupTimer.start(length);
    else if (length > 0)
        startHangup(length);
}

void LineFaults::startStop(int length)
{
    m_stopped = true;
    ++m_counts.stops;
    emit injected(QStringLiteral("stop-reading"), {});
    emit readingChanged(false);
    m_stopTimer.start(length);
}

void LineFaults::startHangup(int length)
{
    m_hungUp = true;
    ++m_counts.hangups;
    emit injected(QStringLiteral("hangup"), {});
    emit lineChanged(false);
    m_hangupTimer.start(length);
}

QString LineFaults::summary() const
{
    return QStringLiteral("replies=%1 hit=%2 dropped=%3 duplicated=%4 corrupted=%5 garbage=%6 garbage-bytes=%7 "
                          "stops=%8 hangups=%9 seed=%10 line=%11 reading=%12")
        .arg(m_counts.replies)
        .arg(m_counts.repliesHit)
        .arg(m_counts.dropped)
        .arg(m_counts.duplicated)
        .arg(m_counts.corrupted)
        .arg(m_counts.garbageBursts)
        .arg(m_counts.garbageBytes)
        .arg(m_counts.stops)
        .arg(m_counts.hangups)
        .arg(m_seed)
        .arg(m_hungUp ? QStringLiteral("down") : QStringLiteral("up"))
        .arg(m_stopped ? QStringLiteral("no") : QStringLiteral("yes"));
}
