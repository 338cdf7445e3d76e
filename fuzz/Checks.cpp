#include "fuzz/Checks.h"

#include "link/Com.h"
#include "link/Frames.h"
#include "link/Robot_Profile.h"
#include "link/Sys_Project.h"
#include "link/Telnet_Com_Port.h"
#include "scripts/Script_File.h"
#include "sim/FrameReader.h"

#include <QLocale>

#include <array>
#include <cfenv>
#include <cmath>

namespace FuzzChecks {

namespace {

QString bytesText(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' '));
}

} // namespace

QString replyAssembly(QByteArrayView input)
{
    // The longest reply: "gav", channel, high byte, low byte.
    constexpr int LongestReply = Frames::AnalogueReply.length();
    // Data bytes without a "g" in them, so that no reply's tail can pass for the start of the next.
    const QByteArray known = QByteArray::fromHex("67627648496761760203046777730f");
    constexpr int KnownReplies = 3;

    Sys_Project replies;
    QList<Sys_Project::Reply> completed;
    auto feed = [&](QByteArrayView bytes) -> QString {
        for (const char byte : bytes) {
            if (const std::optional<Sys_Project::Reply> reply = replies.receive(quint8(byte)))
                completed.append(*reply);
            if (replies.Reply_Index < 0 || replies.Reply_Index >= LongestReply)
                return QStringLiteral("%1 bytes held after %2").arg(replies.Reply_Index).arg(bytesText(bytes));
        }
        return {};
    };
    if (QString why = feed(input); !why.isEmpty())
        return why;
    const qsizetype garbageReplies = completed.size();
    if (QString why = feed(known); !why.isEmpty())
        return why;

    // Whatever state the input left, it can cost at most the first reply after it.
    const QList<Sys_Project::Reply> after = completed.sliced(garbageReplies);
    if (after.size() < KnownReplies - 1 || after.size() > KnownReplies)
        return QStringLiteral("%1 of %2 well-formed replies recognised after the input").arg(after.size()).arg(KnownReplies);
    const Sys_Project::Reply &whiskers = after.last();
    const Sys_Project::Reply &analogue = after[after.size() - 2];
    if (whiskers.kind != Sys_Project::ReplyKind::Whiskers || whiskers.data[0] != 0x0f ||
        analogue.kind != Sys_Project::ReplyKind::Analogue || analogue.analogueReading() != 0x0304)
        return QStringLiteral("the replies after the input were misread");
    return {};
}

QString settingsText(QByteArrayView input)
{
    const QString text = QString::fromUtf8(input);
    const std::optional<Com::LineSettings> parsed = Com::LineSettings::parse(text);
    if (!parsed)
        return {};
    const QString readBack = parsed->text();
    if (readBack.contains(u' '))
        return QStringLiteral("\"%1\" reads back with blanks: \"%2\"").arg(text, readBack);
    const std::optional<Com::LineSettings> again = Com::LineSettings::parse(readBack);
    if (!again || again->baudRate != parsed->baudRate || again->parity != parsed->parity ||
        again->dataBits != parsed->dataBits || again->stopBits != parsed->stopBits)
        return QStringLiteral("\"%1\" reads back as \"%2\", which means other settings").arg(text, readBack);
    return {};
}

QString textToByte(QByteArrayView input)
{
    const QString text = QString::fromUtf8(input);
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::French, QLocale::France)}) {
        const std::optional<quint8> byte = Frames::textToByte(text, locale);
        // An independent reading of the same rule: the C library's rounding to nearest, ties to even.
        bool ok = false;
        const double value = locale.toDouble(text.trimmed(), &ok);
        std::fesetround(FE_TONEAREST);
        const double rounded = ok && std::isfinite(value) ? std::nearbyint(value) : -1.0;
        const bool expected = rounded >= 0.0 && rounded <= 255.0;
        if (byte.has_value() != expected || (byte && double(*byte) != rounded))
            return QStringLiteral("\"%1\" (%2) gave %3, not %4")
                .arg(text, locale.name(), byte ? QString::number(*byte) : QStringLiteral("no byte"),
                     expected ? QString::number(rounded) : QStringLiteral("no byte"));
    }
    return {};
}

