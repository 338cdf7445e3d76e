#pragma once

#include "link/Frames.h"

#include <QString>

#include <array>
#include <functional>
#include <optional>

// Reassembles the controller's replies from the byte stream, one byte at a time.
class Sys_Project
{
public:
    enum class ReplyKind { Batteries, Analogue, Whiskers };

    struct Reply
    {
        ReplyKind kind;
        std::array<quint8, 3> data; // the data bytes after the mnemonic, unused ones 0

        // The decimal text of the reading in the "gav" reply, 0 to 65535.
        int analogueReading() const { return data[1] * 256 + data[2]; }
    };

    static constexpr int BufferSize = 8;
    static inline const QString NoCommand = QStringLiteral("none");

    Sys_Project() { Init_Reply_State(); }

    void Init_Reply_State();

    // Stores one received byte; returns the reply it completes, if any. The three bytes at
    // the head of the buffer must spell a reply mnemonic: when they do not, the oldest byte
    // is dropped, so a stream that lost or gained a byte falls back into step by itself and
    // nothing is ever stored past the buffer.
    std::optional<Reply> receive(quint8 byte);

    // Told of each byte dropped that way (the traffic monitor shows them); changes nothing.
    std::function<void(quint8)> onDiscard;

    std::array<quint8, BufferSize> Reply_Buffer{};
    short Reply_Index = 0;
    QString Reply_Command;
};
