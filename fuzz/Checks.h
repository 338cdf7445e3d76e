#pragma once

#include <QByteArrayView>
#include <QString>

#include <span>

// The properties every reader of untrusted input must keep, checked on one input. Each check
// returns an empty text when the input passed, else what went wrong. The fuzzers and the
// corpus replay in the test suite run the very same checks.
namespace FuzzChecks {

struct Target
{
    const char *name; // also the folder of its corpus, fuzz/corpus/<name>
    QString (*check)(QByteArrayView input);
};

// Replies from the robot, fed byte by byte, followed by well-formed replies.
QString replyAssembly(QByteArrayView input);
// The serial settings text.
QString settingsText(QByteArrayView input);
// The operator's number text as one data byte.
QString textToByte(QByteArrayView input);
// A script file's bytes.
QString scriptReader(QByteArrayView input);
// Text pasted into the script editor as actions.
QString actionLines(QByteArrayView input);
// A robot profile file's bytes.
QString profileReader(QByteArrayView input);
// The server's Telnet stream on a network line (RFC 2217).
QString telnetReader(QByteArrayView input);
// The virtual robot cutting the panel's byte stream into frames.
QString simFrameReader(QByteArrayView input);

std::span<const Target> targets();

} // namespace FuzzChecks
