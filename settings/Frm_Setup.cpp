#include "settings/Frm_Setup.h"

#include "panel/Frm_Main.h"

Frm_Setup::Frm_Setup(Frm_Main &main)
    : QWidget(&main, Qt::Window)
    , m_main(main)
{
    setObjectName(QStringLiteral("Frm_Setup"));
    setWindowTitle(QStringLiteral("Serial Settings"));
}
