#include "sensors/Sensor_Readings.h"

#include <algorithm>

Sensor_Ring::Sensor_Ring(qsizetype capacity)
    : m_capacity(std::max<qsizetype>(capacity, 1))
{
}

const Sensor_Sample *Sensor_Ring::take(const Sys_Project::Reply &reply, qint64 ms)
{
    switch (reply.kind) {
    case Sys_Project::ReplyKind::Batteries:
        m_latest.batteries = {reply.data[0], reply.data[1]};
        break;
    case Sys_Project::ReplyKind::Analogue:
        if (reply.data[0] < 1 || reply.data[0] > m_latest.analogues.size())
            return nullptr;
        m_latest.analogues[reply.data[0] - 1u] = quint16(reply.analogueReading());
        break;
    case Sys_Project::ReplyKind::Whiskers:
        m_latest.whiskers = quint8(reply.data[0] & 0x0F);
        break;
    }
    m_latest.ms = ms;
    if (qsizetype(m_samples.size()) >= m_capacity) {
        m_samples.pop_front();
        // A marker older than every sample left has nothing to stand beside.
        while (!m_marks.empty() && m_marks.front().ms < m_samples.front().ms)
            m_marks.pop_front();
    }
    m_samples.push_back(m_latest);
    ++m_taken;
    return &m_samples.back();
}

void Sensor_Ring::setAction(qint32 action, qint64 ms)
{
    m_latest.action = action;
    if (action <= 0)
        return;
    // Bounded by the samples too: a script of waits alone still drops its oldest markers.
    if (qsizetype(m_marks.size()) >= m_capacity)
        m_marks.pop_front();
    m_marks.push_back({ms, action});
}

void Sensor_Ring::clear()
{
    m_samples.clear();
    m_marks.clear();
    const qint32 action = m_latest.action;
    m_latest = Sensor_Sample();
    m_latest.action = action;
}
