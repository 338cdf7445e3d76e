#pragma once

#include <QString>

class Controller;

// The simulator's line commands, read from standard input by scripts and tests:
//
//   battery K N       battery K (1 or 2) reads N tenths (0 to 255)
//   analogue K N      analogue input K (1 to 4) reads N (0 to 65535)
//   whisker K on|off  closes or opens whisker K (1 to 4); a change sends "gws"
//   whiskers BITS     all four at once, bit k - 1 for whisker k (0 to 15, also 0x.. or 0b..)
//   servo N           where servo number N is: position, target and speed
//   screenshot FILE   saves a picture of the robot's window as PNG
//
// The simulator itself answers the commands that put faults on the line (see LineFaults):
//
//   fault FAULT        sets one fault as --fault does (drop=0 ends one); timings start now
//   faults            frames received, replies sent, what was injected and what it may have
//                     cost: "ok frames=… bad-bytes=… replies=… hit=… … line=up reading=yes"
//   hangup FOR        hangs the line up now, back after FOR (200ms, 2s); during a hang-up,
//                     moves its end to FOR from now (0: back at once)
//   stop-reading FOR  stops reading the panel's frames now for FOR; likewise
//   line              the speed the robot reads the panel's bytes at, and what set it:
//                     "ok baud=57600 bytes-per-second=5760 set-by=line" (or set-by=--baud)
//   help, quit
//
// Each command is answered by one line: "ok" (with the answer to a question), or
// "error: " and what was wrong. Blank lines and lines starting with # are ignored.
class ControlChannel
{
public:
    struct Result
    {
        QString reply;      // empty: nothing to answer
        bool quit = false;
        QString screenshot; // where to save a picture of the window, when asked for one
    };

    explicit ControlChannel(Controller &controller);

    Result execute(const QString &line);

    static QString help();

private:
    Controller &m_controller;
};
