#pragma once

#include <QStringList>

class QTextStream;

// orvik's console uses, run without a window: `--check FILE.sct...` prints each file's
// problems (or "ok"); `--play FILE.sct [--port N | --device PATH] [--settings TEXT] [--loop]`
// plays a script on the robot, printing each action as it goes; `--help` and `--version`.
namespace Command_Line {

// Exit codes besides 0: a problem found or a failure, a command line that makes no sense,
// and a play stopped by Ctrl+C (128 + SIGINT, as shells report it).
inline constexpr int Failure = 1;
inline constexpr int Usage = 2;
inline constexpr int Interrupted = 130;

// True when the arguments ask for a console use rather than the window.
bool wanted(int argc, const char *const *argv);

// Runs the console use the arguments (program name first) ask for and returns the exit code.
// --play runs an event loop of its own until the script ends or Ctrl+C arrives.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace Command_Line
