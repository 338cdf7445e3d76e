#include "link/Servo_Moves.h"

#include "link/Frames.h"
#include "link/Robot_Profile.h"

QList<Servo_Moves::Move> Servo_Moves::of(QByteArrayView frame)
{
    QList<Move> moves;
    for (const Frames::Kind &kind : Frames::Moves) {
        if (frame.size() != kind.length()
            || frame.first(Frames::MnemonicLength) != QByteArrayView(kind.mnemonic.data(), Frames::MnemonicLength))
            continue;
        const qsizetype data = Frames::MnemonicLength;
        if (kind.mnemonic == Frames::SingleServo.mnemonic) {
            moves.append({quint8(frame[data]), data + 1, data + 2});
            return moves;
        }
        for (int slot = 1; slot * 2 <= kind.dataBytes; ++slot) {
            const int index = Robot_Profile::indexOfSlot(kind, slot);
            if (index >= 0)
                moves.append({Servos::All[size_t(index)].number, data + (slot - 1) * 2, data + (slot - 1) * 2 + 1});
        }
        return moves;
    }
    return moves;
}

QByteArray Gentle_Start::pass(QByteArrayView frame, int safeSpeed, bool slowFirst)
{
    QByteArray out = frame.toByteArray();
    for (const Servo_Moves::Move &move : Servo_Moves::of(frame)) {
        if (m_moved.test(size_t(move.number)))
            continue;
        m_moved.set(size_t(move.number));
        const int speed = quint8(out[move.speed]);
        if (slowFirst && (speed == 0 || speed > safeSpeed))
            out[move.speed] = char(safeSpeed);
    }
    return out;
}