QString scriptReader(QByteArrayView input)
{
    // A list and header that a refusal must leave exactly as they were.
    Action_List list;
    Add_Script_Action(list, {1, QStringLiteral("keep"), {7}, 1});
    Script_Header header{QStringLiteral("old"), QStringLiteral("01-01-2000"), QStringLiteral("X"), 1};
    QString why;
    if (!Parse_Script(input, list, header, &why)) {
        if (list.Nb_Action != 1 || list.Actions.size() != 1 || list.Actions[0].Command != u"keep" ||
            header.Script_Name != u"old" || header.Script_Nb_Action != 1)
            return QStringLiteral("refused (%1) but changed the script it was given").arg(why);
        if (why.isEmpty())
            return QStringLiteral("refused without a reason");
        return {};
    }

    Action_List loaded;
    Script_Header loadedHeader;
    if (!Parse_Script(input, loaded, loadedHeader, &why))
        return QStringLiteral("loaded once, refused the second time: %1").arg(why);
    if (loaded.Nb_Action != loadedHeader.Script_Nb_Action)
        return QStringLiteral("nb_action %1 but %2 actions loaded").arg(loadedHeader.Script_Nb_Action).arg(loaded.Nb_Action);
    QByteArray written;
    if (!Format_Script(loadedHeader.Script_Name, loadedHeader.Script_Date, loaded, written, &why))
        return {}; // the writer refuses what would not read back the same, and says so to the editor
    Action_List again;
    Script_Header againHeader;
    if (!Parse_Script(written, again, againHeader, &why))
        return QStringLiteral("what was loaded and written is refused: %1").arg(why);
    if (againHeader.Script_Name != loadedHeader.Script_Name || againHeader.Script_Date != loadedHeader.Script_Date ||
        again.Nb_Action != loaded.Nb_Action)
        return QStringLiteral("the header or the count changed on writing");
    for (qint32 i = 0; i < loaded.Nb_Action; ++i) {
        const Script_Action &a = loaded.Actions[i];
        const Script_Action &b = again.Actions[i];
        if (a.Number != b.Number || a.Command != b.Command || a.Values != b.Values || a.Nb_Values != b.Nb_Values)
            return QStringLiteral("action %1 changed on writing").arg(i + 1);
    }
    return {};
}

QString actionLines(QByteArrayView input)
{
    // The clipboard holds text: what the bytes decode to, as a paste would take it.
    const QString text = QString::fromUtf8(input);
    QList<Script_Action> actions{{1, QStringLiteral("keep"), {7}, 1}};
    QString why;
    if (!Parse_Action_Lines(text, actions, &why)) {
        if (actions.size() != 1 || actions[0].Command != u"keep")
            return QStringLiteral("refused (%1) but changed the actions it was given").arg(why);
        return why.isEmpty() ? QStringLiteral("refused without a reason") : QString();
    }
    // Accepted text copies back as text that pastes the same actions and copies back the same.
    const QString copied = Format_Action_Lines(actions);
    QList<Script_Action> again;
    if (!Parse_Action_Lines(copied, again, &why))
        return QStringLiteral("what was pasted copies back as text that is refused: %1").arg(why);
    if (again.size() != actions.size())
        return QStringLiteral("%1 actions pasted, %2 after copying").arg(actions.size()).arg(again.size());
    for (qsizetype i = 0; i < actions.size(); ++i)
        if (again[i].Command != actions[i].Command || again[i].Values != actions[i].Values
            || again[i].Nb_Values != actions[i].Values.size())
            return QStringLiteral("action %1 changed on copying").arg(i + 1);
    if (Format_Action_Lines(again) != copied)
        return QStringLiteral("copying twice gives another text");
    return {};
}

QString simFrameReader(QByteArrayView input)
{
    constexpr qsizetype LongestFrame = Frames::Mouth.length();
    auto read = [&](qsizetype piece, QByteArray &frames, QByteArray &bad) -> QString {
        FrameReader reader;
        for (qsizetype at = 0; at < input.size(); at += piece) {
            for (const FrameReader::Event &event : reader.feed(input.sliced(at, std::min(piece, input.size() - at)))) {
                if (event.isBad())
                    bad += event.data;
                else if (FrameReader::kindFor(event.mnemonic)->dataBytes != event.data.size())
                    return QStringLiteral("a %1 frame with %2 data bytes").arg(QString::fromLatin1(event.mnemonic)).arg(event.data.size());
                else
                    frames += event.mnemonic + event.data;
            }
            if (reader.pending() >= LongestFrame)
                return QStringLiteral("%1 bytes held for an unfinished frame").arg(reader.pending());
        }
        if (frames.size() + bad.size() + reader.pending() != input.size())
            return QStringLiteral("bytes lost or invented: %1 in, %2 out").arg(input.size()).arg(frames.size() + bad.size() + reader.pending());
        return {};
    };
    // Read in one piece, then byte by byte, as the line may deliver it: the same frames.
    QByteArray whole, wholeBad, single, singleBad;
    if (QString why = read(std::max<qsizetype>(input.size(), 1), whole, wholeBad); !why.isEmpty())
        return why;
    if (QString why = read(1, single, singleBad); !why.isEmpty())
        return why;
    if (whole != single || wholeBad != singleBad)
        return QStringLiteral("the frames depend on how the bytes were split");
    return {};
}

