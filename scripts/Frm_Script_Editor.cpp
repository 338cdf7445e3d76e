#include "scripts/Frm_Script_Editor.h"

#include "link/Frames.h"
#include "scripts/Profile_Text.h"
#include "scripts/Script_Check.h"
#include "scripts/Script_Timeline.h"
#include "ui/Dialogs.h"
#include "ui/Program_Files.h"

#include <QAbstractTableModel>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHash>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWindow>

#include <functional>
#include <string_view>

namespace {

const QString Title = QStringLiteral("ORVIK");
const QString Caption = QStringLiteral("Script Editor");
const QString Filter = QStringLiteral("Script (*.sct)");
const QString ModifyMarker = QStringLiteral("Tag");

using Captions = std::array<const char *, Frm_Script_Editor::FieldCount>;

struct ActionKind
{
    const char *item;        // the selector's text
    std::string_view command;
    Captions captions;       // one per value, nullptr beyond
    const char *preset = ""; // first field's text when the kind is chosen
    bool presetReadOnly = false;

    constexpr int values() const
    {
        int n = 0;
        while (n < Frm_Script_Editor::FieldCount && captions[size_t(n)])
            ++n;
        return n;
    }
};

constexpr Captions ArmCaptions{"Elb Pos",      "Elb Speed",       "Shd Yaw Pos", "Shd Yaw Speed",
                               "Shd Pitch Pos", "Shd Pitch Speed"};

// Cmd_ID is the position in this table, which is also the selector's order. The move kinds
// take their fields in the byte order of their command frame, one (position, speed) pair per
// servo, so an action's values are exactly the frame's data bytes.
constexpr std::array<ActionKind, 9> Kinds{{
    {"Move EyeBrows", Frames::Eyebrows.mnemonic, {"LEb Roll Pos", "LEb Roll Speed", "LEb Roll Pos", "LEb Roll Speed"}},
    {"Move Left Arm", Frames::LeftArm.mnemonic, ArmCaptions},
    {"Move Right Arm", Frames::RightArm.mnemonic, ArmCaptions},
    {"Move Robot Eyes", Frames::Eyes.mnemonic,
     {"LE Yaw Pos", "LE Yaw Speed", "RE Yaw Pos", "RE Yaw Speed", "E Pitch Pos", "E Pitch Speed"}},
    {"Move Robot Mouth", Frames::Mouth.mnemonic,
     {"UL Pos", "UL Speed", "LL Pos", "LL Speed", "UR Pos", "UR Speed", "LR Pos", "LR Speed"}},
    {"Move Robot Neck", Frames::Neck.mnemonic,
     {"Neck Pitch Pos", "Neck Pitch Speed", "Neck Yaw Pos", "Neck Yaw Speed"}},
    {"Move Single Servo", Frames::SingleServo.mnemonic, {"Index", "Pos", "Speed"}},
    {"End Script", "end", {"End Value"}, "0", true},
    {"Wait", "wait", {"Time (ms)"}, "0", false},
}};

static_assert(Kinds[0].values() == Frames::Eyebrows.dataBytes && Kinds[1].values() == Frames::LeftArm.dataBytes &&
              Kinds[2].values() == Frames::RightArm.dataBytes && Kinds[3].values() == Frames::Eyes.dataBytes &&
              Kinds[4].values() == Frames::Mouth.dataBytes && Kinds[5].values() == Frames::Neck.dataBytes &&
              Kinds[6].values() == Frames::SingleServo.dataBytes && Kinds[7].values() == 1 && Kinds[8].values() == 1,
              "each move kind has one field per data byte of its frame");

QString command(const ActionKind &kind)
{
    return QString::fromLatin1(kind.command.data(), qsizetype(kind.command.size()));
}

int kindOfCommand(const QString &word)
{
    for (size_t k = 0; k < Kinds.size(); ++k)
        if (word == command(Kinds[k]))
            return int(k);
    return -1;
}

QString indexed(const char *name, int i)
{
    return QStringLiteral("%1(%2)").arg(QLatin1StringView(name)).arg(i);
}

QString today()
{
    return QDate::currentDate().toString(QStringLiteral("dd-MM-yyyy"));
}

// The "Commands" text of a row: meb-120-10-130-10, wait-500, end-0.
QString rowText(const Script_Action &action)
{
    QString text = action.Command;
    for (qint32 value : action.Values)
        text += QLatin1Char('-') + QString::number(value);
    return text;
}

// The list view tells its window of presses and double clicks anywhere over it, after it has
// moved its own selection, as the handlers act on the selected row.
class ActionListView : public QTreeView
{
public:
    std::function<void(Qt::MouseButton, const QPoint &)> onPress;
    std::function<void()> onDoubleClick;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        QTreeView::mousePressEvent(event);
        onPress(event->button(), event->globalPosition().toPoint());
    }

    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        QTreeView::mouseDoubleClickEvent(event);
        onDoubleClick();
    }
};

std::optional<Script_Ease::Settings> askEase(QWidget *parent, const Script_Ease::Settings &preset)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("Dlg_Ease"));
    dialog.setWindowTitle(QStringLiteral("Ease Between"));
    auto *duration = new QSpinBox;
    duration->setObjectName(QStringLiteral("Spn_Ease_Duration"));
    duration->setRange(0, 3600000);
    duration->setSuffix(QStringLiteral(" ms"));
    duration->setValue(int(std::min<qint64>(preset.durationMs, duration->maximum())));
    auto *step = new QSpinBox;
    step->setObjectName(QStringLiteral("Spn_Ease_Step"));
    step->setRange(Script_Ease::MinStep, Script_Ease::MaxStep);
    step->setSuffix(QStringLiteral(" ms"));
    step->setValue(preset.stepMs);
    auto *curve = new QComboBox;
    curve->setObjectName(QStringLiteral("Cmb_Ease_Curve"));
    for (const Script_Ease::Curve &c : Script_Ease::Curves)
        curve->addItem(QLatin1StringView(c.name), int(c.type));
    curve->setCurrentIndex(std::max(curve->findData(int(preset.curve)), 0));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("Duration"), duration);
    form->addRow(QStringLiteral("Step"), step);
    form->addRow(QStringLiteral("Curve"), curve);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return Script_Ease::Settings{duration->value(), step->value(), QEasingCurve::Type(curve->currentData().toInt())};
}

bool belongsTo(QWindow *window, const QWindow *owner)
{
    for (; window; window = window->transientParent())
        if (window == owner)
            return true;
    return false;
}

} // namespace

