#include "scripts/Script_File.h"

#include "scripts/Profile_Text.h"
#include "ui/Save_Target.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

namespace {

constexpr qint32 MaxActions = 32767;
const QString ActionKey = QStringLiteral("action_");

bool fail(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return false;
}

// A whole decimal number: an optional sign and digits, blanks around it allowed, within 32 bits.
enum class Number { Ok, Empty, NotWhole, OutOfRange };

Number toNumber(QStringView field, qint32 &result)
{
    const QStringView text = Profile_Text::trimBlanks(field);
    if (text.isEmpty())
        return Number::Empty;
    qsizetype i = 0;
    const bool negative = text[0] == u'-';
    if (text[0] == u'-' || text[0] == u'+')
        ++i;
    if (i == text.size())
        return Number::NotWhole;
    qint64 magnitude = 0;
    bool tooLarge = false;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return Number::NotWhole;
        if (!tooLarge) {
            magnitude = magnitude * 10 + (c - u'0');
            tooLarge = magnitude > qint64(1) << 31;
        }
    }
    const qint64 value = negative ? -magnitude : magnitude;
    if (tooLarge || value < INT32_MIN || value > INT32_MAX)
        return Number::OutOfRange;
    result = qint32(value);
    return Number::Ok;
}

// The action number k of a key spelled exactly "action_" and k (any letter case), k within
// what a script can hold; 0 for any other key.
qint32 actionNumber(QStringView key)
{
    if (key.size() <= ActionKey.size() || key.size() > ActionKey.size() + 5
        || !Profile_Text::sameName(key.first(ActionKey.size()), ActionKey))
        return 0;
    const QStringView digits = key.sliced(ActionKey.size());
    if (digits[0] == u'0')
        return 0;
    qint32 k = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return 0;
        k = k * 10 + (c.unicode() - u'0');
    }
    return k <= MaxActions ? k : 0;
}

// A script saved as UTF-16 (by a Windows editor, say) holds its text with a NUL beside every
// ASCII character, so it reads as a file without sections; better to say what it is.
bool looksLikeUtf16(QByteArrayView bytes)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return true;
    const qsizetype pairs = std::min<qsizetype>(bytes.size(), 1024) / 2;
    qsizetype littleEndian = 0, bigEndian = 0;
    for (qsizetype i = 0; i < pairs; ++i) {
        const bool firstNul = bytes[2 * i] == '\0';
        const bool secondNul = bytes[2 * i + 1] == '\0';
        littleEndian += !firstNul && secondNul;
        bigEndian += firstNul && !secondNul;
    }
    return pairs > 0 && std::max(littleEndian, bigEndian) * 2 >= pairs;
}

QString quoted(QStringView text)
{
    return u'"' + text.toString() + u'"';
}

// name is how a refusal calls the line: "action_3" in a file, "line 3" on the clipboard.
bool parseAction(const QString &name, qint32 k, QStringView text, Script_Action &action, QString *why)
{
    // Cutting it to the value length would load a number cut short, and the robot would get a
    // move the file does not hold.
    if (text.size() > Profile_Text::MaxValueLength)
        return fail(why, QStringLiteral("%1 is longer than %2 characters").arg(name).arg(Profile_Text::MaxValueLength));
    const qsizetype firstSeparator = text.indexOf(u';');
    if (firstSeparator < 0)
        return fail(why, QStringLiteral("%1 has no value").arg(name));
    action.Number = k;
    action.Command = text.first(firstSeparator).toString();
    action.Values.clear();
    qint32 field = 0;
    for (const QStringView valueText : text.sliced(firstSeparator + 1).tokenize(u';')) {
        ++field;
        qint32 value = 0;
        switch (toNumber(valueText, value)) {
        case Number::Ok:
            action.Values.append(value);
            break;
        case Number::Empty:
            return fail(why, QStringLiteral("%1: value %2 is empty").arg(name).arg(field));
        case Number::NotWhole:
            return fail(why, QStringLiteral("%1: value %2 %3 is not a whole number")
                                 .arg(name).arg(field).arg(quoted(valueText)));
        case Number::OutOfRange:
            return fail(why, QStringLiteral("%1: value %2 %3 is outside %4 to %5")
                                 .arg(name).arg(field).arg(quoted(valueText)).arg(INT32_MIN).arg(INT32_MAX));
        }
    }
    action.Nb_Values = qint32(action.Values.size());
    return true;
}

} // namespace

