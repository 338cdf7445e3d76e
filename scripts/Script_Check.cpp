#include "scripts/Script_Check.h"

#include "link/Frames.h"
#include "link/Servos.h"

#include <algorithm>

namespace {

constexpr qint32 LongestWait = 65535;

const Frames::Kind *moveKind(const QString &command)
{
    const auto found = std::find_if(Frames::Moves.begin(), Frames::Moves.end(), [&](const Frames::Kind &kind) {
        return command == QLatin1StringView(kind.mnemonic.data(), qsizetype(kind.mnemonic.size()));
    });
    return found == Frames::Moves.end() ? nullptr : &*found;
}

bool knownServo(qint32 number)
{
    return std::any_of(Servos::All.begin(), Servos::All.end(), [&](const Servos::Servo &s) { return s.number == number; });
}

QString valueCount(const QString &command, qsizetype wanted, qsizetype given)
{
    return QStringLiteral("\"%1\" takes %2 value%3, not %4").arg(command).arg(wanted).arg(wanted == 1 ? "" : "s").arg(given);
}

QStringList problemsOf(const Script_Action &action, bool last, const Robot_Profile &profile)
{
    QStringList problems;
    const QList<qint32> &values = action.Values;
    if (const Frames::Kind *kind = moveKind(action.Command)) {
        if (values.size() != kind->dataBytes)
            problems << valueCount(action.Command, kind->dataBytes, values.size());
        const auto notByte = std::find_if(values.begin(), values.end(), [](qint32 v) { return v < 0 || v > 255; });
        if (notByte != values.end())
            problems << QStringLiteral("the value %1 is not between 0 and 255").arg(*notByte);
        else if (const QString outside = profile.moveRefusal(*kind, values); !outside.isEmpty())
            problems << outside;
        if (kind->mnemonic == Frames::SingleServo.mnemonic && !values.isEmpty() && !knownServo(values[0]))
            problems << QStringLiteral("no servo has the number %1").arg(values[0]);
    } else if (action.Command == u"wait") {
        if (values.size() != 1)
            problems << valueCount(action.Command, 1, values.size());
        if (!values.isEmpty() && (values[0] < 1 || values[0] > LongestWait))
            problems << QStringLiteral("a wait of %1 ms is not between 1 and %2").arg(values[0]).arg(LongestWait);
    } else if (action.Command == u"end") {
        if (values.size() != 1)
            problems << valueCount(action.Command, 1, values.size());
        if (!last)
            problems << QStringLiteral("\"end\" before the last action does nothing");
    } else {
        problems << QStringLiteral("\"%1\" is no action the player knows").arg(action.Command);
    }
    if (last && action.Command != u"end")
        problems << QStringLiteral("the script does not end with \"end\"");
    return problems;
}

} // namespace

QList<Script_Problem> Check_Script_Actions(const Action_List &List, const Robot_Profile &Profile)
{
    QList<Script_Problem> found;
    const qint32 count = qint32(std::min<qsizetype>(List.Nb_Action, List.Actions.size()));
    for (qint32 i = 0; i < count; ++i) {
        const QStringList problems = problemsOf(List.Actions.at(i), i == count - 1, Profile);
        if (!problems.isEmpty())
            found.append({i, problems.join(QStringLiteral("; "))});
    }
    return found;
}
