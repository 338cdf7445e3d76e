#pragma once

#include <QWidget>

class Frm_Main;

// The serial settings window: port and line settings, APPLY, CLOSE, CANCEL.
class Frm_Setup : public QWidget
{
    Q_OBJECT

public:
    explicit Frm_Setup(Frm_Main &main);

private:
    Frm_Main &m_main;
};
