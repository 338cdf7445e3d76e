#include "app/Command_Line.h"
#include "panel/Frm_Main.h"

#include <QApplication>
#include <QFile>
#include <QIcon>

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // The window opens the serial port too, so a closed stream must not hand it its number.
    Command_Line::reserveStandardStreams();

    // Console uses need no display: no window is ever created for them.
    if (Command_Line::wanted(argc, argv)) {
        // Output into a pipe that closed (orvik --check ... | head -1) is a failure to report,
        // not a reason to die in the middle of a script without closing the port.
        std::signal(SIGPIPE, SIG_IGN);
        QList<QByteArray> arguments;
        for (int i = 0; i < argc; ++i)
            arguments.append(QByteArray(argv[i]));
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("orvik"));
        // --play opens a port, which reads the devices chosen in the window.
        QCoreApplication::setOrganizationName(QStringLiteral("Orvik"));
        QCoreApplication::setApplicationVersion(QStringLiteral(ORVIK_VERSION));
        QFile out;
        QFile err;
        out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
        err.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
        return Command_Line::run(arguments, out, err);
    }

    // Without a display Qt aborts with a long message; say what to do instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "orvik: no display found; start it from a desktop session, or try: xvfb-run make run\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvik"));
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/orvik.png").arg(size));
    QApplication::setWindowIcon(icon);
    // Where the devices chosen for the ports are kept: ~/.config/Orvik/orvik.conf.
    QApplication::setOrganizationName(QStringLiteral("Orvik"));

    Frm_Main window;
    window.show();
    return app.exec();
}