bool Parse_Script(QByteArrayView Bytes, Action_List &List, Script_Header &Header, QString *Why)
{
    const QString text = Profile_Text::decode(Bytes);

    // One pass: only the first [GENERAL] and the first [COMMANDS] count, and in each the first
    // line of a key, as a per-key profile read would find them.
    enum { Elsewhere, General, Commands } in = Elsewhere;
    bool seenGeneral = false;
    bool seenCommands = false;
    std::optional<QStringView> name, date, software, count;
    std::vector<std::optional<QStringView>> actionText;

    Profile_Text::Line_Reader reader(text);
    Profile_Text::Line line;
    while (reader.next(line)) {
        if (line.kind == Profile_Text::Line::Section) {
            in = Elsewhere;
            if (!seenGeneral && Profile_Text::sameName(line.name, u"GENERAL")) {
                in = General;
                seenGeneral = true;
            } else if (!seenCommands && Profile_Text::sameName(line.name, u"COMMANDS")) {
                in = Commands;
                seenCommands = true;
            }
            continue;
        }
        if (line.kind != Profile_Text::Line::Key || in == Elsewhere)
            continue;
        auto take = [&line](std::optional<QStringView> &slot) {
            if (!slot)
                slot = Profile_Text::value(line.value);
        };
        if (in == General) {
            if (Profile_Text::sameName(line.name, u"name"))
                take(name);
            else if (Profile_Text::sameName(line.name, u"date"))
                take(date);
            else if (Profile_Text::sameName(line.name, u"software"))
                take(software);
        } else if (Profile_Text::sameName(line.name, u"nb_action")) {
            take(count);
        } else if (const qint32 k = actionNumber(line.name)) {
            if (actionText.size() <= size_t(k))
                actionText.resize(size_t(k) + 1);
            // Kept whole: an action line is never cut to the value length (see parseAction).
            if (!actionText[size_t(k)])
                actionText[size_t(k)] = Profile_Text::trimBlanks(line.value);
        }
    }

    if (!seenCommands)
        return fail(Why, looksLikeUtf16(Bytes) ? QStringLiteral("the file is UTF-16 text, not a script file in this "
                                                                "program's encoding (UTF-8 or Windows-1252)")
                                               : QStringLiteral("[COMMANDS] is missing"));
    if (!count)
        return fail(Why, QStringLiteral("nb_action is missing"));
    qint32 nbAction = 0;
    const Number countIs = toNumber(*count, nbAction);
    if (countIs == Number::Empty)
        return fail(Why, QStringLiteral("nb_action is empty"));
    if (countIs == Number::NotWhole)
        return fail(Why, QStringLiteral("nb_action %1 is not a whole number").arg(quoted(*count)));
    if (countIs == Number::OutOfRange || nbAction < 0 || nbAction > MaxActions)
        return fail(Why, QStringLiteral("nb_action %1 is outside 0 to %2").arg(quoted(*count)).arg(MaxActions));

    // Lines beyond the declared count are ignored.
    QList<Script_Action> actions(nbAction);
    for (qint32 k = 1; k <= nbAction; ++k) {
        if (actionText.size() <= size_t(k) || !actionText[size_t(k)])
            return fail(Why, QStringLiteral("%1%2 is missing").arg(ActionKey).arg(k));
        if (!parseAction(ActionKey + QString::number(k), k, *actionText[size_t(k)], actions[k - 1], Why))
            return false;
    }

    Header.Script_Name = name.value_or(QStringView()).toString();
    Header.Script_Date = date.value_or(QStringView()).toString();
    Header.Script_Software = software.value_or(QStringView()).toString();
    Header.Script_Nb_Action = nbAction;
    if (List.Nb_Action == 0) {
        // Numbers 1 to N are unique, so adding one by one would only append: done at once.
        if (nbAction > 0) {
            List.Actions = std::move(actions);
            List.Nb_Action = nbAction;
        }
    } else {
        for (const Script_Action &action : std::as_const(actions))
            Add_Script_Action(List, action);
    }
    return true;
}

