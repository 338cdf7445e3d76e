#include "sim/ServoBank.h"

#include <algorithm>
#include <cmath>

ServoBank::ServoBank()
{
    for (int i = 0; i < Count; ++i)
        m_servos[size_t(i)] = {double(neutral(i)), neutral(i), 0};
}

int ServoBank::neutral(int index)
{
    const Frames::Kind &part = Servos::All[size_t(index)].bodyPart;
    if (part.mnemonic == Frames::Neck.mnemonic)
        return 90;
    if (part.mnemonic == Frames::LeftArm.mnemonic || part.mnemonic == Frames::RightArm.mnemonic)
        return 0;
    return 45;
}

int ServoBank::indexOfNumber(int number)
{
    const auto found = std::find_if(Servos::All.begin(), Servos::All.end(),
                                    [&](const Servos::Servo &s) { return s.number == number; });
    return found == Servos::All.end() ? -1 : int(found - Servos::All.begin());
}

int ServoBank::indexOfSlot(const Frames::Kind &bodyPart, int slot)
{
    const auto found = std::find_if(Servos::All.begin(), Servos::All.end(), [&](const Servos::Servo &s) {
        return s.bodyPart.mnemonic == bodyPart.mnemonic && s.slot == slot;
    });
    return found == Servos::All.end() ? -1 : int(found - Servos::All.begin());
}

double ServoBank::positionOf(int number) const
{
    const int index = indexOfNumber(number);
    return index < 0 ? 0.0 : m_servos[size_t(index)].position;
}

void ServoBank::command(int index, int target, int speed)
{
    Servo &servo = m_servos[size_t(index)];
    servo.target = target;
    servo.speed = speed;
    if (speed == 0)
        servo.position = target;
}

bool ServoBank::advance(double seconds)
{
    for (Servo &servo : m_servos) {
        const double gap = servo.target - servo.position;
        if (gap == 0.0)
            continue;
        const double step = servo.speed * DegreesPerSecondPerStep * std::max(seconds, 0.0);
        servo.position = std::abs(gap) <= step ? double(servo.target) : servo.position + std::copysign(step, gap);
    }
    return moving();
}

bool ServoBank::moving() const
{
    return std::any_of(m_servos.begin(), m_servos.end(),
                       [](const Servo &s) { return s.position != double(s.target); });
}
