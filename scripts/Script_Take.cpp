#include "scripts/Script_Take.h"

#include "scripts/Script_Schedule.h"

Script_Take::Script_Take(qint32 room)
    : m_room(room)
{
}

bool Script_Take::add(const QByteArray &frame, qint64 atNs)
{
    if (m_full)
        return false;
    const Frames::Kind *kind = Script_Schedule::moveKind(QString::fromLatin1(frame.left(Frames::MnemonicLength)));
    if (!kind || frame.size() != kind->length())
        return true;

    Script_Action move{0, QString::fromLatin1(frame.left(Frames::MnemonicLength)), {}, kind->dataBytes};
    for (int i = Frames::MnemonicLength; i < frame.size(); ++i)
        move.Values.append(quint8(frame[i]));

    // Times count from the first frame, rounded to the millisecond, so rounding never adds up;
    // a move that comes sooner than the step after the last one is played as soon as it can be,
    // and the wait after it catches up.
    QList<Script_Action> actions;
    qint64 atMs = 0;
    if (m_started) {
        atMs = (atNs - m_firstNs + 500000) / 1000000;
        qint64 wait = atMs - (m_playedMs + Script_Schedule::Step);
        while (wait > 0) {
            const qint64 part = std::min<qint64>(wait, MaxWait);
            actions.append({0, QStringLiteral("wait"), {qint32(part)}, 1});
            wait -= part;
        }
        atMs = std::max(atMs, m_playedMs + Script_Schedule::Step);
    }
    actions.append(move);
    if (m_actions.size() + actions.size() > m_room) {
        m_full = true;
        return false;
    }
    if (!m_started) {
        m_started = true;
        m_firstNs = atNs;
    }
    m_playedMs = atMs;
    m_actions.append(actions);
    return true;
}
