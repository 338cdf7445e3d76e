#include "panel/Frm_Single_Servo.h"

#include "panel/Frm_Main.h"

Frm_Single_Servo::Frm_Single_Servo(Frm_Main &main)
    : QWidget(&main, Qt::Window)
    , m_main(main)
{
    setObjectName(QStringLiteral("Frm_Single_Servo"));
    setWindowTitle(QStringLiteral("Single Servo"));
}
