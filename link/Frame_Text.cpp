#include "link/Frame_Text.h"

#include "link/Frames.h"
#include "link/Servos.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace {

struct PartName
{
    Frames::Kind kind;
    const char *name;
};

constexpr std::array<PartName, 6> PartNames{{
    {Frames::Eyebrows, "eyebrows"},
    {Frames::Eyes, "eyes"},
    {Frames::Neck, "neck"},
    {Frames::Mouth, "mouth"},
    {Frames::LeftArm, "left arm"},
    {Frames::RightArm, "right arm"},
}};

QLatin1StringView text(std::string_view view)
{
    return QLatin1StringView(view.data(), qsizetype(view.size()));
}

bool is(QByteArrayView frame, const Frames::Kind &kind)
{
    return frame.size() == kind.length() && frame.first(Frames::MnemonicLength) == QByteArrayView(kind.mnemonic);
}

quint8 byteAt(QByteArrayView frame, qsizetype offset)
{
    return quint8(frame[offset]);
}

// The servo's name without the words its body part already says: "Neck Pitch" in the neck is
// "pitch", "Left Elbow" in the left arm is "elbow".
QString slotName(const Frames::Kind &part, const char *partName, int slot)
{
    const auto servo = std::find_if(Servos::All.begin(), Servos::All.end(), [&](const Servos::Servo &s) {
        return s.bodyPart.mnemonic == part.mnemonic && s.slot == slot;
    });
    if (servo == Servos::All.end())
        return QStringLiteral("slot %1").arg(slot);
    const QStringList partWords = QString::fromLatin1(partName).split(u' ');
    QStringList words = text(servo->name).toString().toLower().split(u' ');
    words.removeIf([&](const QString &word) { return partWords.contains(word); });
    return words.join(u' ');
}

QString servoName(int number)
{
    const auto servo = std::find_if(Servos::All.begin(), Servos::All.end(),
                                    [&](const Servos::Servo &s) { return s.number == number; });
    return servo == Servos::All.end() ? QStringLiteral("unknown") : text(servo->name).toString().toLower();
}

QString tenths(quint8 value)
{
    return QString::number(value / 10.0, 'f', 1);
}

} // namespace

namespace Frame_Text {

Kind sentKind(QByteArrayView frame)
{
    for (const Frames::Kind &kind : Frames::Moves) {
        if (is(frame, kind))
            return Kind::Move;
    }
    for (const Frames::Kind &kind : Frames::Queries) {
        if (is(frame, kind))
            return Kind::Query;
    }
    return Kind::Unknown;
}

QString sent(QByteArrayView frame)
{
    for (const PartName &part : PartNames) {
        if (!is(frame, part.kind))
            continue;
        QStringList pairs;
        for (int slot = 1; slot <= part.kind.dataBytes / 2; ++slot)
            pairs << QStringLiteral("%1 %2 speed %3")
                         .arg(slotName(part.kind, part.name, slot))
                         .arg(byteAt(frame, 1 + 2 * slot))
                         .arg(byteAt(frame, 2 + 2 * slot));
        return QStringLiteral("%1: %2").arg(QLatin1StringView(part.name), pairs.join(QStringLiteral(", ")));
    }
    if (is(frame, Frames::SingleServo))
        return QStringLiteral("servo %1 (%2): position %3 speed %4")
            .arg(byteAt(frame, 3))
            .arg(servoName(byteAt(frame, 3)))
            .arg(byteAt(frame, 4))
            .arg(byteAt(frame, 5));
    if (is(frame, Frames::BatteriesQuery))
        return QStringLiteral("battery query");
    if (is(frame, Frames::AnalogueQuery))
        return QStringLiteral("analogue query");
    return QStringLiteral("unknown frame");
}

QString received(QByteArrayView frame)
{
    if (is(frame, Frames::BatteriesReply))
        return QStringLiteral("battery 1 %1 V, battery 2 %2 V").arg(tenths(byteAt(frame, 3)), tenths(byteAt(frame, 4)));
    if (is(frame, Frames::AnalogueReply))
        return QStringLiteral("analogue %1: %2").arg(byteAt(frame, 3)).arg(byteAt(frame, 4) * 256 + byteAt(frame, 5));
    if (is(frame, Frames::WhiskersReply)) {
        QStringList whiskers;
        for (int k = 0; k < 4; ++k)
            whiskers << QStringLiteral("%1 %2").arg(k + 1).arg(byteAt(frame, 3) & (1u << k) ? "on" : "off");
        return QStringLiteral("whiskers: %1").arg(whiskers.join(QStringLiteral(", ")));
    }
    return QStringLiteral("unknown frame");
}

} // namespace Frame_Text
