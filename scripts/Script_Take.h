#pragma once

#include "scripts/Sys_Script.h"

#include <QByteArray>
#include <QList>

// A recorded performance: each move frame the control panel sent becomes a move action,
// preceded by the waits that make it come, played back, when it came.
class Script_Take
{
public:
    static constexpr qint32 MaxWait = 65535; // the longest wait one action holds

    // room: how many actions the script can still take.
    explicit Script_Take(qint32 room);

    // The frame sent at atNs (a monotonic clock in nanoseconds). Frames that are no move are
    // left out. False, and the frame left out, when its actions would not fit: the take is full.
    bool add(const QByteArray &frame, qint64 atNs);

    const QList<Script_Action> &actions() const { return m_actions; }
    bool isFull() const { return m_full; }

private:
    qint32 m_room;
    QList<Script_Action> m_actions;
    bool m_full = false;
    bool m_started = false;
    qint64 m_firstNs = 0;
    qint64 m_playedMs = 0; // when, played back, the last move taken starts (ms after the first)
};
