#include "sim/Simulator.h"

#include <QStringList>

#include <random>
#include <unistd.h>

Simulator::Simulator(const SimOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_output(QStringLiteral("standard output"), MaxQueuedOutput)
    , m_errors(QStringLiteral("standard error"), MaxQueuedErrors)
    , m_log(m_output)
    , m_faults(options.seed ? *options.seed : std::random_device{}())
    , m_channel(m_controller)
    , m_input(STDIN_FILENO)
{
    m_output.openStandard(STDOUT_FILENO);
    m_output.setDroppedNote([](qint64 dropped) {
        return "note: " + QByteArray::number(dropped) + " lines dropped while nobody read standard output\n";
    });
    m_errors.openStandard(STDERR_FILENO);
    m_errors.setDroppedNote([](qint64 dropped) {
        return "orvik-sim: " + QByteArray::number(dropped) + " warnings dropped while nobody read them\n";
    });
    connect(&m_output, &LineWriter::problem, this, &Simulator::warn);
    m_port.setFixedBaud(options.baud);

    // The starting state is set before anything listens: it is not news to report.
    for (int k = 1; k <= Controller::BatteryCount; ++k)
        m_controller.setBattery(k, options.batteries[size_t(k - 1)]);
    for (int k = 1; k <= Controller::AnalogueCount; ++k)
        m_controller.setAnalogue(k, options.analogues[size_t(k - 1)]);
    m_controller.setWhiskers(options.whiskers);

    connect(&m_controller, &Controller::reply, this, &Simulator::send);
    connect(&m_controller, &Controller::ignored, this, [this](const FrameReader::Event &frame, const QString &why) {
        warn(QStringLiteral("ignored \"%1\": %2").arg(frame.toString(), why));
    });
    connect(&m_port, &VirtualPort::received, this, &Simulator::receive);
    connect(&m_port, &VirtualPort::problem, this, &Simulator::warn);
    connect(&m_log, &FrameLog::problem, this, &Simulator::warn);
    connect(&m_input, &LineReader::lineReceived, this, &Simulator::command);
    connect(&m_input, &LineReader::lineTooLong, this, [this] {
        printLine(QStringLiteral("error: command line too long (over %1 bytes); ignored").arg(LineReader::MaxLine));
    });
    connect(&m_input, &LineReader::endOfInput, this, [this] {
        if (m_options.quitAtEndOfInput)
            emit quitRequested();
    });
    connect(&m_stopSignals, &StopSignals::stopRequested, this, &Simulator::quitRequested);

    connect(&m_faults, &LineFaults::garbage, &m_port, &VirtualPort::write);
    connect(&m_faults, &LineFaults::readingChanged, &m_port, &VirtualPort::setReading);
    connect(&m_faults, &LineFaults::lineChanged, this, &Simulator::setLine);
    connect(&m_faults, &LineFaults::injected, &m_log, &FrameLog::fault);
}

bool Simulator::openLog(QString *error)
{
    return m_options.logPath.isEmpty() || m_log.open(m_options.logPath, error);
}

bool Simulator::start(QString *error)
{
    if (!m_stopSignals.install(error) || !m_port.open(error) || !m_port.createLink(m_options.link, error))
        return false;
    // Without a readable standard input (closed, or a terminal of another job) only a signal
    // or the window stops the simulator; that is not a reason to refuse to start.
    m_input.start();
    m_faults.setSettings(m_options.faults);
    return true;
}

void Simulator::setLine(bool up)
{
    if (up) {
        QString error;
        if (!m_port.comeBack(&error))
            warn(QStringLiteral("the line cannot come back: %1").arg(error));
        return;
    }
    m_faults.lineHungUp(m_port.hangUp());
    // A frame cut short by the hang-up is not continued by the next line's bytes.
    m_reader = FrameReader();
}

void Simulator::printLine(const QString &line)
{
    m_output.write(line.toLocal8Bit() + '\n');
}

void Simulator::warn(const QString &message)
{
    m_errors.write("orvik-sim: " + message.toLocal8Bit() + '\n');
}

void Simulator::receive(const QByteArray &bytes)
{
    for (const FrameReader::Event &event : m_reader.feed(bytes)) {
        if (event.isBad()) {
            m_badBytes += event.data.size();
            m_log.bad(event.data);
            continue;
        }
        m_log.frame(FrameLog::Direction::Received, event.mnemonic, event.data);
        ++m_framesReceived;
        m_lastFrame = event;
        emit frameReceived(event);
        m_controller.handle(event);
    }
}

void Simulator::send(const QByteArray &frame)
{
    m_log.frame(FrameLog::Direction::Sent, frame.left(Frames::MnemonicLength), frame.sliced(Frames::MnemonicLength));
    m_port.write(m_faults.reply(frame));
}

bool Simulator::ownCommand(const QString &line)
{
    const QStringList words = line.simplified().split(u' ', Qt::SkipEmptyParts);
    const QString command = words.value(0).toLower();
    if (command == u"faults" && words.size() == 1) {
        printLine(QStringLiteral("ok frames=%1 bad-bytes=%2 ").arg(m_framesReceived).arg(m_badBytes) +
                  m_faults.summary());
        return true;
    }
    if (command == u"line" && words.size() == 1) {
        const int baud = m_port.baud();
        printLine(QStringLiteral("ok baud=%1 bytes-per-second=%2 set-by=%3")
                      .arg(baud)
                      .arg(baud > 0 ? QString::number(baud / LinePace::BitsPerByte) : QStringLiteral("unlimited"))
                      .arg(m_port.fixedBaud() ? QStringLiteral("--baud") : QStringLiteral("line")));
        return true;
    }
    if (command == u"fault") {
        LineFaults::Settings settings = m_faults.settings();
        const QString why = words.size() == 2 ? LineFaults::parse(words[1], settings)
                                              : QStringLiteral("usage: fault drop=P | duplicate=P | corrupt=P | "
                                                               "garbage=EVERY | stop-reading=EVERY:FOR | hangup=EVERY:FOR");
        if (!why.isEmpty()) {
            printLine(QStringLiteral("error: ") + why);
            return true;
        }
        m_faults.setSettings(settings);
        printLine(QStringLiteral("ok"));
        return true;
    }
    if (command == u"hangup" || command == u"stop-reading") {
        bool tooShort = false;
        const std::optional<int> length =
            words.size() == 2 ? LineFaults::milliseconds(words[1], &tooShort) : std::nullopt;
        if (tooShort) {
            printLine(QStringLiteral("error: ") + LineFaults::tooShortMessage(words[1]));
            return true;
        }
        if (!length) {
            printLine(QStringLiteral("error: usage: %1 FOR, a time (200ms, 2s; 0 ends one under way)").arg(command));
            return true;
        }
        if (command == u"hangup")
            m_faults.hangUpFor(*length);
        else
            m_faults.stopReadingFor(*length);
        printLine(QStringLiteral("ok"));
        return true;
    }
    return false;
}

void Simulator::command(const QString &line)
{
    if (ownCommand(line))
        return;
    const ControlChannel::Result result = m_channel.execute(line);
    if (!result.screenshot.isEmpty()) {
        const QString problem = m_screenshot ? m_screenshot(result.screenshot)
                                             : QStringLiteral("there is no window to take a picture of (headless)");
        printLine(problem.isEmpty() ? QStringLiteral("ok") : QStringLiteral("error: ") + problem);
    }
    if (!result.reply.isEmpty())
        printLine(result.reply);
    if (result.quit)
        emit quitRequested();
}