bool Read_Script_File(const QString &File_Name, Action_List &List, Script_Header &Header, QString *Why)
{
    QByteArray bytes;
    if (!Profile_Text::readFile(File_Name, bytes, Why))
        return false;
    return Parse_Script(bytes, List, Header, Why);
}

bool Read_Script_File(QFile &File, Action_List &List, Script_Header &Header, QString *Why)
{
    // A pipe or a terminal would hold the reader up; a folder has no bytes to read.
    if (File.isSequential())
        return fail(Why, QStringLiteral("not a regular file"));
    const QString tooLarge = QStringLiteral("the file is larger than %1 MB").arg(Profile_Text::MaxFileSize >> 20);
    if (File.size() > Profile_Text::MaxFileSize)
        return fail(Why, tooLarge);
    const QByteArray bytes = File.read(Profile_Text::MaxFileSize + 1);
    if (File.error() != QFileDevice::NoError)
        return fail(Why, QStringLiteral("cannot be read: %1").arg(File.errorString()));
    if (bytes.size() > Profile_Text::MaxFileSize)
        return fail(Why, tooLarge);
    return Parse_Script(bytes, List, Header, Why);
}

bool Format_Script(const QString &Title, const QString &Date, const Action_List &List, QByteArray &Bytes,
                   QString *Why)
{
    auto hasLineBreak = [](const QString &text) {
        return text.contains(u'\n') || text.contains(u'\r');
    };
    if (hasLineBreak(Title))
        return fail(Why, QStringLiteral("the title holds a line break"));
    if (hasLineBreak(Date))
        return fail(Why, QStringLiteral("the date holds a line break"));
    // The reader keeps no more of a value than this.
    if (Title.size() > Profile_Text::MaxValueLength)
        return fail(Why, QStringLiteral("the title is longer than %1 characters").arg(Profile_Text::MaxValueLength));
    if (Date.size() > Profile_Text::MaxValueLength)
        return fail(Why, QStringLiteral("the date is longer than %1 characters").arg(Profile_Text::MaxValueLength));
    if (List.Nb_Action < 0 || List.Nb_Action > List.Actions.size())
        return fail(Why, QStringLiteral("the list counts %1 actions but holds %2")
                             .arg(List.Nb_Action).arg(List.Actions.size()));
    if (List.Nb_Action > MaxActions)
        return fail(Why, QStringLiteral("the script holds %1 actions, more than %2").arg(List.Nb_Action).arg(MaxActions));

    QString text;
    text.reserve(64 + qsizetype(List.Nb_Action) * 40);
    text += QStringLiteral("[GENERAL]\r\nsoftware=ORVIK\r\nName=") + Title + QStringLiteral("\r\nDate=") + Date
            + QStringLiteral("\r\n[COMMANDS]\r\nnb_action=") + QString::number(List.Nb_Action) + QStringLiteral("\r\n");
    QString line;
    for (qint32 i = 0; i < List.Nb_Action; ++i) {
        const Script_Action &action = List.Actions[i];
        const QString name = ActionKey + QString::number(i + 1);
        // Each of these would read back as something else, or not at all.
        if (action.Values.isEmpty())
            return fail(Why, QStringLiteral("%1 has no value").arg(name));
        if (action.Command.contains(u';') || hasLineBreak(action.Command))
            return fail(Why, QStringLiteral("%1: the command %2 holds \";\" or a line break")
                                 .arg(name, quoted(action.Command)));
        line = action.Command;
        for (const qint32 value : action.Values)
            line += u';' + QString::number(value);
        if (line.size() > Profile_Text::MaxValueLength)
            return fail(Why, QStringLiteral("%1 is longer than %2 characters").arg(name).arg(Profile_Text::MaxValueLength));
        text += name + u'=' + line + QStringLiteral("\r\n");
    }
    Bytes = text.toUtf8();
    return true;
}

