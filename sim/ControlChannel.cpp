#include "sim/ControlChannel.h"

#include "link/Servos.h"
#include "sim/Controller.h"
#include "sim/Numbers.h"

#include <QStringList>

#include <optional>

namespace {

ControlChannel::Result answer(const QString &text)
{
    ControlChannel::Result result;
    result.reply = text;
    return result;
}

ControlChannel::Result error(const QString &text)
{
    return answer(QStringLiteral("error: ") + text);
}

std::optional<bool> closedFrom(const QString &word)
{
    const QString w = word.toLower();
    if (w == u"on" || w == u"1" || w == u"closed" || w == u"close")
        return true;
    if (w == u"off" || w == u"0" || w == u"open")
        return false;
    return std::nullopt;
}

} // namespace

ControlChannel::ControlChannel(Controller &controller)
    : m_controller(controller)
{
}

QString ControlChannel::help()
{
    return QStringLiteral("ok commands: battery K N | analogue K N | whisker K on|off | whiskers BITS | "
                          "servo N | screenshot FILE | fault FAULT (as --fault; drop=0 ends one) | faults | "
                          "hangup FOR | stop-reading FOR | line | help | quit");
}

ControlChannel::Result ControlChannel::execute(const QString &line)
{
    const QStringList words = line.simplified().split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty() || words.front().startsWith(u'#'))
        return Result();
    const QString command = words.front().toLower();
    const qsizetype arguments = words.size() - 1;

    if (command == u"battery") {
        const auto k = arguments == 2 ? Numbers::whole(words[1], 1, Controller::BatteryCount) : std::nullopt;
        const auto value = arguments == 2 ? Numbers::whole(words[2], 0, 255) : std::nullopt;
        if (!k || !value)
            return error(QStringLiteral("usage: battery K N, with K 1 or 2 and N 0 to 255 (tenths)"));
        m_controller.setBattery(*k, quint8(*value));
        return answer(QStringLiteral("ok"));
    }
    if (command == u"analogue" || command == u"analog") {
        const auto k = arguments == 2 ? Numbers::whole(words[1], 1, Controller::AnalogueCount) : std::nullopt;
        const auto value = arguments == 2 ? Numbers::whole(words[2], 0, 65535) : std::nullopt;
        if (!k || !value)
            return error(QStringLiteral("usage: analogue K N, with K 1 to 4 and N 0 to 65535"));
        m_controller.setAnalogue(*k, quint16(*value));
        return answer(QStringLiteral("ok"));
    }
    if (command == u"whisker") {
        const auto k = arguments == 2 ? Numbers::whole(words[1], 1, Controller::WhiskerCount) : std::nullopt;
        const auto closed = arguments == 2 ? closedFrom(words[2]) : std::nullopt;
        if (!k || !closed)
            return error(QStringLiteral("usage: whisker K on|off, with K 1 to 4"));
        m_controller.setWhisker(*k, *closed);
        return answer(QStringLiteral("ok"));
    }
    if (command == u"whiskers") {
        const auto bits = arguments == 1 ? Numbers::whole(words[1], 0, (1 << Controller::WhiskerCount) - 1) : std::nullopt;
        if (!bits)
            return error(QStringLiteral("usage: whiskers BITS, 0 to 15 (bit 0 is whisker 1)"));
        m_controller.setWhiskers(quint8(*bits));
        return answer(QStringLiteral("ok"));
    }
    if (command == u"servo") {
        const auto n = arguments == 1 ? Numbers::whole(words[1], 0, 255) : std::nullopt;
        const int index = n ? ServoBank::indexOfNumber(*n) : -1;
        if (index < 0)
            return error(QStringLiteral("usage: servo N, with N the number of one of the 17 servos"));
        const ServoBank::Servo &servo = m_controller.servos().servo(index);
        return answer(QStringLiteral("ok servo %1 (%2) position %3 target %4 speed %5")
                    .arg(*n)
                    .arg(QLatin1StringView(Servos::All[size_t(index)].name.data(),
                                           qsizetype(Servos::All[size_t(index)].name.size())))
                    .arg(servo.position, 0, 'f', 1)
                    .arg(servo.target)
                    .arg(servo.speed));
    }
    if (command == u"screenshot") {
        if (arguments < 1)
            return error(QStringLiteral("usage: screenshot FILE"));
        // The file name may hold blanks: everything after the command word.
        const QString trimmed = line.trimmed();
        Result result;
        result.screenshot = trimmed.sliced(words.front().size()).trimmed();
        return result;
    }
    if (command == u"help" && arguments == 0)
        return answer(help());
    if (command == u"quit" && arguments == 0) {
        Result result = answer(QStringLiteral("ok"));
        result.quit = true;
        return result;
    }
    return error(QStringLiteral("unknown command \"%1\" (try: help)").arg(line.trimmed()));
}