// The list view's rows are read from the script on demand, so that a change to a long script
// costs the rows on screen, not one row per action.
class Frm_Script_Editor::RowModel : public QAbstractTableModel
{
public:
    RowModel(const Action_List &script, const QIcon &warning, QObject *parent)
        : QAbstractTableModel(parent)
        , m_script(script)
        , m_warning(warning)
    {
    }

    // Every change to the script comes through here, so the marks are checked again each time.
    void refresh()
    {
        beginResetModel();
        m_problems.clear();
        for (const Script_Problem &problem : Check_Script_Actions(m_script, m_profile))
            m_problems.insert(problem.Index, problem.Text);
        endResetModel();
    }

    void setProfile(const Robot_Profile &profile)
    {
        m_profile = profile;
        refresh();
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(qMin(qsizetype(m_script.Nb_Action), m_script.Actions.size()));
    }

    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : 2; }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        switch (role) {
        case Qt::DisplayRole: {
            const Script_Action &action = m_script.Actions.at(index.row());
            return index.column() == 0 ? QString::number(action.Number) : rowText(action);
        }
        case Qt::DecorationRole:
            return index.column() == 0 && m_problems.contains(index.row()) ? QVariant(m_warning) : QVariant();
        case Qt::ToolTipRole:
            return m_problems.value(index.row());
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        return section == 0 ? QStringLiteral("No.") : QStringLiteral("Commands");
    }

private:
    const Action_List &m_script;
    const QIcon m_warning;
    Robot_Profile m_profile = Robot_Profile::builtIn();
    QHash<qint32, QString> m_problems;
};

Frm_Script_Editor::Frm_Script_Editor(Dialogs &dialogs, QWidget *parent, PoseSource poseSource,
                                     const QString &recoveryFolder)
    : QWidget(parent, Qt::Window)
    , m_dialogs(dialogs)
    , m_poseSource(std::move(poseSource))
    , m_recovery(recoveryFolder)
{
    setObjectName(QStringLiteral("Frm_Script_Editor"));
    setWindowTitle(Caption);
    m_undo.setObjectName(QStringLiteral("Undo_Stack"));
    m_changed = [this](const Script_Change &change) { scriptChanged(change); };
    m_elapsed.start();
    m_recordClock = [this] { return m_elapsed.nsecsElapsed(); };
    m_easeAsk = askEase;

    auto *outer = new QVBoxLayout(this);
    buildMenus();
    auto *top = new QWidget;
    auto *columns = new QHBoxLayout(top);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->addWidget(buildDescription(), 1);
    columns->addWidget(buildActionTool());
    m_timeline = new Script_Timeline;
    m_timeline->hide();
    connect(m_timeline, &Script_Timeline::actionClicked, this, [this](qint32 row) { selectRows({row}); });
    auto *splitter = new QSplitter(Qt::Vertical);
    splitter->setObjectName(QStringLiteral("Spl_Timeline"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(top);
    splitter->addWidget(m_timeline);
    splitter->setStretchFactor(0, 1);
    outer->addWidget(splitter, 1);
    auto *status = new QStatusBar;
    status->setObjectName(QStringLiteral("Status_Bar"));
    status->setSizeGripEnabled(false);
    m_length = new QLabel;
    m_length->setObjectName(QStringLiteral("Lbl_Script_Length"));
    status->addWidget(m_length);
    outer->addWidget(status);
    connect(m_model, &QAbstractItemModel::modelReset, this, &Frm_Script_Editor::updateTimeline);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_timeline->isVisibleTo(this))
            m_timeline->setSelection(selectedRows());
    });
    for (QAction *action : std::as_const(m_listActions)) {
        action->setShortcutContext(Qt::WidgetShortcut);
        m_view->addAction(action);
    }

    m_keepTimer.setSingleShot(true);
    m_keepTimer.setInterval(KeepDelayMs);
    connect(&m_keepTimer, &QTimer::timeout, this, &Frm_Script_Editor::keepUnsaved);
    connect(&m_undo, &QUndoStack::cleanChanged, this, &Frm_Script_Editor::updateCaption);

    m_focusWatch = connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &Frm_Script_Editor::focusMoved);
    Form_Load();
}

Frm_Script_Editor::~Frm_Script_Editor()
{
    // Taking the window down moves the focus, which must not reach a window half destroyed;
    // nor must the list's model and selection, which go after the timeline and status line.
    disconnect(m_focusWatch);
    m_model->disconnect(this);
    m_view->selectionModel()->disconnect(this);
    // The rows read the script, a member that goes before the view does.
    m_view->setModel(nullptr);
    if (m_keepTimer.isActive())
        keepUnsaved();
    // The rows read the script, which goes before the child widgets do: the list, which may
    // still owe a layout after the last change, lets go of them first.
    m_view->setModel(nullptr);
}

void Frm_Script_Editor::setProfile(const Robot_Profile &profile)
{
    m_model->setProfile(profile);
    setProfile(Script_Schedule::Motion_Profile::of(profile));
}

