#include "link/Sys_Project.h"

#include <algorithm>

namespace {

struct ReplyFrame
{
    Frames::Kind frame;
    Sys_Project::ReplyKind kind;
};

constexpr std::array<ReplyFrame, 3> ReplyFrames{{
    {Frames::BatteriesReply, Sys_Project::ReplyKind::Batteries},
    {Frames::AnalogueReply, Sys_Project::ReplyKind::Analogue},
    {Frames::WhiskersReply, Sys_Project::ReplyKind::Whiskers},
}};

const ReplyFrame *replyFrame(const QString &mnemonic)
{
    const auto found = std::find_if(ReplyFrames.begin(), ReplyFrames.end(), [&](const ReplyFrame &r) {
        return mnemonic == QLatin1StringView(r.frame.mnemonic.data(), qsizetype(r.frame.mnemonic.size()));
    });
    return found == ReplyFrames.end() ? nullptr : &*found;
}

} // namespace

void Sys_Project::Init_Reply_State()
{
    Reply_Command = NoCommand;
    Reply_Index = 0;
    Reply_Buffer.fill(0);
}

std::optional<Sys_Project::Reply> Sys_Project::receive(quint8 byte)
{
    Reply_Buffer[size_t(Reply_Index)] = byte;

    if (Reply_Index == Frames::MnemonicLength - 1) {
        const QString mnemonic =
            QString::fromLatin1(reinterpret_cast<const char *>(Reply_Buffer.data()), Frames::MnemonicLength);
        if (!replyFrame(mnemonic)) {
            // Out of step: drop the oldest byte and wait for the next one in its place.
            if (onDiscard)
                onDiscard(Reply_Buffer[0]);
            std::copy(Reply_Buffer.begin() + 1, Reply_Buffer.begin() + Frames::MnemonicLength, Reply_Buffer.begin());
            Reply_Buffer[size_t(Reply_Index)] = 0;
            return std::nullopt;
        }
        Reply_Command = mnemonic;
    }

    if (Reply_Index >= Frames::MnemonicLength) {
        const ReplyFrame *reply = replyFrame(Reply_Command);
        if (reply && Reply_Index == reply->frame.length() - 1) {
            Reply complete{reply->kind, {}};
            std::copy_n(Reply_Buffer.begin() + Frames::MnemonicLength, reply->frame.dataBytes, complete.data.begin());
            Init_Reply_State();
            return complete;
        }
    }
    ++Reply_Index;
    return std::nullopt;
}
