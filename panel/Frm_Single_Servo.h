#pragma once

#include <QWidget>

class QComboBox;
class QLineEdit;
class Frm_Main;

// Moves one servo, chosen from the robot's list, to a position at a speed: each SEND writes
// one "mss" frame through the main window's port.
class Frm_Single_Servo : public QWidget
{
    Q_OBJECT

public:
    explicit Frm_Single_Servo(Frm_Main &main);

private:
    void buildControls();
    void Form_Load();
    void Btn_Send_Cmd_Click();

    Frm_Main &m_main;
    QComboBox *m_system = nullptr;
    QLineEdit *m_position = nullptr;
    QLineEdit *m_speed = nullptr;
};
