#include "sim/RobotWindow.h"
#include "sim/SimOptions.h"
#include "sim/Simulator.h"

#include <QApplication>
#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// A standard descriptor left closed by whoever started us would be handed to the next file
// opened (Qt's event descriptor, the signal pipe): warnings would then be written into the
// signal pipe and read as a stop request, and commands read from Qt's own descriptor. Each
// closed one is held by /dev/null before anything else opens a file.
void holdStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
}

} // namespace

// orvik-sim: the robot's controller on a pseudo-terminal. Exit codes: 0 after quit or a
// stop signal, 1 when the line or its link cannot be set up, 2 for a bad command line.
int main(int argc, char *argv[])
{
    holdStandardDescriptors();

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    SimOptions options;
    QString message;
    switch (SimOptions::parse(arguments, options, message)) {
    case SimOptions::Outcome::Help:
    case SimOptions::Outcome::Version:
        std::printf("%s\n", qPrintable(message.trimmed()));
        return 0;
    case SimOptions::Outcome::Error:
        std::fprintf(stderr, "orvik-sim: %s\nTry: orvik-sim --help\n", qPrintable(message));
        return 2;
    case SimOptions::Outcome::Run:
        break;
    }

    // Without a display Qt aborts with a long message; say what to do instead.
    if (!options.headless && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "orvik-sim: no display found; use --headless, or start it under xvfb-run\n");
        return 1;
    }
    std::unique_ptr<QCoreApplication> app = options.headless ? std::make_unique<QCoreApplication>(argc, argv)
                                                             : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvik-sim"));

    Simulator simulator(options);
    QString error;
    if (!simulator.openLog(&error)) {
        std::fprintf(stderr, "orvik-sim: %s\n", qPrintable(error));
        return 2;
    }
    if (!simulator.start(&error)) {
        std::fprintf(stderr, "orvik-sim: %s\n", qPrintable(error));
        return 1;
    }
    simulator.printLine(simulator.port().device());
    QObject::connect(&simulator, &Simulator::quitRequested, app.get(), &QCoreApplication::quit, Qt::QueuedConnection);

    std::unique_ptr<RobotWindow> window;
    if (!options.headless) {
        window = std::make_unique<RobotWindow>(simulator);
        simulator.setScreenshotHandler([&window](const QString &path) { return window->saveScreenshot(path); });
        window->show();
    }
    return app->exec();
}
