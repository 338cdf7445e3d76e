#pragma once

#include "link/Robot_Profile.h"
#include "scripts/Script_Ease.h"
#include "scripts/Script_Edit.h"
#include "scripts/Script_Take.h"
#include "scripts/Script_File.h"
#include "scripts/Script_Recovery.h"
#include "scripts/Sys_Script.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QUndoStack>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeView;
class QWindow;
class Dialogs;
class Script_Timeline;

// Builds a script action by action: the action tool turns a kind and its fields into an action
// that is appended to the script, goes in before a row, or takes the place of one loaded from
// the list; rows are removed, moved, duplicated, cut, copied and pasted; every change goes
// through the undo stack; the File menu opens and saves .sct files, and brings back a script
// put aside unsaved. The editor sends nothing to the robot.
class Frm_Script_Editor : public QWidget
{
    Q_OBJECT

public:
    static constexpr int FieldCount = 8;
    // All a script file may hold, and all the list's 16-bit row numbers can count.
    static constexpr qint32 MaxActions = 32767;

    // What the control panel offers for a kind of action, asked with the kind's command word
    // ("mrn", "mss"): the values of the kind's fields in order, as the panel would send them;
    // no values when the panel has none for that kind now; or why the panel's values cannot be
    // taken, which the operator is told.
    struct Pose
    {
        QList<qint32> values;
        QString refusal;
    };
    using PoseSource = std::function<Pose(const QString &command)>;

    // The unsaved script's record is written this long after a change, so a run of changes
    // writes it once.
    static constexpr int KeepDelayMs = 300;

    // recoveryFolder: where unsaved scripts are kept; empty for the application's data folder.
    explicit Frm_Script_Editor(Dialogs &dialogs, QWidget *parent = nullptr, PoseSource poseSource = {},
                               const QString &recoveryFolder = QString());
    ~Frm_Script_Editor() override;

    // The rows mark moves outside an own profile, as the player would refuse them.
    void setProfile(const Robot_Profile &profile);

    const Action_List &currentScript() const { return m_content.actions; }
    QString scriptPath() const { return m_content.path; }
    const QUndoStack &undoStack() const { return m_undo; }
    const Script_Recovery &recovery() const { return m_recovery; }
    // True while the script holds a change its file does not: the caption's asterisk. A new
    // script with no title and no action has nothing to lose yet.
    bool isChanged() const;

    // Handlers, as the operator triggers them.
    void Form_Load();
    void Form_Activate();
    void Cmb_action_Click();
    void Btn_Add_Action_Click();
    void Btn_Modify_Action_Click();
    void Btn_New_List_Click();
    void Btn_Clear_List_Click();
    void L_View_DblClick();
    // A mouse button pressed over the list; globalPos places the pop-up menu.
    void L_View_MouseDown(Qt::MouseButton Button, const QPoint &globalPos);
    void mnu_remove_Click();
    void mnu_script_open_Click();
    void mnu_script_save_Click();
    void mnu_script_close_script_Click();
    void mnu_script_close_Click();
    void mnu_script_clear_Click();
    void mnu_script_add_Click();
    void mnu_script_modify_Click();
    void mnu_script_remove_Click();
    // Fills the fields of the chosen kind with the control panel's pose; nothing is sent.
    void Btn_From_Panel_Click();
    void mnu_script_from_panel_Click();

    void Btn_Insert_Action_Click();
    void mnu_script_insert_Click();
    void mnu_script_move_up_Click();
    void mnu_script_move_down_Click();
    void mnu_script_duplicate_Click();
    void mnu_script_cut_Click();
    void mnu_script_copy_Click();
    void mnu_script_paste_Click();
    void mnu_script_select_all_Click();
    // Fills File -> Recover Unsaved Script with the scripts kept, newest first.
    void mnu_script_recover_Show();
    void recoverScript(const Script_Recovery::Entry &entry);
    // Writes the unsaved script's record now instead of shortly.
    void keepUnsaved();

    // The robot's names, speeds and ranges, for the timeline and Ease Between.
    void setProfile(const Script_Schedule::Motion_Profile &profile);

    // Asks the operator how to ease (the dialog, or a test's stand-in); none: cancelled.
    using EaseAsk = std::function<std::optional<Script_Ease::Settings>(QWidget *parent,
                                                                       const Script_Ease::Settings &preset)>;
    void setEaseAsk(EaseAsk ask) { m_easeAsk = std::move(ask); }
    // Edit -> Ease Between: the first and last selected moves, and the waits between them.
    void mnu_script_ease_Click();

