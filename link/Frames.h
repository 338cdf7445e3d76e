#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QLocale>
#include <QString>

#include <array>
#include <optional>
#include <string_view>

// The byte protocol spoken with the robot's controller. A frame is a three-letter lower-case
// mnemonic followed by a fixed number of data bytes; nothing else delimits it, so the mnemonic
// alone tells a reader how many bytes follow. Data bytes are sent as they are: 0x67 ("g") or
// 0x00 inside a frame is an ordinary value.
namespace Frames {

inline constexpr int MnemonicLength = 3;

struct Kind
{
    std::string_view mnemonic;
    int dataBytes;

    constexpr int length() const { return MnemonicLength + int(dataBytes); }
};

// Panel to controller: moves (never answered) and queries.
inline constexpr Kind Eyebrows{"meb", 4};
inline constexpr Kind Eyes{"mre", 6};
inline constexpr Kind Neck{"mrn", 4};
inline constexpr Kind Mouth{"mrm", 8};
inline constexpr Kind LeftArm{"mla", 6};
inline constexpr Kind RightArm{"mra", 6};
inline constexpr Kind SingleServo{"mss", 3};
inline constexpr Kind BatteriesQuery{"gbv", 0};
inline constexpr Kind AnalogueQuery{"gav", 0};

// Controller to panel.
inline constexpr Kind BatteriesReply{"gbv", 2}; // battery 1, battery 2, in tenths
inline constexpr Kind AnalogueReply{"gav", 3};  // channel 1 to 4, high byte, low byte
inline constexpr Kind WhiskersReply{"gws", 1};  // bit k set: whisker k + 1 closed

inline constexpr std::array<Kind, 7> Moves{Eyebrows, Eyes, Neck, Mouth, LeftArm, RightArm, SingleServo};
inline constexpr std::array<Kind, 2> Queries{BatteriesQuery, AnalogueQuery};
inline constexpr std::array<Kind, 3> Replies{BatteriesReply, AnalogueReply, WhiskersReply};

// The mnemonic followed by the data bytes as given.
QByteArray frame(const Kind &kind, QByteArrayView data = {});

// An operator's text as one data byte: a decimal number in the given regional format, blanks
// around it allowed, taken to the nearest whole number with halves going to the even
// neighbour (2.5 gives 2, 3.5 gives 4), which must lie in 0 to 255. Anything else, the empty
// text included, gives no byte.
std::optional<quint8> textToByte(const QString &text, const QLocale &locale = QLocale());

// The same reading and rounding, for a value that must only fit a 32-bit signed integer
// (a script action's value, which is narrowed to a byte only when it is played).
std::optional<qint32> textToInt32(const QString &text, const QLocale &locale = QLocale());

} // namespace Frames
