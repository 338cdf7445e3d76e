#include "sim/Controller.h"

#include <initializer_list>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray data;
    for (const int value : values)
        data.append(char(value));
    return data;
}

} // namespace

Controller::Controller(QObject *parent)
    : QObject(parent)
{
    m_motion.setInterval(MotionInterval);
    connect(&m_motion, &QTimer::timeout, this, &Controller::step);
}

void Controller::handle(const FrameReader::Event &frame)
{
    if (frame.isBad())
        return;
    const Frames::Kind *kind = FrameReader::kindFor(frame.mnemonic);
    if (!kind || frame.data.size() != kind->dataBytes)
        return;

    if (kind->mnemonic == Frames::BatteriesQuery.mnemonic) {
        emit reply(Frames::frame(Frames::BatteriesReply,
                                 bytes({m_batteries[0], m_batteries[1]})));
    } else if (kind->mnemonic == Frames::AnalogueQuery.mnemonic) {
        // One channel per query, taking them in turn, as the panel expects any number of
        // "gav" replies each carrying its own channel.
        const quint16 reading = m_analogues[size_t(m_nextChannel)];
        emit reply(Frames::frame(Frames::AnalogueReply,
                                 bytes({m_nextChannel + 1, reading >> 8, reading & 0xFF})));
        m_nextChannel = (m_nextChannel + 1) % AnalogueCount;
    } else {
        move(frame);
    }
}

void Controller::move(const FrameReader::Event &frame)
{
    const auto byte = [&](int i) { return int(quint8(frame.data[i])); };
    if (frame.mnemonic == QByteArrayView(Frames::SingleServo.mnemonic.data(), 3)) {
        const int index = ServoBank::indexOfNumber(byte(0));
        if (index < 0) {
            emit ignored(frame, QStringLiteral("there is no servo number %1").arg(byte(0)));
            return;
        }
        m_servos.command(index, byte(1), byte(2));
    } else {
        const Frames::Kind *kind = FrameReader::kindFor(frame.mnemonic);
        for (int slot = 1; slot <= kind->dataBytes / 2; ++slot)
            m_servos.command(ServoBank::indexOfSlot(*kind, slot), byte(2 * slot - 2), byte(2 * slot - 1));
    }
    emit servosMoved();
    if (m_servos.moving() && !m_motion.isActive()) {
        m_sinceStep.start();
        m_motion.start();
    }
}

void Controller::step()
{
    // Steps are timed by the clock, not counted, so a busy event loop does not slow the robot.
    const double seconds = m_sinceStep.nsecsElapsed() / 1e9;
    m_sinceStep.start();
    if (!m_servos.advance(seconds))
        m_motion.stop();
    emit servosMoved();
}

void Controller::setBattery(int k, quint8 tenths)
{
    m_batteries[size_t(k - 1)] = tenths;
    emit sensorsChanged();
}

void Controller::setAnalogue(int channel, quint16 reading)
{
    m_analogues[size_t(channel - 1)] = reading;
    emit sensorsChanged();
}

void Controller::setWhiskers(quint8 bits)
{
    bits &= (1u << WhiskerCount) - 1;
    if (bits == m_whiskers)
        return;
    m_whiskers = bits;
    emit reply(Frames::frame(Frames::WhiskersReply, QByteArray(1, char(bits))));
    emit sensorsChanged();
}

void Controller::setWhisker(int k, bool closed)
{
    const quint8 bit = quint8(1u << (k - 1));
    setWhiskers(closed ? (m_whiskers | bit) : (m_whiskers & ~bit));
}
