#pragma once

#include "sim/ControlChannel.h"
#include "sim/Controller.h"
#include "sim/FrameLog.h"
#include "sim/FrameReader.h"
#include "sim/LineFaults.h"
#include "sim/LineReader.h"
#include "sim/LineWriter.h"
#include "sim/SimOptions.h"
#include "sim/StopSignals.h"
#include "sim/VirtualPort.h"

#include <QObject>

#include <functional>

// The virtual robot without its window: the pseudo-terminal, the frame reader and the
// controller it feeds, the faults put on the line, the frame log, and the line commands on
// standard input. Its answers on standard output and its warnings on standard error never
// hold it up (see LineWriter): a robot whose output nobody reads goes on serving the line.
class Simulator : public QObject
{
    Q_OBJECT

public:
    // Saves a picture of the window to a file; returns what went wrong, or nothing.
    using ScreenshotHandler = std::function<QString(const QString &path)>;

    explicit Simulator(const SimOptions &options, QObject *parent = nullptr);

    // Opens the log; a log that cannot be written is the caller's mistake (exit 2).
    bool openLog(QString *error);
    // Opens the line, makes the link, and starts listening to it, to standard input and to
    // the stop signals (exit 1 when it fails).
    bool start(QString *error);

    Controller &controller() { return m_controller; }
    const VirtualPort &port() const { return m_port; }
    const LineFaults &faults() const { return m_faults; }
    const FrameReader::Event &lastFrame() const { return m_lastFrame; }

    void setScreenshotHandler(ScreenshotHandler handler) { m_screenshot = std::move(handler); }

    // A line on standard output (the first one is the device).
    void printLine(const QString &line);

signals:
    void frameReceived(const FrameReader::Event &frame);
    void quitRequested();

private:
    void receive(const QByteArray &bytes);
    void send(const QByteArray &frame);
    void command(const QString &line);
    // The line commands the simulator answers itself (the faults, the line's speed); false
    // when the line is not one of them.
    bool ownCommand(const QString &line);
    void setLine(bool up);
    void warn(const QString &message);

    static constexpr qsizetype MaxQueuedOutput = 256 * 1024;
    static constexpr qsizetype MaxQueuedErrors = 64 * 1024;

    SimOptions m_options;
    LineWriter m_output;
    LineWriter m_errors;
    Controller m_controller;
    FrameReader m_reader;
    FrameLog m_log;
    VirtualPort m_port;
    LineFaults m_faults;
    ControlChannel m_channel;
    LineReader m_input;
    StopSignals m_stopSignals;
    FrameReader::Event m_lastFrame;
    qint64 m_framesReceived = 0;
    qint64 m_badBytes = 0;
    ScreenshotHandler m_screenshot;
};
