#pragma once

#include <QWidget>

class Frm_Main;

// Moves one servo, chosen from the robot's list, to a position at a speed.
class Frm_Single_Servo : public QWidget
{
    Q_OBJECT

public:
    explicit Frm_Single_Servo(Frm_Main &main);

private:
    Frm_Main &m_main;
};
