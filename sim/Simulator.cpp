#include "sim/Simulator.h"

#include <cstdio>
#include <unistd.h>

Simulator::Simulator(const SimOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_channel(m_controller)
    , m_input(STDIN_FILENO)
{
    // The starting state is set before anything listens: it is not news to report.
    for (int k = 1; k <= Controller::BatteryCount; ++k)
        m_controller.setBattery(k, options.batteries[size_t(k - 1)]);
    for (int k = 1; k <= Controller::AnalogueCount; ++k)
        m_controller.setAnalogue(k, options.analogues[size_t(k - 1)]);
    m_controller.setWhiskers(options.whiskers);

    connect(&m_controller, &Controller::reply, this, &Simulator::send);
    connect(&m_controller, &Controller::ignored, this, [](const FrameReader::Event &frame, const QString &why) {
        warn(QStringLiteral("ignored \"%1\": %2").arg(frame.toString(), why));
    });
    connect(&m_port, &VirtualPort::received, this, &Simulator::receive);
    connect(&m_port, &VirtualPort::problem, this, &Simulator::warn);
    connect(&m_log, &FrameLog::problem, this, &Simulator::warn);
    connect(&m_input, &LineReader::lineReceived, this, &Simulator::command);
    connect(&m_input, &LineReader::lineTooLong, this, [] {
        printLine(QStringLiteral("error: command line too long (over %1 bytes); ignored").arg(LineReader::MaxLine));
    });
    connect(&m_input, &LineReader::endOfInput, this, [this] {
        if (m_options.quitAtEndOfInput)
            emit quitRequested();
    });
    connect(&m_stopSignals, &StopSignals::stopRequested, this, &Simulator::quitRequested);
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
    return true;
}

void Simulator::printLine(const QString &line)
{
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void Simulator::warn(const QString &message)
{
    std::fprintf(stderr, "orvik-sim: %s\n", qPrintable(message));
}

void Simulator::receive(const QByteArray &bytes)
{
    for (const FrameReader::Event &event : m_reader.feed(bytes)) {
        if (event.isBad()) {
            m_log.bad(event.data);
            continue;
        }
        m_log.frame(FrameLog::Direction::Received, event.mnemonic, event.data);
        m_lastFrame = event;
        emit frameReceived(event);
        m_controller.handle(event);
    }
}

void Simulator::send(const QByteArray &frame)
{
    m_log.frame(FrameLog::Direction::Sent, frame.left(Frames::MnemonicLength), frame.sliced(Frames::MnemonicLength));
    m_port.write(frame);
}

void Simulator::command(const QString &line)
{
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
