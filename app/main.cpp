#include "panel/Frm_Main.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Without a display Qt aborts with a long message; say what to do instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "orvik: no display found; start it from a desktop session, or try: xvfb-run make run\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvik"));
    // Where the devices chosen for the ports are kept: ~/.config/Orvik/orvik.conf.
    QApplication::setOrganizationName(QStringLiteral("Orvik"));

    Frm_Main window;
    window.show();
    return app.exec();
}
