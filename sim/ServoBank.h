#pragma once

#include "link/Frames.h"
#include "link/Servos.h"

#include <array>

// The 17 servos of the robot, in the order of Servos::All, each moving from where it is
// towards the last position it was sent.
//
// Speed model: a speed byte of 0 sends a servo to its target at once; any other value s
// moves it at s x 4 degrees per second (10: 40 degrees per second, 45: half a turn in one
// second, 255: 1020 degrees per second, as fast as a hobby servo goes). It grows in a
// straight line with the byte, so the panel's speed boxes feel even across their range.
class ServoBank
{
public:
    static constexpr int Count = int(Servos::All.size());
    static constexpr double DegreesPerSecondPerStep = 4.0;

    struct Servo
    {
        double position = 0; // degrees, where the servo is now
        int target = 0;      // degrees, where it was last sent
        int speed = 0;       // the speed byte it was sent with
    };

    ServoBank(); // every servo at rest in its neutral position

    // Where the servo in Servos::All[index] rests when the robot starts: eyebrows, eyes and
    // mouth at 45 degrees, the neck at 90, the arms at 0 (hanging down).
    static int neutral(int index);
    // The index in Servos::All of the servo with the controller's number, or -1.
    static int indexOfNumber(int number);
    // The index of the servo in slot (1-based) of a body-part frame, or -1.
    static int indexOfSlot(const Frames::Kind &bodyPart, int slot);

    const Servo &servo(int index) const { return m_servos[size_t(index)]; }
    // Position of the servo with the controller's number (its neutral one for an unknown number).
    double positionOf(int number) const;

    void command(int index, int target, int speed);
    // Moves every servo on by the given time; returns whether any is still on its way.
    bool advance(double seconds);
    bool moving() const;

private:
    std::array<Servo, Count> m_servos{};
};