void Frm_Script_Editor::buildMenus()
{
    auto *bar = new QMenuBar;
    layout()->setMenuBar(bar);

    auto addMenu = [bar](const char *name, const QString &title) {
        QMenu *menu = bar->addMenu(title);
        menu->setObjectName(QLatin1StringView(name));
        return menu;
    };
    auto addEntry = [this](QMenu *menu, const char *name, const QString &text, auto handler) {
        QAction *action = menu->addAction(text);
        action->setObjectName(QLatin1StringView(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    auto addSeparator = [](QMenu *menu, const char *name) {
        menu->addSeparator()->setObjectName(QLatin1StringView(name));
    };

    QMenu *file = addMenu("mnu_script_file", QStringLiteral("&File"));
    addEntry(file, "mnu_script_open", QStringLiteral("Open script"), &Frm_Script_Editor::mnu_script_open_Click);
    addEntry(file, "mnu_script_save", QStringLiteral("Save script"), &Frm_Script_Editor::mnu_script_save_Click);
    m_recoverMenu = file->addMenu(QStringLiteral("Recover Unsaved Script"));
    m_recoverMenu->setObjectName(QStringLiteral("mnu_script_recover"));
    m_recoverMenu->menuAction()->setObjectName(QStringLiteral("mnu_script_recover_entry"));
    connect(m_recoverMenu, &QMenu::aboutToShow, this, &Frm_Script_Editor::mnu_script_recover_Show);
    m_closeScript = addEntry(file, "mnu_script_close_script", QStringLiteral("Close script"),
                             &Frm_Script_Editor::mnu_script_close_script_Click);
    m_closeScript->setEnabled(false);
    addSeparator(file, "mnu_script_sep_1");
    addEntry(file, "mnu_script_close", QStringLiteral("Close editor"), &Frm_Script_Editor::mnu_script_close_Click);

    QMenu *edit = addMenu("mnu_script_edit", QStringLiteral("&Edit"));
    // The stack names the step: "Undo Move Up". In a text field Ctrl+Z stays the field's own.
    QAction *undo = m_undo.createUndoAction(this, QStringLiteral("Undo"));
    undo->setObjectName(QStringLiteral("mnu_script_undo"));
    undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    edit->addAction(undo);
    QAction *redo = m_undo.createRedoAction(this, QStringLiteral("Redo"));
    redo->setObjectName(QStringLiteral("mnu_script_redo"));
    redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    edit->addAction(redo);
    addSeparator(edit, "mnu_script_sep_4");
    addEntry(edit, "mnu_script_clear", QStringLiteral("Clear Script"), &Frm_Script_Editor::mnu_script_clear_Click);
    addSeparator(edit, "mnu_script_sep_2");
    addEntry(edit, "mnu_script_add", QStringLiteral("Add Action"), &Frm_Script_Editor::mnu_script_add_Click);
    addEntry(edit, "mnu_script_insert", QStringLiteral("Insert Action"), &Frm_Script_Editor::mnu_script_insert_Click)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    addEntry(edit, "mnu_script_modify", QStringLiteral("Modify Action"), &Frm_Script_Editor::mnu_script_modify_Click);
    addEntry(edit, "mnu_script_remove", QStringLiteral("Remove Action"), &Frm_Script_Editor::mnu_script_remove_Click);
    addSeparator(edit, "mnu_script_sep_5");
    // The row commands: they act on the list, and only while it has the focus.
    struct ListEntry
    {
        const char *name;
        const char *text;
        QKeyCombination key;
        void (Frm_Script_Editor::*handler)();
    };
    static constexpr ListEntry ListEntries[]{
        {"mnu_script_cut", "Cut", Qt::CTRL | Qt::Key_X, &Frm_Script_Editor::mnu_script_cut_Click},
        {"mnu_script_copy", "Copy", Qt::CTRL | Qt::Key_C, &Frm_Script_Editor::mnu_script_copy_Click},
        {"mnu_script_paste", "Paste", Qt::CTRL | Qt::Key_V, &Frm_Script_Editor::mnu_script_paste_Click},
        {"mnu_script_duplicate", "Duplicate", Qt::CTRL | Qt::Key_D, &Frm_Script_Editor::mnu_script_duplicate_Click},
        {"mnu_script_select_all", "Select All", Qt::CTRL | Qt::Key_A, &Frm_Script_Editor::mnu_script_select_all_Click},
        {"mnu_script_move_up", "Move Up", Qt::ALT | Qt::Key_Up, &Frm_Script_Editor::mnu_script_move_up_Click},
        {"mnu_script_move_down", "Move Down", Qt::ALT | Qt::Key_Down, &Frm_Script_Editor::mnu_script_move_down_Click},
    };
    for (const ListEntry &entry : ListEntries) {
        QAction *action = addEntry(edit, entry.name, QString::fromLatin1(entry.text), entry.handler);
        action->setShortcut(QKeySequence(entry.key));
        m_listActions.append(action);
    }
    addSeparator(edit, "mnu_script_sep_6");
    addEntry(edit, "mnu_script_ease", QStringLiteral("Ease Between..."), &Frm_Script_Editor::mnu_script_ease_Click);
    m_recordEntry = addEntry(edit, "mnu_script_record", QStringLiteral("Record"), &Frm_Script_Editor::Btn_Record_Click);
    m_recordEntry->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    addSeparator(edit, "mnu_script_sep_3");
    addEntry(edit, "mnu_script_from_panel", QStringLiteral("Take Pose from Panel"),
             &Frm_Script_Editor::mnu_script_from_panel_Click)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));

    QMenu *view = addMenu("mnu_script_view", QStringLiteral("&View"));
    m_showTimeline = addEntry(view, "mnu_script_timeline", QStringLiteral("Timeline"),
                              &Frm_Script_Editor::mnu_script_timeline_Click);
    m_showTimeline->setCheckable(true);
    m_showTimeline->setShortcut(QKeySequence(Qt::Key_F6));
}

QWidget *Frm_Script_Editor::buildDescription()
{
    auto *box = new QGroupBox(QStringLiteral("SCRIPT DESCRIPTION"));

    m_title = new QLineEdit;
    m_title->setObjectName(QStringLiteral("Txt_Script_Title"));
    // Whatever changes the field's text, its own undo included, is a step of the script's; the
    // editor's own setText only ever shows the script's text and pushes nothing.
    connect(m_title, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (text != m_content.title)
            push(new Text_Command(m_content, m_changed, Text_Command::Title, text));
    });
    m_date = new QLineEdit;
    m_date->setObjectName(QStringLiteral("Txt_Script_Date"));
    connect(m_date, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (text != m_content.date)
            push(new Text_Command(m_content, m_changed, Text_Command::Date, text));
    });
    m_date->setMaximumWidth(m_date->fontMetrics().horizontalAdvance(QStringLiteral("00-00-00000")) + 16);

    m_newList = new QPushButton(QStringLiteral("NEW SCRIPT"));
    m_newList->setObjectName(QStringLiteral("Btn_New_List"));
    connect(m_newList, &QPushButton::clicked, this, &Frm_Script_Editor::Btn_New_List_Click);
    m_clearList = new QPushButton(QStringLiteral("CLEAR SCRIPT"));
    m_clearList->setObjectName(QStringLiteral("Btn_Clear_List"));
    connect(m_clearList, &QPushButton::clicked, this, &Frm_Script_Editor::Btn_Clear_List_Click);

    auto *view = new ActionListView;
    view->onPress = [this](Qt::MouseButton button, const QPoint &at) { L_View_MouseDown(button, at); };
    view->onDoubleClick = [this] { L_View_DblClick(); };
    m_view = view;
    m_view->setObjectName(QStringLiteral("L_View"));
    m_model = new RowModel(m_content.actions, style()->standardIcon(QStyle::SP_MessageBoxWarning), this);
    m_view->setModel(m_model);
    m_view->setRootIsDecorated(false);
    m_view->setItemsExpandable(false);
    m_view->setUniformRowHeights(true); // what keeps a long script quick to show
    m_view->setAllColumnsShowFocus(true);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->header()->setStretchLastSection(true);
    m_view->header()->setSectionsMovable(false);
    // Room for the warning mark a row with a problem carries beside its number.
    const int mark = style()->pixelMetric(QStyle::PM_SmallIconSize) + 6;
    m_view->setColumnWidth(0, m_view->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16 + mark);
    const QString widestRow = QStringLiteral("000000  mrm-000-000-000-000-000-000-000-000");
    m_view->setMinimumWidth(m_view->fontMetrics().horizontalAdvance(widestRow));
    m_view->setMinimumHeight(14 * (m_view->fontMetrics().height() + 4));

    auto *grid = new QGridLayout(box);
    grid->addWidget(new QLabel(QStringLiteral("Script Title")), 0, 0);
    grid->addWidget(m_title, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Date")), 1, 0);
    grid->addWidget(m_date, 1, 1);
    m_record = new QPushButton(QStringLiteral("Record"));
    m_record->setObjectName(QStringLiteral("Btn_Record"));
    m_record->setToolTip(QStringLiteral("Record what the control panel sends, as moves and waits (Ctrl+R)"));
    connect(m_record, &QPushButton::clicked, this, &Frm_Script_Editor::Btn_Record_Click);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_newList);
    buttons->addWidget(m_clearList);
    buttons->addStretch();
    buttons->addWidget(m_record);
    grid->addLayout(buttons, 2, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Action List")), 3, 0, 1, 3);
    grid->addWidget(m_view, 4, 0, 1, 3);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *Frm_Script_Editor::buildActionTool()
{
    auto *box = new QGroupBox(QStringLiteral("SCRIPT ACTION TOOL"));

    m_kind = new QComboBox;
    m_kind->setObjectName(QStringLiteral("Cmb_action"));
    m_kind->setEditable(true);
    // The kinds are the program's: typed text is never added to them, nor completed into
    // another kind than the one the fields show.
    m_kind->setInsertPolicy(QComboBox::NoInsert);
    m_kind->setCompleter(nullptr);
    m_kind->setMaxVisibleItems(int(Kinds.size()));
    connect(m_kind, &QComboBox::activated, this, &Frm_Script_Editor::Cmb_action_Click);

    m_fromPanel = new QPushButton(QStringLiteral("From panel"));
    m_fromPanel->setObjectName(QStringLiteral("Btn_From_Panel"));
    m_fromPanel->setEnabled(false);
    connect(m_fromPanel, &QPushButton::clicked, this, &Frm_Script_Editor::Btn_From_Panel_Click);
    // The longest kind stays readable beside the button.
    m_kind->setMinimumContentsLength(int(std::string_view("Move Single Servo").size()));
    auto *selection = new QHBoxLayout;
    selection->addWidget(m_kind, 1);
    selection->addWidget(m_fromPanel);

    auto *grid = new QGridLayout(box);
    grid->addWidget(new QLabel(QStringLiteral("Action Selection")), 0, 0, 1, 2);
    grid->addLayout(selection, 1, 0, 1, 2);
    grid->setRowMinimumHeight(2, 6);
    const int fieldWidth = fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 12;
    for (int i = 0; i < FieldCount; ++i) {
        auto *caption = new QLabel;
        caption->setObjectName(indexed("Lbl_Desc", i));
        auto *field = new QLineEdit;
        field->setObjectName(indexed("Txt_Action", i));
        field->setFixedWidth(fieldWidth);
        m_captions[size_t(i)] = caption;
        m_fields[size_t(i)] = field;
        grid->addWidget(caption, 3 + i, 0);
        grid->addWidget(field, 3 + i, 1, Qt::AlignRight);
        // Rows keep their place while hidden, so the tool does not jump from kind to kind.
        grid->setRowMinimumHeight(3 + i, field->sizeHint().height());
    }
    m_modify = new QPushButton(QStringLiteral("MODIFY"));
    m_modify->setObjectName(QStringLiteral("Btn_Modify_Action"));
    m_modify->setProperty("Tag", QString());
    connect(m_modify, &QPushButton::clicked, this, &Frm_Script_Editor::Btn_Modify_Action_Click);
    m_add = new QPushButton(QStringLiteral("ADD"));
    m_add->setObjectName(QStringLiteral("Btn_Add_Action"));
    connect(m_add, &QPushButton::clicked, this, &Frm_Script_Editor::Btn_Add_Action_Click);
    m_insert = new QPushButton(QStringLiteral("INSERT"));
    m_insert->setObjectName(QStringLiteral("Btn_Insert_Action"));
    m_insert->setToolTip(QStringLiteral("Insert the action before the selected row (Ctrl+I)"));
    connect(m_insert, &QPushButton::clicked, this, &Frm_Script_Editor::Btn_Insert_Action_Click);

    grid->setRowStretch(3 + FieldCount, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_modify);
    buttons->addStretch();
    buttons->addWidget(m_insert);
    buttons->addWidget(m_add);
    grid->addLayout(buttons, 4 + FieldCount, 0, 1, 2);
    grid->setColumnMinimumWidth(0, fontMetrics().horizontalAdvance(QStringLiteral("Neck Pitch Speed")) + 16);
    return box;
}

void Frm_Script_Editor::Form_Load()
{
    m_content = Script_Content{};
    m_undo.clear();
    m_model->refresh();
    m_kind->setEnabled(false);
    m_add->setEnabled(false);
    m_insert->setEnabled(false);
    m_modify->setEnabled(false);
    m_clearList->setEnabled(false);
    m_record->setEnabled(false);
    m_title->setEnabled(false);
    m_date->setEnabled(false);
    for (size_t i = 0; i < size_t(FieldCount); ++i) {
        m_captions[i]->hide();
        m_fields[i]->hide();
    }
}

void Frm_Script_Editor::Form_Activate()
{
    // The script itself stays: switching to another window and back loses nothing but the
    // tool's state.
    Deactivate_Action_Building_Tool();
    Load_Action_Description();
}

bool Frm_Script_Editor::event(QEvent *event)
{
    if (event->type() == QEvent::Show && !m_shown) {
        m_shown = true;
        Form_Activate();
    }
    return QWidget::event(event);
}

void Frm_Script_Editor::focusMoved(QWindow *window)
{
    if (!window)
        return; // another application: coming back from it is no switch between our windows
    const QWindow *own = windowHandle();
    if (window == own) {
        if (m_cameFromOtherWindow)
            Form_Activate();
        m_cameFromOtherWindow = false;
    } else if (belongsTo(window, own)) {
        // A message box, file dialog or menu of this window: its answer must find the tool
        // as the operator left it.
        m_cameFromOtherWindow = false;
    } else {
        m_cameFromOtherWindow = true;
    }
}

void Frm_Script_Editor::Load_Action_Description()
{
    m_kind->clear();
    for (const ActionKind &kind : Kinds)
        m_kind->addItem(QLatin1StringView(kind.item));
    m_kind->setCurrentIndex(-1);
    m_kind->setEditText(QString());
}

void Frm_Script_Editor::Deactivate_Action_Building_Tool()
{
    for (size_t i = 0; i < size_t(FieldCount); ++i) {
        m_captions[i]->clear();
        m_captions[i]->hide();
        m_fields[i]->clear();
        m_fields[i]->hide();
    }
    m_modify->setEnabled(false);
    m_modify->setProperty("Tag", QString());
    m_fromPanel->setEnabled(false);
}

void Frm_Script_Editor::Activate_Action_Building_Tool(int Cmd_ID)
{
    Deactivate_Action_Building_Tool();
    if (Cmd_ID < 0 || Cmd_ID >= int(Kinds.size()))
        return;
    const ActionKind &kind = Kinds[size_t(Cmd_ID)];
    for (int i = 0; i < kind.values(); ++i) {
        m_captions[size_t(i)]->setText(QLatin1StringView(kind.captions[size_t(i)]));
        m_captions[size_t(i)]->show();
        m_fields[size_t(i)]->setReadOnly(false);
        m_fields[size_t(i)]->show();
    }
    m_fields[0]->setText(QLatin1StringView(kind.preset));
    m_fields[0]->setReadOnly(kind.presetReadOnly);
    // Asked once, as the kind is chosen: the panel's state can only change in another window,
    // and coming back from one resets the tool.
    if (m_poseSource) {
        const Pose pose = m_poseSource(command(kind));
        m_fromPanel->setEnabled(pose.values.size() == kind.values() || !pose.refusal.isEmpty());
    }
}

void Frm_Script_Editor::Cmb_action_Click()
{
    Activate_Action_Building_Tool(m_kind->currentIndex());
    m_modify->setEnabled(false);
}

int Frm_Script_Editor::selectedKind() const
{
    // Only a kind chosen from the list counts: the fields on show are that kind's, while a
    // kind's name typed over another kind's fields would build it from the wrong fields.
    const int kind = m_kind->currentIndex();
    return kind >= 0 && m_kind->itemText(kind) == m_kind->currentText() ? kind : -1;
}

bool Frm_Script_Editor::kindIsChosen()
{
    if (selectedKind() >= 0)
        return true;
    inform(QStringLiteral("Choose an action from the list first"));
    return false;
}

std::optional<Script_Action> Frm_Script_Editor::buildAction(int Cmd_ID, qint32 Number)
{
    const ActionKind &kind = Kinds[size_t(Cmd_ID)];
    Script_Action action;
    action.Number = Number;
    action.Command = command(kind);
    action.Nb_Values = kind.values();
    for (int i = 0; i < kind.values(); ++i) {
        const std::optional<qint32> value = Frames::textToInt32(m_fields[size_t(i)]->text());
        if (!value) {
            inform(QStringLiteral("You must enter a valid number before adding the command"));
            return std::nullopt;
        }
        action.Values.append(*value);
    }
    return action;
}

bool Frm_Script_Editor::roomFor(qsizetype count)
{
    if (m_content.actions.Nb_Action + count <= MaxActions)
        return true;
    inform(QStringLiteral("A script holds at most %1 actions: this one is full.").arg(MaxActions));
    return false;
}

void Frm_Script_Editor::push(Script_Command *command)
{
    m_undo.push(command);
}

void Frm_Script_Editor::Add_Action_To_List(int Cmd_ID)
{
    if (!roomFor(1))
        return;
    const std::optional<Script_Action> action = buildAction(Cmd_ID, m_content.actions.Nb_Action + 1);
    if (!action)
        return;
    push(new Add_Command(m_content, m_changed, *action));
}

void Frm_Script_Editor::Modify_Action_To_List(int Cmd_ID)
{
    const qint16 position = m_modify->property("Tag").toString().toShort();
    const std::optional<Script_Action> action = buildAction(Cmd_ID, position + 1);
    if (!action)
        return;
    push(new Modify_Command(m_content, m_changed, position, *action));
}

QList<qint32> Frm_Script_Editor::selectedRows() const
{
    QList<qint32> rows;
    for (const QModelIndex &index : m_view->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void Frm_Script_Editor::selectRows(const QList<qint32> &rows)
{
    QItemSelection selection;
    const int last = m_model->rowCount() - 1;
    for (qsizetype i = 0; i < rows.size();) {
        // One range per run of rows, so a thousand pasted rows are one range.
        qsizetype j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        if (rows[i] >= 0 && rows[j] <= last)
            selection.select(m_model->index(rows[i], 0), m_model->index(rows[j], m_model->columnCount() - 1));
        i = j + 1;
    }
    if (selection.isEmpty())
        return;
    const QModelIndex first = m_model->index(rows.first(), 0);
    m_view->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
    m_view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_view->scrollTo(first);
}

void Frm_Script_Editor::scriptChanged(const Script_Change &change)
{
    if (change.listChanged) {
        if (change.select) {
            m_model->refresh();
            selectRows(*change.select);
            m_view->viewport()->update();
        } else {
            Refresh_Action_List();
        }
        // MODIFY writes the action it loaded, wherever that now stands.
        const QString tag = m_modify->property("Tag").toString();
        if (!tag.isEmpty()) {
            const qint32 row = change.rowMap(tag.toInt());
            if (row < 0) {
                m_modify->setProperty("Tag", QString());
                m_modify->setEnabled(false);
            } else {
                m_modify->setProperty("Tag", QString::number(row));
            }
        }
    }
    if (m_title->text() != m_content.title)
        m_title->setText(m_content.title);
    if (m_date->text() != m_content.date)
        m_date->setText(m_content.date);
    if (m_title->isEnabled() != m_content.editable) {
        setScriptEditing(m_content.editable);
        if (m_content.editable)
            Deactivate_Action_Building_Tool();
    }
    // Undoing NEW SCRIPT brings back a script with its file, which can be closed again.
    if (m_content.path != m_pathShown) {
        m_closeScript->setEnabled(!m_content.path.isEmpty());
        m_pathShown = m_content.path;
    }
    updateCaption();
    if (!m_keepTimer.isActive())
        m_keepTimer.start();
}

bool Frm_Script_Editor::isChanged() const
{
    const bool blank = m_content.path.isEmpty() && m_content.actions.Nb_Action == 0 && m_content.title.isEmpty();
    return !m_undo.isClean() && !blank;
}

void Frm_Script_Editor::updateCaption()
{
    QString caption = Caption;
    if (!m_content.path.isEmpty())
        caption += QStringLiteral(" - ") + m_content.path;
    if (isChanged())
        caption += u'*';
    setWindowTitle(caption);
}

void Frm_Script_Editor::keepUnsaved()
{
    m_keepTimer.stop();
    // Nothing to lose: the script is as its file has it, or holds nothing yet.
    if (!isChanged()) {
        m_recovery.forget();
        return;
    }
    QString why;
    if (!m_recovery.keep(m_content, &why))
        qWarning("The unsaved script cannot be kept: %s", qPrintable(why));
}

void Frm_Script_Editor::putAside()
{
    keepUnsaved();
    m_recovery.startNext();
}

void Frm_Script_Editor::replaceScript(const Script_Content &content)
{
    endTake();
    m_content = content;
    m_pathShown = m_content.path;
    m_undo.clear();
    Refresh_Action_List();
    m_title->setText(m_content.title);
    m_date->setText(m_content.date);
    setScriptEditing(m_content.editable);
    // An action loaded from the script shown before must not be written into this one.
    Deactivate_Action_Building_Tool();
    m_kind->setCurrentIndex(-1);
    m_kind->setEditText(QString());
    updateCaption();
}

void Frm_Script_Editor::Refresh_Action_List()
{
    m_model->refresh();
    if (m_content.actions.Nb_Action < 1)
        return;
    const QModelIndex first = m_model->index(0, 0);
    m_view->setCurrentIndex(first);
    m_view->scrollTo(first);
    m_view->viewport()->update();
}

void Frm_Script_Editor::Btn_Add_Action_Click()
{
    if (m_kind->currentText().isEmpty() || !kindIsChosen())
        return;
    Add_Action_To_List(selectedKind());
}

void Frm_Script_Editor::Btn_Modify_Action_Click()
{
    if (m_modify->property("Tag").toString().isEmpty() || !kindIsChosen())
        return;
    Modify_Action_To_List(selectedKind());
}

void Frm_Script_Editor::Btn_Clear_List_Click()
{
    if (m_dialogs.message(this, {Title, QStringLiteral("Are you sure ?"), QMessageBox::Question,
                                 QMessageBox::Yes | QMessageBox::No})
        == QMessageBox::Yes)
        Clear_Action_List();
}

void Frm_Script_Editor::Clear_Action_List()
{
    Deactivate_Action_Building_Tool();
    m_kind->setCurrentIndex(-1);
    m_kind->setEditText(QString());
    push(new Clear_Command(m_content, m_changed));
}

void Frm_Script_Editor::Btn_New_List_Click()
{
    if (m_dialogs.message(this, {Title, QStringLiteral("You want to create a new script ?"), QMessageBox::Question,
                                 QMessageBox::Yes | QMessageBox::No})
        != QMessageBox::Yes)
        return;
    endTake();
    // The script replaced lives on in the history, which goes with the window: its record is
    // kept apart from the new script's.
    if (isChanged())
        putAside();
    push(new New_Command(m_content, m_changed, today()));
    Clear_Script_Description();
    Enable_Script_Editing();
    Deactivate_Action_Building_Tool();
    m_closeScript->setEnabled(false);
}

void Frm_Script_Editor::Clear_Script_Description()
{
    m_title->setText(m_content.title);
    m_date->setText(m_content.date);
    // The view shows the script, so its rows go with the script's actions.
    m_model->refresh();
    m_kind->setCurrentIndex(-1);
    m_kind->setEditText(QString());
}

void Frm_Script_Editor::setScriptEditing(bool enabled)
{
    const std::initializer_list<QWidget *> controls{m_title, m_date,   m_view,   m_kind,  m_clearList,
                                                    m_add,   m_insert, m_modify, m_record};
    for (QWidget *control : controls)
        control->setEnabled(enabled);
}

void Frm_Script_Editor::Enable_Script_Editing()
{
    setScriptEditing(true);
}

void Frm_Script_Editor::Disable_Script_Editing()
{
    setScriptEditing(false);
}

void Frm_Script_Editor::L_View_DblClick()
{
    const QList<qint32> selected = selectedRows();
    if (selected.isEmpty())
        return;
    // The row double-clicked is the current one; of several selected otherwise, the first.
    const QModelIndex current = m_view->currentIndex();
    const int row = current.isValid() && selected.contains(current.row()) ? current.row() : selected.first();
    // The row is read back from the action it shows rather than from its text, so a negative
    // value keeps its sign.
    Script_Action action;
    Get_Script_Action(m_content.actions, row, action);

    const int kind = kindOfCommand(action.Command);
    if (kind >= 0)
        m_kind->setCurrentIndex(kind);
    Cmb_action_Click();
    for (int i = 0; i < qMin(int(action.Values.size()), FieldCount); ++i)
        m_fields[size_t(i)]->setText(QString::number(action.Values[i]));
    m_modify->setProperty("Tag", QString::number(row));
    m_modify->setEnabled(true);
}

void Frm_Script_Editor::L_View_MouseDown(Qt::MouseButton Button, const QPoint &globalPos)
{
    if (Button != Qt::RightButton || !m_view->selectionModel()->hasSelection())
        return;
    auto *popup = new QMenu(QStringLiteral("List Action"), this);
    popup->setObjectName(QStringLiteral("mnu_list_Action"));
    popup->setAttribute(Qt::WA_DeleteOnClose);
    QAction *remove = popup->addAction(QStringLiteral("Remove"));
    remove->setObjectName(QStringLiteral("mnu_remove"));
    connect(remove, &QAction::triggered, this, &Frm_Script_Editor::mnu_remove_Click);
    m_popup = popup;
    popup->popup(globalPos);
}

void Frm_Script_Editor::removeSelectedAction()
{
    const QList<qint32> selected = selectedRows();
    if (selected.isEmpty() || !m_content.editable)
        return;
    push(new Remove_Command(m_content, m_changed, selected));
    Deactivate_Action_Building_Tool();
    m_kind->setCurrentIndex(-1);
    m_kind->setEditText(QString());
}

void Frm_Script_Editor::mnu_remove_Click()
{
    removeSelectedAction();
}

void Frm_Script_Editor::mnu_script_remove_Click()
{
    removeSelectedAction();
}

void Frm_Script_Editor::Btn_From_Panel_Click()
{
    if (!m_poseSource || !kindIsChosen())
        return;
    const ActionKind &kind = Kinds[size_t(selectedKind())];
    const Pose pose = m_poseSource(command(kind));
    if (!pose.refusal.isEmpty()) {
        inform(pose.refusal);
        return;
    }
    if (pose.values.size() != kind.values())
        return;
    for (int i = 0; i < kind.values(); ++i)
        m_fields[size_t(i)]->setText(QString::number(pose.values[i]));
}

void Frm_Script_Editor::mnu_script_from_panel_Click()
{
    if (m_fromPanel->isEnabled())
        Btn_From_Panel_Click();
}

void Frm_Script_Editor::mnu_script_add_Click()
{
    Btn_Add_Action_Click();
}

void Frm_Script_Editor::mnu_script_modify_Click()
{
    if (m_modify->isEnabled())
        Btn_Modify_Action_Click();
}

void Frm_Script_Editor::mnu_script_clear_Click()
{
    Btn_Clear_List_Click();
}

void Frm_Script_Editor::mnu_script_close_Click()
{
    close();
}

void Frm_Script_Editor::mnu_script_close_script_Click()
{
    // Closed without a question, as ever; what was not saved can be recovered.
    endTake();
    putAside();
    m_content = Script_Content{};
    m_pathShown.clear();
    m_undo.clear();
    Clear_Script_Description();
    Deactivate_Action_Building_Tool();
    updateCaption();
    m_closeScript->setEnabled(false);
    Disable_Script_Editing();
}

void Frm_Script_Editor::closeEvent(QCloseEvent *event)
{
    endTake();
    keepUnsaved();
    QWidget::closeEvent(event);
}

void Frm_Script_Editor::mnu_script_open_Click()
{
    const QString name = m_dialogs.openFileName(this, QStringLiteral("Open script"), Program_Files::programFolder(), Filter);
    if (name.isEmpty() || !QFileInfo(name).isFile())
        return;
    // Read beside the script in hand, so that a file that is refused leaves it as it was.
    Action_List loaded;
    Script_Header header;
    QString why;
    if (!Read_Script_File(name, loaded, header, &why)) {
        inform(QStringLiteral("The script \"%1\" cannot be opened: %2.").arg(QDir::toNativeSeparators(name), why));
        return;
    }
    putAside();
    m_header = header;
    replaceScript({std::move(loaded), m_header.Script_Name, m_header.Script_Date, name, true});
    m_closeScript->setEnabled(true);
}

bool Frm_Script_Editor::Check_Script()
{
    if (m_content.actions.Nb_Action < 1) {
        inform(QStringLiteral("Script is empty, please add actions"));
        return false;
    }
    if (m_title->text().isEmpty()) {
        inform(QStringLiteral("Enter a script title"));
        m_title->setFocus();
        return false;
    }
    if (m_title->text().size() > Profile_Text::MaxValueLength) {
        inform(QStringLiteral("The title is longer than %1 characters, the most a script file keeps.")
                   .arg(Profile_Text::MaxValueLength));
        m_title->setFocus();
        return false;
    }
    Script_Action last;
    Get_Script_Action(m_content.actions, m_content.actions.Nb_Action - 1, last);
    if (last.Command != QStringLiteral("end")) {
        inform(QStringLiteral("The last action of a script must be 'end' "));
        return false;
    }
    return true;
}

void Frm_Script_Editor::mnu_script_save_Click()
{
    if (!Check_Script()) {
        inform(QStringLiteral("Save canceled !"));
        return;
    }
    const QString preset =
        m_content.path.isEmpty() ? Program_Files::saveFolder(Program_Files::programFolder()) : m_content.path;
    const QString name = m_dialogs.saveFileName(this, QStringLiteral("Save script"), preset, Filter);
    if (name.isEmpty())
        return;

    // The window shows the date that is saved.
    const QString date = m_date->text().isEmpty() ? today() : m_date->text();
    QString why;
    if (!Write_Script_File(name, m_title->text(), date, m_content.actions, &why)) {
        inform(QStringLiteral("The script was not saved. %1.").arg(why));
        return;
    }
    if (date != m_date->text())
        push(new Text_Command(m_content, m_changed, Text_Command::Date, date));
    m_content.path = name;
    m_pathShown = name;
    m_undo.setClean();
    m_keepTimer.stop();
    m_recovery.forget();
    updateCaption();
}

void Frm_Script_Editor::Btn_Insert_Action_Click()
{
    if (m_kind->currentText().isEmpty() || !kindIsChosen() || !roomFor(1))
        return;
    const std::optional<Script_Action> action = buildAction(selectedKind(), 0);
    if (!action)
        return;
    const QList<qint32> selected = selectedRows();
    const qint32 at = selected.isEmpty() ? m_content.actions.Nb_Action : selected.first();
    push(new Insert_Command(m_content, m_changed, at, *action));
}

void Frm_Script_Editor::mnu_script_insert_Click()
{
    if (m_insert->isEnabled())
        Btn_Insert_Action_Click();
}

void Frm_Script_Editor::mnu_script_move_up_Click()
{
    const QList<qint32> rows = selectedRows();
    if (m_content.editable && Script_Edit::canMove(m_content.actions, rows, -1))
        push(new Move_Command(m_content, m_changed, rows, -1));
}

void Frm_Script_Editor::mnu_script_move_down_Click()
{
    const QList<qint32> rows = selectedRows();
    if (m_content.editable && Script_Edit::canMove(m_content.actions, rows, 1))
        push(new Move_Command(m_content, m_changed, rows, 1));
}

void Frm_Script_Editor::mnu_script_duplicate_Click()
{
    const QList<qint32> rows = selectedRows();
    if (!m_content.editable || rows.isEmpty() || !roomFor(rows.size()))
        return;
    push(new Duplicate_Command(m_content, m_changed, rows));
}

void Frm_Script_Editor::mnu_script_copy_Click()
{
    const QList<qint32> rows = selectedRows();
    if (!rows.isEmpty())
        QGuiApplication::clipboard()->setText(Format_Action_Lines(Script_Edit::actionsAt(m_content.actions, rows)));
}

void Frm_Script_Editor::mnu_script_cut_Click()
{
    const QList<qint32> rows = selectedRows();
    if (!m_content.editable || rows.isEmpty())
        return;
    mnu_script_copy_Click();
    push(new Cut_Command(m_content, m_changed, rows));
}

void Frm_Script_Editor::mnu_script_paste_Click()
{
    if (!m_content.editable)
        return;
    QList<Script_Action> actions;
    QString why;
    if (!Parse_Action_Lines(QGuiApplication::clipboard()->text(), actions, &why)) {
        inform(QStringLiteral("Nothing was pasted: %1.").arg(why));
        return;
    }
    if (!roomFor(actions.size()))
        return;
    const QList<qint32> selected = selectedRows();
    const qint32 at = selected.isEmpty() ? m_content.actions.Nb_Action : selected.first();
    push(new Paste_Command(m_content, m_changed, at, actions));
}

void Frm_Script_Editor::mnu_script_select_all_Click()
{
    m_view->selectAll();
}

void Frm_Script_Editor::mnu_script_recover_Show()
{
    m_recoverMenu->clear();
    const QList<Script_Recovery::Entry> entries = m_recovery.entries();
    if (entries.isEmpty()) {
        QAction *none = m_recoverMenu->addAction(QStringLiteral("No unsaved script"));
        none->setObjectName(QStringLiteral("mnu_script_recover_none"));
        none->setEnabled(false);
        return;
    }
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Script_Recovery::Entry &entry = entries[i];
        const QString name = !entry.content.title.isEmpty() ? entry.content.title
                             : !entry.content.path.isEmpty() ? QFileInfo(entry.content.path).fileName()
                                                             : QStringLiteral("Untitled");
        QAction *action = m_recoverMenu->addAction(QStringLiteral("%1 (%2 actions, %3)")
                                                       .arg(name)
                                                       .arg(entry.content.actions.Nb_Action)
                                                       .arg(QLocale().toString(entry.kept, QLocale::ShortFormat)));
        action->setObjectName(indexed("mnu_script_recover", int(i)));
        connect(action, &QAction::triggered, this, [this, entry] { recoverScript(entry); });
    }
}

void Frm_Script_Editor::recoverScript(const Script_Recovery::Entry &entry)
{
    putAside();
    m_header = Script_Header{};
    replaceScript(entry.content);
    // It goes on in its own record, which stays until it is saved.
    m_recovery.adopt(entry);
    m_undo.resetClean();
    updateCaption();
    m_closeScript->setEnabled(!m_content.path.isEmpty());
}

void Frm_Script_Editor::inform(const QString &text)
{
    m_dialogs.inform(this, text, QMessageBox::Information, Title);
}

void Frm_Script_Editor::mnu_script_timeline_Click()
{
    m_timeline->setVisible(m_showTimeline->isChecked());
    updateTimeline();
}

void Frm_Script_Editor::setProfile(const Script_Schedule::Motion_Profile &profile)
{
    m_profile = profile;
    m_timeline->setProfile(profile);
    updateTimeline();
}

void Frm_Script_Editor::mnu_script_ease_Click()
{
    if (!m_content.editable)
        return;
    const QList<qint32> rows = selectedRows();
    const qint32 first = rows.isEmpty() ? -1 : rows.first();
    const qint32 last = rows.isEmpty() ? -1 : rows.last();
    const QString why = Script_Ease::refusal(m_content.actions, first, last);
    if (!why.isEmpty()) {
        inform(why);
        return;
    }
    Script_Ease::Settings preset;
    preset.durationMs = Script_Ease::waitsBetween(m_content.actions, first, last);
    const std::optional<Script_Ease::Settings> settings = m_easeAsk(this, preset);
    if (!settings)
        return;
    const qint32 waits = last - first - 1;
    if (m_content.actions.Nb_Action - waits + Script_Ease::countBetween(*settings) > MaxActions) {
        inform(QStringLiteral("Easing would make the script longer than %1 actions: choose a longer step or a "
                              "shorter duration.")
                   .arg(MaxActions));
        return;
    }
    const QList<Script_Action> eased = Script_Ease::between(m_content.actions.Actions[first],
                                                            m_content.actions.Actions[last], *settings, m_profile);
    push(new Replace_Command(m_content, m_changed, QStringLiteral("Ease Between"), first + 1, waits, eased, 1));
}

void Frm_Script_Editor::Btn_Record_Click()
{
    if (m_take) {
        endTake();
        return;
    }
    if (!m_content.editable)
        return;
    const QList<qint32> selected = selectedRows();
    m_takeAt = selected.isEmpty() ? m_content.actions.Nb_Action : selected.first();
    m_take.emplace(MaxActions - m_content.actions.Nb_Action);
    showTake();
}

void Frm_Script_Editor::recordFrame(const QByteArray &frame)
{
    if (!m_take)
        return;
    if (!m_take->add(frame, m_recordClock())) {
        endTake();
        inform(QStringLiteral("A script holds at most %1 actions: the take stopped there.").arg(MaxActions));
        return;
    }
    showTake();
}

void Frm_Script_Editor::endTake()
{
    if (!m_take)
        return;
    QList<Script_Action> actions = m_take->actions();
    m_take.reset();
    showTake();
    // The list may have grown while the take ran.
    actions.resize(std::clamp<qsizetype>(MaxActions - m_content.actions.Nb_Action, 0, actions.size()));
    if (!actions.isEmpty())
        push(new Replace_Command(m_content, m_changed, QStringLiteral("Record"), m_takeAt, 0, actions));
}

void Frm_Script_Editor::showTake()
{
    const bool recording = m_take.has_value();
    m_record->setText(recording ? QStringLiteral("Stop") : QStringLiteral("Record"));
    m_recordEntry->setText(recording ? QStringLiteral("Stop Recording") : QStringLiteral("Record"));
    if (recording)
        m_length->setText(QStringLiteral("Recording: %1 actions").arg(m_take->actions().size()));
    else
        updateTimeline();
}

void Frm_Script_Editor::updateTimeline()
{
    qint64 length = 0;
    Script_Schedule::startTimes(m_content.actions, &length);
    m_length->setText(QStringLiteral("Length: %1 s").arg(QLocale().toString(double(length) / 1000.0, 'f', 2)));
    // A hidden timeline is brought up to date when it is shown.
    if (!m_timeline->isVisibleTo(this))
        return;
    m_timeline->setScript(m_content.actions);
    m_timeline->setSelection(selectedRows());
}
