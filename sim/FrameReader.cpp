#include "sim/FrameReader.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace {

constexpr std::array<Frames::Kind, Frames::Moves.size() + Frames::Queries.size()> Understood{
    Frames::Eyebrows, Frames::Eyes,       Frames::Neck,           Frames::Mouth,        Frames::LeftArm,
    Frames::RightArm, Frames::SingleServo, Frames::BatteriesQuery, Frames::AnalogueQuery,
};

QByteArrayView mnemonicOf(const Frames::Kind &kind)
{
    return QByteArrayView(kind.mnemonic.data(), qsizetype(kind.mnemonic.size()));
}

} // namespace

QString FrameReader::Event::toString() const
{
    QStringList words{isBad() ? QStringLiteral("bad") : QString::fromLatin1(mnemonic)};
    for (const char byte : data)
        words.append(QString::number(quint8(byte)));
    return words.join(u' ');
}

const Frames::Kind *FrameReader::kindFor(QByteArrayView mnemonic)
{
    const auto found = std::find_if(Understood.begin(), Understood.end(),
                                    [&](const Frames::Kind &kind) { return mnemonicOf(kind) == mnemonic; });
    return found == Understood.end() ? nullptr : &*found;
}

bool FrameReader::startsMnemonic(QByteArrayView bytes)
{
    return std::any_of(Understood.begin(), Understood.end(),
                       [&](const Frames::Kind &kind) { return mnemonicOf(kind).startsWith(bytes); });
}

QList<FrameReader::Event> FrameReader::feed(QByteArrayView bytes)
{
    m_pending.append(bytes);

    QList<Event> events;
    QByteArray bad;
    auto endBadRun = [&] {
        if (!bad.isEmpty())
            events.append({QByteArray(), bad});
        bad.clear();
    };

    qsizetype at = 0;
    while (at < m_pending.size()) {
        const QByteArrayView rest = QByteArrayView(m_pending).sliced(at);
        if (rest.size() < Frames::MnemonicLength) {
            if (startsMnemonic(rest))
                break;
            bad.append(rest.front());
            ++at;
            continue;
        }
        const Frames::Kind *kind = kindFor(rest.first(Frames::MnemonicLength));
        if (!kind) {
            bad.append(rest.front());
            ++at;
            continue;
        }
        endBadRun();
        if (rest.size() < kind->length())
            break;
        events.append({rest.first(Frames::MnemonicLength).toByteArray(),
                       rest.sliced(Frames::MnemonicLength, kind->dataBytes).toByteArray()});
        at += kind->length();
    }
    endBadRun();
    m_pending.remove(0, at);
    return events;
}
