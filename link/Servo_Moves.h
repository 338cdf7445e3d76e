#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <bitset>

// Where the servos' positions and speeds lie in a move frame as it goes to the robot.
namespace Servo_Moves {

struct Move
{
    int number;         // the servo, as the controller numbers it
    qsizetype position; // offsets of its bytes in the frame
    qsizetype speed;
};

// The servos a whole move frame drives; none for a query or a frame of the wrong length.
QList<Move> of(QByteArrayView frame);

} // namespace Servo_Moves

// Gentle first moves: the first frame to each servo after the port opens goes at the safe
// speed when its own speed is 0 (the fastest) or faster than the safe one; later frames go as
// set. Every frame passes through it, so that a servo moved while the option was off counts as
// moved.
class Gentle_Start
{
public:
    void reset() { m_moved.reset(); }
    QByteArray pass(QByteArrayView frame, int safeSpeed, bool slowFirst);

private:
    std::bitset<256> m_moved;
};
