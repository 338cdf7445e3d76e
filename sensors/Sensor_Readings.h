#pragma once

#include "link/Sys_Project.h"

#include <array>
#include <deque>
#include <optional>

// Everything the robot last reported, at one moment: a reading stays until the next reply of
// its kind replaces it, and none is known before its first reply.
struct Sensor_Sample
{
    qint64 ms = 0;                                   // on the clock of whoever takes the replies
    std::array<std::optional<quint8>, 2> batteries;  // tenths of a volt
    std::array<std::optional<quint16>, 4> analogues; // 0 to 65535
    std::optional<quint8> whiskers;                  // bit k: whisker k + 1 closed
    qint32 action = 0;                               // the script action playing (its number), 0: none

    std::optional<bool> whisker(int k) const
    {
        return whiskers ? std::optional<bool>((*whiskers >> k) & 1u) : std::nullopt;
    }
};

// A script action started at a moment, for the plot's marker lines.
struct Action_Mark
{
    qint64 ms = 0;
    qint32 action = 0;
};

// The readings over time: one sample per reply taken in, the oldest dropped beyond the
// capacity, so that memory stays flat however long the panel runs.
class Sensor_Ring
{
public:
    // An hour of the poll's two replies a second (whisker reports, which come on their own,
    // shorten it a little).
    static constexpr qsizetype DefaultCapacity = 3600 * 2;

    explicit Sensor_Ring(qsizetype capacity = DefaultCapacity);

    // Adds the sample the reply makes; nothing for a reply that changes no reading (an
    // analogue channel the panel does not have).
    const Sensor_Sample *take(const Sys_Project::Reply &reply, qint64 ms);
    // The action now playing (0 when none); a number starts a marker.
    void setAction(qint32 action, qint64 ms);
    void clear();

    const std::deque<Sensor_Sample> &samples() const { return m_samples; }
    const std::deque<Action_Mark> &marks() const { return m_marks; }
    const Sensor_Sample &latest() const { return m_latest; }
    qsizetype capacity() const { return m_capacity; }
    // Samples taken since the start, dropped ones included: tells a reader what is new.
    qint64 taken() const { return m_taken; }

private:
    qsizetype m_capacity;
    Sensor_Sample m_latest;
    std::deque<Sensor_Sample> m_samples;
    std::deque<Action_Mark> m_marks;
    qint64 m_taken = 0;
};