    // Record starts a take, Stop ends it (the button, Edit -> Record, Ctrl+R).
    void Btn_Record_Click();
    bool isRecording() const { return m_take.has_value(); }
    // A frame the control panel sent; while a take runs, a move becomes an action.
    void recordFrame(const QByteArray &frame);
    // Where a take reads the time: a monotonic clock in nanoseconds.
    using Clock = std::function<qint64()>;
    void setRecordClock(Clock clock) { m_recordClock = std::move(clock); }

    // Shows or hides the timeline under the list (View -> Timeline, F6).
    void mnu_script_timeline_Click();
    const Script_Timeline *timeline() const { return m_timeline; }

    // True when the script may be saved; otherwise the operator has been told why.
    bool Check_Script();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    class RowModel;

    void buildMenus();
    QWidget *buildDescription();
    QWidget *buildActionTool();

    void Load_Action_Description();
    void Activate_Action_Building_Tool(int Cmd_ID);
    void Deactivate_Action_Building_Tool();
    void Add_Action_To_List(int Cmd_ID);
    void Modify_Action_To_List(int Cmd_ID);
    void Refresh_Action_List();
    void Clear_Action_List();
    void Clear_Script_Description();
    void Enable_Script_Editing();
    void Disable_Script_Editing();
    void setScriptEditing(bool enabled);

    // The kind chosen in the selector, -1 when its text is none of its items.
    int selectedKind() const;
    bool kindIsChosen();
    std::optional<Script_Action> buildAction(int Cmd_ID, qint32 Number);
    void removeSelectedAction();
    void inform(const QString &text);
    void focusMoved(QWindow *window);

    QList<qint32> selectedRows() const;
    void selectRows(const QList<qint32> &rows);
    // The changes a command reports: the list, the selection, the row MODIFY writes, the fields.
    void scriptChanged(const Script_Change &change);
    void updateCaption();
    void push(Script_Command *command);
    bool roomFor(qsizetype count);
    // The script in hand is put aside unsaved: its record is written now and kept.
    void putAside();
    void replaceScript(const Script_Content &content);
    // The timeline and the length in the status line, after any change of the script.
    void updateTimeline();
    // The take goes into the script as one step (nothing when it took nothing).
    void endTake();
    void showTake();

    Dialogs &m_dialogs;
    PoseSource m_poseSource;
    Script_Content m_content;
    Script_Header m_header;
    QUndoStack m_undo;
    Script_Recovery m_recovery;
    QTimer m_keepTimer;
    Script_Changed m_changed;

    RowModel *m_model = nullptr;
    QTreeView *m_view = nullptr;
    QLineEdit *m_title = nullptr;
    QLineEdit *m_date = nullptr;
    QPushButton *m_newList = nullptr;
    QPushButton *m_clearList = nullptr;
    QComboBox *m_kind = nullptr;
    std::array<QLabel *, FieldCount> m_captions{};
    std::array<QLineEdit *, FieldCount> m_fields{};
    QPushButton *m_add = nullptr;
    QPushButton *m_modify = nullptr;
    QPushButton *m_fromPanel = nullptr;
    QPushButton *m_insert = nullptr;
    QAction *m_closeScript = nullptr;
    QAction *m_showTimeline = nullptr;
    QAction *m_recordEntry = nullptr;
    QPushButton *m_record = nullptr;
    Script_Schedule::Motion_Profile m_profile;
    EaseAsk m_easeAsk;
    std::optional<Script_Take> m_take;
    qint32 m_takeAt = 0;
    QElapsedTimer m_elapsed;
    Clock m_recordClock;
    Script_Timeline *m_timeline = nullptr;
    QLabel *m_length = nullptr;
    QMenu *m_recoverMenu = nullptr;
    QList<QAction *> m_listActions; // act on the list while it has the focus
    QString m_pathShown; // the script's file as the File menu last took it in
    QPointer<QMenu> m_popup;

    QMetaObject::Connection m_focusWatch;
    bool m_shown = false;
    // Set when the focus went to another of the program's windows; coming back from one of
    // this window's own dialogs or menus is no switch of windows.
    bool m_cameFromOtherWindow = false;
};