QString profileReader(QByteArrayView input)
{
    QString why;
    const std::optional<Robot_Profile> profile = Robot_Profile::parse(input, &why);
    if (!profile)
        return why.isEmpty() ? QStringLiteral("refused without a reason") : QString();
    if (const QString problem = profile->problem(); !problem.isEmpty())
        return QStringLiteral("accepted a profile with a problem: %1").arg(problem);
    // What it accepts writes and reads back as the same profile.
    const QByteArray written = profile->toJson();
    const std::optional<Robot_Profile> again = Robot_Profile::parse(written, &why);
    if (!again)
        return QStringLiteral("what was read and written is refused: %1").arg(why);
    if (!(*again == *profile))
        return QStringLiteral("the profile changed on writing");
    return {};
}

QString telnetReader(QByteArrayView input)
{
    using Telnet = Telnet_Com_Port;
    // Feeds a stream in pieces whose sizes cycle through sizes (whole when empty).
    auto read = [](QByteArrayView stream, QByteArrayView sizes) {
        Telnet telnet;
        telnet.start();
        Telnet::Received all;
        for (qsizetype at = 0, i = 0; at < stream.size(); ++i) {
            const qsizetype piece = sizes.isEmpty() ? stream.size() : quint8(sizes[i % sizes.size()]) % 7 + 1;
            const Telnet::Received part = telnet.receive(stream.sliced(at, std::min(piece, stream.size() - at)));
            all.data += part.data;
            all.commands += part.commands;
            all.answer += part.answer;
            at += piece;
        }
        return all;
    };

    // The input as the server's stream: the same reading however it is split, and nothing
    // held beyond one bounded subnegotiation.
    const Telnet::Received whole = read(input, {});
    for (const QByteArrayView sizes : {QByteArrayView("\0", 1), input}) {
        const Telnet::Received split = read(input, sizes);
        if (split.data != whole.data || split.commands != whole.commands || split.answer != whole.answer)
            return QStringLiteral("the stream reads differently when split");
    }
    if (whole.data.size() > input.size())
        return QStringLiteral("%1 data bytes out of %2 bytes").arg(whole.data.size()).arg(input.size());
    for (const Telnet::Command &command : whole.commands)
        if (command.payload.size() > Telnet::SubnegotiationLimit)
            return QStringLiteral("a subnegotiation of %1 bytes held").arg(command.payload.size());

    // The input as the line's data, with commands interleaved as a server may send them: the
    // data comes out as it went in, and each command as itself.
    QByteArray stream;
    QList<Telnet::Command> sent;
    for (qsizetype i = 0; i < input.size(); ++i) {
        const quint8 byte = quint8(input[i]);
        stream += Telnet::escape(input.sliced(i, 1));
        if ((byte ^ quint8(i)) % 5 != 0)
            continue;
        Telnet::Command command;
        switch ((byte + i) % 5) {
        case 0: command = {Telnet::NOP, 0, {}}; break;
        case 1: command = {Telnet::Break, 0, {}}; break;
        case 2: command = {quint8(Telnet::WILL + byte % 4), byte, {}}; break;
        default: command = {Telnet::SB, byte, input.sliced(i, std::min<qsizetype>(4, input.size() - i)).toByteArray()}; break;
        }
        stream += char(Telnet::IAC);
        stream += char(command.code);
        if (command.code >= Telnet::WILL)
            stream += char(command.option);
        if (command.code == Telnet::SB) {
            stream += char(command.option);
            stream += Telnet::escape(command.payload);
            stream += char(Telnet::IAC);
            stream += char(Telnet::SE);
        }
        sent.append(command);
    }
    const Telnet::Received got = read(stream, input);
    if (got.data != input)
        return QStringLiteral("data %1 came out as %2").arg(bytesText(input), bytesText(got.data));
    if (got.commands != sent)
        return QStringLiteral("%1 commands sent, %2 read, or read otherwise").arg(sent.size()).arg(got.commands.size());
    return {};
}

std::span<const Target> targets()
{
    static const std::array<Target, 8> all{{
        {"reply_assembly", replyAssembly},
        {"settings_text", settingsText},
        {"text_to_byte", textToByte},
        {"script_reader", scriptReader},
        {"sim_frame_reader", simFrameReader},
        {"action_lines", actionLines},
        {"profile_reader", profileReader},
        {"telnet_reader", telnetReader},
    }};
    return all;
}

} // namespace FuzzChecks
