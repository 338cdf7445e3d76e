#include "sim/SimOptions.h"

#include "sim/Numbers.h"

#include <QCommandLineParser>
#include <QDir>

#include <algorithm>
#include <optional>

namespace {

// The fastest standard serial line Linux knows.
constexpr int MaxBaud = 4'000'000;

} // namespace

QString SimOptions::defaultLink()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = !runtime.isEmpty() && QDir(runtime).exists() ? runtime : QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("orvik-robot"));
}

SimOptions::Outcome SimOptions::parse(const QStringList &arguments, SimOptions &options, QString &message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The Orvik robot's controller on a pseudo-terminal, for the panel to talk to "
                       "without a robot.\nPrints the device on its first line; reads commands on "
                       "standard input (type help)."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help."));
    const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Show the version."));
    const QCommandLineOption linkOption(QStringLiteral("link"),
                                        QStringLiteral("Symbolic link to the device (default %1).").arg(defaultLink()),
                                        QStringLiteral("PATH"));
    const QCommandLineOption battery1Option(QStringLiteral("battery1"),
                                            QStringLiteral("Battery 1 reading in tenths, 0 to 255 (default 72)."),
                                            QStringLiteral("N"));
    const QCommandLineOption battery2Option(QStringLiteral("battery2"),
                                            QStringLiteral("Battery 2 reading in tenths, 0 to 255 (default 73)."),
                                            QStringLiteral("N"));
    const QCommandLineOption analogueOption(
        QStringLiteral("analogue"),
        QStringLiteral("Analogue input K (1 to 4) reads VALUE (0 to 65535); repeat for each input "
                       "(defaults 100, 200, 300, 400)."),
        QStringLiteral("K=VALUE"));
    const QCommandLineOption whiskersOption(
        QStringLiteral("whiskers"), QStringLiteral("Closed whiskers at start, bit 0 for whisker 1: 0 to 15."),
        QStringLiteral("BITS"));
    const QCommandLineOption headlessOption(QStringLiteral("headless"), QStringLiteral("Show no window."));
    const QCommandLineOption logOption(QStringLiteral("log"),
                                       QStringLiteral("Log every frame as a JSON line to FILE (- for standard output)."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption quitAtEofOption(
        QStringLiteral("quit-at-eof"),
        QStringLiteral("Quit when standard input ends (by default only quit or a signal stops it)."));
    const QCommandLineOption faultOption(
        QStringLiteral("fault"),
        QStringLiteral("Put a fault on the line; repeat for several. drop=P, duplicate=P, corrupt=P: that share of "
                       "the bytes sent (0.01 or 1%); garbage=EVERY: a burst of random bytes every EVERY; "
                       "stop-reading=EVERY:FOR: stop reading for FOR, every EVERY; hangup=EVERY:FOR: hang up for "
                       "FOR, every EVERY, then come back on the same link. Times: 2s, 200ms, 1min."),
        QStringLiteral("FAULT"));
    const QCommandLineOption seedOption(
        QStringLiteral("seed"), QStringLiteral("Seed of the faults' random choices, to repeat a run (default: new each run)."),
        QStringLiteral("N"));
    const QCommandLineOption baudOption(
        QStringLiteral("baud"),
        QStringLiteral("Read the panel's bytes at N baud, ten bits a byte, whatever speed the panel set on the line "
                       "(default: the panel's speed); 0 reads them as fast as they come."),
        QStringLiteral("N"));
    parser.addOptions({helpOption, versionOption, linkOption, battery1Option, battery2Option, analogueOption,
                       whiskersOption, headlessOption, logOption, quitAtEofOption, faultOption, seedOption,
                       baudOption});

    if (!parser.parse(arguments)) {
        message = parser.errorText();
        return Outcome::Error;
    }
    if (parser.isSet(helpOption)) {
        // Qt names the program after the running application, or "<executable_name>" before
        // there is one (the options decide which kind of application to make).
        const QString help = parser.helpText();
        const qsizetype usageEnd = std::max<qsizetype>(help.indexOf(u'\n'), 0);
        message = QStringLiteral("Usage: orvik-sim [options]") + help.sliced(usageEnd);
        return Outcome::Help;
    }
    if (parser.isSet(versionOption)) {
        message = QStringLiteral("orvik-sim 0.1");
        return Outcome::Version;
    }
    if (!parser.positionalArguments().isEmpty()) {
        message = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().front());
        return Outcome::Error;
    }

    options.link = parser.isSet(linkOption) ? parser.value(linkOption) : defaultLink();
    if (options.link.isEmpty()) {
        message = QStringLiteral("--link needs a path");
        return Outcome::Error;
    }
    options.headless = parser.isSet(headlessOption);
    options.quitAtEndOfInput = parser.isSet(quitAtEofOption);
    if (parser.isSet(logOption)) {
        options.logPath = parser.value(logOption);
        if (options.logPath.isEmpty()) {
            message = QStringLiteral("--log needs a file name, or - for standard output");
            return Outcome::Error;
        }
    }

    const std::array<const QCommandLineOption *, 2> batteryOptions{&battery1Option, &battery2Option};
    for (size_t k = 0; k < batteryOptions.size(); ++k) {
        if (!parser.isSet(*batteryOptions[k]))
            continue;
        const QString text = parser.value(*batteryOptions[k]);
        const auto value = Numbers::whole(text, 0, 255);
        if (!value) {
            message = QStringLiteral("--battery%1 takes a whole number from 0 to 255 (tenths), not \"%2\"")
                          .arg(k + 1)
                          .arg(text);
            return Outcome::Error;
        }
        options.batteries[k] = quint8(*value);
    }

    for (const QString &text : parser.values(analogueOption)) {
        const qsizetype equals = text.indexOf(u'=');
        const auto channel = equals > 0 ? Numbers::whole(text.left(equals), 1, 4) : std::nullopt;
        const auto value = equals > 0 ? Numbers::whole(text.sliced(equals + 1), 0, 65535) : std::nullopt;
        if (!channel || !value) {
            message = QStringLiteral("--analogue takes K=VALUE with K 1 to 4 and VALUE 0 to 65535, not \"%1\"").arg(text);
            return Outcome::Error;
        }
        options.analogues[size_t(*channel - 1)] = quint16(*value);
    }

    if (parser.isSet(whiskersOption)) {
        const QString text = parser.value(whiskersOption);
        const auto bits = Numbers::whole(text, 0, 15);
        if (!bits) {
            message = QStringLiteral("--whiskers takes 0 to 15 (bit 0 for whisker 1), not \"%1\"").arg(text);
            return Outcome::Error;
        }
        options.whiskers = quint8(*bits);
    }

    for (const QString &text : parser.values(faultOption)) {
        const QString why = LineFaults::parse(text, options.faults);
        if (!why.isEmpty()) {
            message = QStringLiteral("--fault: ") + why;
            return Outcome::Error;
        }
    }
    if (parser.isSet(seedOption)) {
        bool ok = false;
        const quint32 seed = parser.value(seedOption).toUInt(&ok);
        if (!ok) {
            message = QStringLiteral("--seed takes a whole number from 0 to 4294967295, not \"%1\"").arg(parser.value(seedOption));
            return Outcome::Error;
        }
        options.seed = seed;
    }
    if (parser.isSet(baudOption)) {
        const auto baud = Numbers::whole(parser.value(baudOption), 0, MaxBaud);
        if (!baud) {
            message = QStringLiteral("--baud takes a whole number from 0 to %1, not \"%2\"")
                          .arg(MaxBaud)
                          .arg(parser.value(baudOption));
            return Outcome::Error;
        }
        options.baud = *baud;
    }
    return Outcome::Run;
}