bool Write_Script_File(const QString &File_Name, const QString &Title, const QString &Date,
                       const Action_List &List, QString *Why)
{
    const QString path = QDir::toNativeSeparators(File_Name);
    auto failWith = [Why, &path](const QString &reason) {
        return fail(Why, QStringLiteral("%1: %2").arg(path, reason));
    };
    QByteArray bytes;
    QString reason;
    if (!Format_Script(Title, Date, List, bytes, &reason))
        return failWith(reason);

    // QSaveFile would put a file in place of a named pipe or a device.
    if (const QString refusal = Save_Target::refusal(File_Name); !refusal.isEmpty())
        return failWith(refusal);
    // QSaveFile refuses it too, but with a reason that repeats the path.
    const QFileInfo existing(File_Name);
    if (existing.exists() && !existing.isWritable())
        return failWith(QStringLiteral("the file is read-only"));

    QSaveFile file(File_Name);
    if (!file.open(QIODevice::WriteOnly))
        return failWith(file.errorString());
    // A commit after a failed write or flush may still put the truncated file in place of the
    // old one, so the save is cancelled instead. Qt leaves the reason of a short write or a
    // failed flush unsaid ("Unknown error"): the system's own is taken.
    errno = 0;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    if (!written) {
        reason = errno != 0 ? qt_error_string(errno) : QStringLiteral("not all of it could be written");
        file.cancelWriting();
        return failWith(reason);
    }
    if (!file.commit())
        return failWith(file.errorString());
    return true;
}

QString Format_Action_Lines(const QList<Script_Action> &Actions)
{
    QString text;
    for (qsizetype i = 0; i < Actions.size(); ++i) {
        const Script_Action &action = Actions[i];
        // A line with "=" is read as name=value, so such a command keeps a name in front.
        if (action.Command.contains(u'='))
            text += ActionKey + QString::number(std::min<qsizetype>(i + 1, MaxActions)) + u'=';
        text += action.Command;
        for (const qint32 value : action.Values)
            text += u';' + QString::number(value);
        text += u'\n';
    }
    return text;
}

bool Parse_Action_Lines(QStringView Text, QList<Script_Action> &Actions, QString *Why)
{
    QList<Script_Action> parsed;
    qint32 lineNumber = 0;
    qsizetype at = 0;
    while (at < Text.size()) {
        qsizetype end = at;
        while (end < Text.size() && Text[end] != u'\n' && Text[end] != u'\r')
            ++end;
        QStringView line = Profile_Text::trimBlanks(Text.sliced(at, end - at));
        ++lineNumber;
        // CR LF, LF or a lone CR end a line.
        at = end + (end + 1 < Text.size() && Text[end] == u'\r' && Text[end + 1] == u'\n' ? 2 : 1);
        if (line.isEmpty())
            continue;
        const QString name = QStringLiteral("line %1").arg(lineNumber);
        if (const qsizetype equals = line.indexOf(u'='); equals >= 0) {
            const QStringView key = Profile_Text::trimBlanks(line.first(equals));
            if (actionNumber(key) == 0)
                return fail(Why, QStringLiteral("%1 starts with %2, which names no action")
                                     .arg(name, quoted(key.toString() + u'=')));
            line = Profile_Text::trimBlanks(line.sliced(equals + 1));
        }
        Script_Action action;
        if (!parseAction(name, qint32(parsed.size() + 1), line, action, Why))
            return false;
        parsed.append(std::move(action));
    }
    if (parsed.isEmpty())
        return fail(Why, QStringLiteral("the text holds no action"));
    Actions = std::move(parsed);
    return true;
}
