#pragma once

#include <QString>
#include <QStringList>

#include "sim/LineFaults.h"

#include <array>
#include <optional>

// The simulator's command line.
struct SimOptions
{
    enum class Outcome { Run, Help, Version, Error };

    QString link;        // where the symbolic link to the device goes
    QString logPath;     // empty: no log; "-": standard output
    bool headless = false;
    bool quitAtEndOfInput = false;
    std::array<quint8, 2> batteries{72, 73};
    std::array<quint16, 4> analogues{100, 200, 300, 400};
    quint8 whiskers = 0;
    LineFaults::Settings faults;
    std::optional<quint32> seed; // none: a new one each run
    std::optional<int> baud;     // none: the speed the panel sets on the line; 0: no pace

    // The link's default: orvik-robot in $XDG_RUNTIME_DIR, else in the temporary folder.
    static QString defaultLink();

    // Reads arguments (the program's name first). On Error, message says what was wrong;
    // on Help and Version it holds the text to print.
    static Outcome parse(const QStringList &arguments, SimOptions &options, QString &message);
};
