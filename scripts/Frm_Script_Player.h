#pragma once

#include "scripts/Script_File.h"
#include "scripts/Script_Runner.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class Script_Timeline;
class Com;
class Dialogs;

// Opens a script file, shows its actions and plays them on the robot one step at a time:
// a move is written to the port as its frame, a wait sets the time to the next step, and
// after the last action the player stops or, with Loop ticked, starts again. The stepping
// itself is Script_Runner's; this window shows it and asks the operator.
class Frm_Script_Player : public QWidget
{
    Q_OBJECT

public:
    enum Command { Stop = 0, Play = 1, Next = 2, Previous = 3, Pause = 4, CommandCount = 5 };
    static constexpr int Step = Script_Runner::Step;

    Frm_Script_Player(Com &com, Dialogs &dialogs, QWidget *parent = nullptr);

    // The handlers, as the operator and the timer call them; tests call them directly where
    // the order of events, not the clock, is what they check.
    void Btn_Open_Script_Click();
    void Btn_Cmd_Click(int Index);
    void T_Script_Timer();

    // The action the next step executes (0-based), which is also where play resumes.
    qint32 currentAction() const { return m_runner->currentAction(); }

    // Where the schedule reads the time: a monotonic clock in nanoseconds. Tests set their
    // own to check the schedule without depending on how busy the machine is.
    using Clock = Script_Runner::Clock;
    void setClock(Clock clock) { m_runner->setClock(std::move(clock)); }

    const Script_Timeline *timeline() const { return m_timeline; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    bool Load_Script(const QString &File_Name);
    void Refresh_Action_List();
    void showRow(int row);
    void setStepButtonsEnabled(bool enabled);
    void halt();
    void showProblems();

    Dialogs &m_dialogs;
    Script_Runner *m_runner = nullptr;
    Script_Header m_header;

    QLineEdit *m_path = nullptr;
    QPlainTextEdit *m_info = nullptr;
    QTreeWidget *m_view = nullptr;
    QLabel *m_check = nullptr;
    QCheckBox *m_loop = nullptr;
    QCheckBox *m_showTimeline = nullptr;
    QLabel *m_length = nullptr;
    Script_Timeline *m_timeline = nullptr;
    std::array<QPushButton *, CommandCount> m_buttons{};
};
