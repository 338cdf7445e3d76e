#pragma once

#include "scripts/Script_File.h"
#include "scripts/Sys_Script.h"

#include <QPointer>
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

// Builds a script action by action: the action tool turns a kind and its fields into an action
// that is appended to the script or takes the place of one loaded from the list; the File menu
// opens and saves .sct files. The editor sends nothing to the robot.
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

    explicit Frm_Script_Editor(Dialogs &dialogs, QWidget *parent = nullptr, PoseSource poseSource = {});
    ~Frm_Script_Editor() override;

    const Action_List &currentScript() const { return m_script; }
    QString scriptPath() const { return m_scriptPath; }

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

    // True when the script may be saved; otherwise the operator has been told why.
    bool Check_Script();

protected:
    bool event(QEvent *event) override;

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

    Dialogs &m_dialogs;
    PoseSource m_poseSource;
    Action_List m_script;
    QString m_scriptPath;
    Script_Header m_header;

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
    QAction *m_closeScript = nullptr;
    QPointer<QMenu> m_popup;

    QMetaObject::Connection m_focusWatch;
    bool m_shown = false;
    // Set when the focus went to another of the program's windows; coming back from one of
    // this window's own dialogs or menus is no switch of windows.
    bool m_cameFromOtherWindow = false;
};
