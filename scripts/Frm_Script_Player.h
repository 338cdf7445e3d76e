#pragma once

#include "scripts/Script_File.h"
#include "scripts/Script_Runner.h"
#include "sensors/Sensor_Watch.h"

#include <QPointer>
#include <QWidget>

#include <array>

class QCheckBox;
class QComboBox;
class QLayout;
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
// itself is Script_Runner's, on the line's thread so that the window's own work never delays
// a step; this window hands it the operator's commands and shows its news.
class Frm_Script_Player : public QWidget
{
    Q_OBJECT

public:
    enum Command { Stop = 0, Play = 1, Next = 2, Previous = 3, Pause = 4, CommandCount = 5 };
    static constexpr int Step = Script_Runner::Step;

    Frm_Script_Player(Com &com, Dialogs &dialogs, QWidget *parent = nullptr);
    ~Frm_Script_Player() override;

    // The handlers, as the operator and the timer call them; tests call them directly where
    // the order of events, not the clock, is what they check.
    void Btn_Open_Script_Click();
    void Btn_Cmd_Click(int Index);
    void T_Script_Timer();

    // The action the next step executes (0-based), which is also where play resumes.
    qint32 currentAction() const { return m_runner ? m_runner->currentAction() : 0; }
    bool isPlaying() const { return m_runner && m_runner->isPlaying(); }

    // Moves outside an own profile are marked, and refused when their turn comes.
    void setProfile(const Robot_Profile &profile);
    // Stop, as the operator presses it.
    void stop() { Btn_Cmd_Click(Stop); }

    // Where the schedule reads the time: a monotonic clock in nanoseconds. Tests set their
    // own to check the schedule without depending on how busy the machine is; the steps then
    // run on the window's thread, the runner one of the window's parts.
    using Clock = Script_Runner::Clock;
    void setClock(Clock clock);

    const Script_Timeline *timeline() const { return m_timeline; }
    // What the robot reported: while a script plays, an event the operator chose to pause on
    // halts it before its next step, and the window says why. Play resumes from there.
    void sensorEvent(const Sensor_Event &event);
    Pause_Rule pauseRule() const;

signals:
    // The number of the action starting, or 0 when playing halted or ended.
    void actionPlaying(qint32 number);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    // The boxes that choose what the robot reports pauses a playing script, as last chosen.
    QLayout *buildPauseChoices();
    bool Load_Script(const QString &File_Name);
    void Refresh_Action_List();
    void showRow(int row);
    void setStepButtonsEnabled(bool enabled);
    void halt();
    void showProblems();
    void savePauseRule() const;

    Com &m_com;
    Dialogs &m_dialogs;
    // Deleted with Com when Com goes first.
    QPointer<Script_Runner> m_runner;
    // Between Play and the end of playing: news of a step that started before a pause comes
    // after it and shows nothing.
    bool m_playing = false;
    Script_Header m_header;
    Robot_Profile m_profile = Robot_Profile::builtIn();

    QLineEdit *m_path = nullptr;
    QPlainTextEdit *m_info = nullptr;
    QTreeWidget *m_view = nullptr;
    QLabel *m_check = nullptr;
    QCheckBox *m_loop = nullptr;
    QCheckBox *m_showTimeline = nullptr;
    QLabel *m_length = nullptr;
    Script_Timeline *m_timeline = nullptr;
    QCheckBox *m_pauseOnWhisker = nullptr;
    QComboBox *m_pauseWhisker = nullptr;
    QCheckBox *m_pauseOnLowBattery = nullptr;
    QLabel *m_paused = nullptr;
    qint32 m_actionPlaying = 0; // the number of the action last started while playing
    std::array<QPushButton *, CommandCount> m_buttons{};
};
