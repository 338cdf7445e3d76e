#pragma once

#include <QByteArray>
#include <QList>

class QIODevice;

// orvik's console uses, run without a window: `--check FILE.sct...` prints each file's
// problems (or "ok"); `--play FILE.sct [--port N | --device PATH] [--settings TEXT] [--loop]
// [--pause-on whisker[=N] | low-battery --low-battery VOLTS]` plays a script on the robot,
// printing each action as it goes; both take `--profile FILE`, whose ranges every move must
// keep to; `--help` and `--version`.
namespace Command_Line {

// Exit codes besides 0: a problem found or a failure (output that cannot be written
// included), a command line that makes no sense, a play stopped by what the robot reported
// (--pause-on), and a play stopped by a signal (128 + its number, as shells report it: 130
// for Ctrl+C, 143 for SIGTERM, 129 for SIGHUP).
inline constexpr int Failure = 1;
inline constexpr int Usage = 2;
inline constexpr int SensorStop = 3;
inline constexpr int Interrupted = 130;
constexpr int stoppedBy(int signal) { return 128 + signal; }

// True when the arguments ask for a console use rather than the window.
bool wanted(int argc, const char *const *argv);

// Points a closed standard descriptor (0, 1 or 2) at /dev/null, read-only, before anything
// else is opened: otherwise the next file opened, the serial port included, would take its
// number and get what is written to the closed stream. Writes to it still fail, as they
// would have.
void reserveStandardStreams();

// Runs the console use the arguments (program name first, as the bytes argv holds, so that
// a file name that is not valid text still opens and prints as given) ask for, writing to
// out and err, and returns the exit code. --play runs an event loop of its own until the
// script ends or a stop signal arrives.
int run(const QList<QByteArray> &arguments, QIODevice &out, QIODevice &err);

} // namespace Command_Line
