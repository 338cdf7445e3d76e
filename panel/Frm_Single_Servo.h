#pragma once

#include "link/Robot_Profile.h"

#include <QByteArray>
#include <QWidget>

#include <optional>

class QComboBox;
class QLineEdit;
class Com;
class Dialogs;

// Moves one servo, chosen from the robot's list, to a position at a speed: each SEND writes
// one "mss" frame through the main window's port.
class Frm_Single_Servo : public QWidget
{
    Q_OBJECT

public:
    Frm_Single_Servo(Com &com, Dialogs &dialogs, QWidget *parent = nullptr);

    // The servo number, position and speed bytes SEND would send now; nothing when a box does
    // not hold a number from 0 to 255 (why then names it).
    std::optional<QByteArray> commandData(QString *why = nullptr) const;

    // A position outside an own profile's range for the servo is refused; nothing is sent.
    void setProfile(const Robot_Profile &profile) { m_profile = profile; }
signals:
    // The frame SEND handed to the port.
    void sent(const QByteArray &frame);

private:
    void buildControls();
    void Form_Load();
    void Btn_Send_Cmd_Click();

    Com &m_com;
    Dialogs &m_dialogs;
    QComboBox *m_system = nullptr;
    QLineEdit *m_position = nullptr;
    QLineEdit *m_speed = nullptr;
    Robot_Profile m_profile = Robot_Profile::builtIn();
};
