#pragma once

#include "link/Robot_Profile.h"

#include <QWidget>

#include <functional>

class Dialogs;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;
class QTableView;
class Robot_Profile_Model;

// Serial → Robot Profile…: the robot's servos in a table, the profile's values beside the
// built-in ones, checked as typed. Save and Save as… write the profile's file and put it in
// use; Open… reads one and puts it in use; Revert shows the profile in use again; Reset to
// built-in puts the built-in profile back in use. The window never touches a port: the main
// window is handed each profile to use.
//
// The built-in profile's low-battery levels are the ones the program keeps in its settings;
// the main window gives them (setBuiltIn), so that a profile saved from it starts with them.
class Frm_Robot_Profile : public QWidget
{
    Q_OBJECT

public:
    // Puts a profile in use; file is "" for the built-in one.
    using Use = std::function<void(const Robot_Profile &profile, const QString &file)>;

    Frm_Robot_Profile(const Robot_Profile &inUse, const QString &file, Dialogs &dialogs, Use use,
                      QWidget *parent = nullptr);

    // The buttons' handlers, as the operator presses them.
    bool Btn_Save_Click();
    bool Btn_Save_As_Click();
    void Btn_Open_Click();
    void Btn_Revert_Click();
    void Btn_Reset_Click();

    Robot_Profile_Model *model() const { return m_model; }
    // What Reset to built-in puts in use.
    void setBuiltIn(const Robot_Profile &builtIn) { m_builtIn = builtIn; }

private:
    void buildControls();
    void display(const Robot_Profile &profile);
    void showState();
    // The table and the robot's fields as they stand.
    Robot_Profile edited() const;
    // The profile as edited, or nothing when it cannot be used (the operator was told why) or
    // the operator declined a range wider than the built-in one.
    std::optional<Robot_Profile> confirmed(const Robot_Profile &profile);
    bool saveTo(const QString &file);

    Dialogs &m_dialogs;
    Use m_use;
    Robot_Profile m_inUse;
    Robot_Profile m_builtIn = Robot_Profile::builtIn();
    QString m_file;
    Robot_Profile_Model *m_model = nullptr;
    QTableView *m_table = nullptr;
    QSpinBox *m_safeSpeed = nullptr;
    QDoubleSpinBox *m_degrees = nullptr;
    std::array<QDoubleSpinBox *, Robot_Profile::BatteryCount> m_lowBattery{};
    QLabel *m_source = nullptr;
    QLabel *m_check = nullptr;
};
