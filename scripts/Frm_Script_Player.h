#pragma once

#include "scripts/Script_File.h"
#include "scripts/Sys_Script.h"

#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QTreeWidget;
class Com;
class Dialogs;
namespace Frames {
struct Kind;
}

// Opens a script file, shows its actions and plays them on the robot one step at a time:
// a move is written to the port as its frame, a wait sets the time to the next step, and
// after the last action the player stops or, with Loop ticked, starts again.
//
// Steps keep to a schedule: each one is due a fixed time after the previous one was due
// (20 ms after a move, the wait's length after a wait), so the time a step takes to run
// never adds up over a long script.
class Frm_Script_Player : public QWidget
{
    Q_OBJECT

public:
    enum Command { Stop = 0, Play = 1, Next = 2, Previous = 3, Pause = 4, CommandCount = 5 };
    static constexpr int Step = 20; // ms from a move (or from play) to the next step

    Frm_Script_Player(Com &com, Dialogs &dialogs, QWidget *parent = nullptr);

    // The handlers, as the operator and the timer call them; tests call them directly where
    // the order of events, not the clock, is what they check.
    void Btn_Open_Script_Click();
    void Btn_Cmd_Click(int Index);
    void T_Script_Timer();

    // The action the next step executes (0-based), which is also where play resumes.
    qint32 currentAction() const { return m_currentAction; }

    // Where the schedule reads the time: a monotonic clock in nanoseconds. Tests set their
    // own to check the schedule without depending on how busy the machine is.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock) { m_now = std::move(clock); }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    bool Load_Script(const QString &File_Name);
    void Refresh_Action_List();
    void showRow(int row);
    void setStepButtonsEnabled(bool enabled);

    void play(qint64 from);
    void halt();
    // Arms T_Script so that the next step comes `length` ms after the one just due.
    void scheduleNext(qint64 length);
    // Why the move cannot be written as a frame the robot reads, or "" when it can.
    static QString unsendable(const Frames::Kind &kind, const Script_Action &action);

    Com &m_com;
    Dialogs &m_dialogs;

    Action_List m_script;
    Script_Header m_header;
    qint32 m_currentAction = 0;

    QElapsedTimer m_elapsed;
    Clock m_now;
    qint64 m_dueNs = 0;      // when the step now running (or about to run) was due
    qint64 m_lengthMs = Step; // the step length last set; "end" and unknown commands keep it

    QLineEdit *m_path = nullptr;
    QPlainTextEdit *m_info = nullptr;
    QTreeWidget *m_view = nullptr;
    QCheckBox *m_loop = nullptr;
    std::array<QPushButton *, CommandCount> m_buttons{};
    QTimer *m_timer = nullptr;
};
