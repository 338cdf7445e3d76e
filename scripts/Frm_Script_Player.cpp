#include "scripts/Frm_Script_Player.h"

#include "link/Com.h"
#include "scripts/Script_Check.h"
#include "scripts/Script_Timeline.h"
#include "ui/Dialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QSettings>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString Title = QStringLiteral("ORVIK");
const QString PauseOnWhiskerKey = QStringLiteral("Player/PauseOnWhisker");
const QString PauseWhiskerKey = QStringLiteral("Player/PauseWhisker");
const QString PauseOnLowBatteryKey = QStringLiteral("Player/PauseOnLowBattery");

struct CommandButton
{
    QStyle::StandardPixmap icon;
    const char *toolTip;
};

// Indexed by Frm_Script_Player::Command.
constexpr std::array<CommandButton, Frm_Script_Player::CommandCount> CommandButtons{{
    {QStyle::SP_MediaStop, "Stop"},
    {QStyle::SP_MediaPlay, "Play"},
    {QStyle::SP_MediaSeekForward, "Next"},
    {QStyle::SP_MediaSeekBackward, "Previous"},
    {QStyle::SP_MediaPause, "Pause"},
}};
// Left to right on the window.
constexpr std::array<int, Frm_Script_Player::CommandCount> ButtonOrder{3, 0, 1, 4, 2};

QLabel *caption(const char *name, const QString &text)
{
    auto *label = new QLabel(text);
    label->setObjectName(QLatin1StringView(name));
    return label;
}

} // namespace

Frm_Script_Player::Frm_Script_Player(Com &com, Dialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_com(com)
    , m_dialogs(dialogs)
    , m_runner(new Script_Runner(com))
{
    m_com.adopt(m_runner);
    setObjectName(QStringLiteral("Frm_Script_Player"));
    setWindowTitle(QStringLiteral("Script Player"));
    buildControls();

    connect(m_runner, &Script_Runner::actionStarted, this, [this](qint32 index) {
        // From the line's thread, news of a step that started before a pause comes after it.
        if (!m_playing && !(m_runner && m_runner->thread() == thread()))
            return;
        showRow(index);
        m_actionPlaying = m_runner->script().Actions.value(index).Number;
        emit actionPlaying(m_actionPlaying);
    });
    connect(m_runner, &Script_Runner::finished, this, [this] {
        m_playing = isPlaying();
        showRow(0);
        setStepButtonsEnabled(!m_playing);
        if (!m_playing)
            emit actionPlaying(0);
    });
    connect(m_runner, &Script_Runner::refused, this, [this](const Script_Action &action, const QString &why) {
        halt();
        m_dialogs.inform(this, QStringLiteral("Action %1 cannot be sent to the robot: %2.").arg(action.Number).arg(why),
                         QMessageBox::Information, Title);
    });
    connect(m_runner, &Script_Runner::stalled, this, &Frm_Script_Player::halt);
}

Frm_Script_Player::~Frm_Script_Player()
{
    if (!m_runner)
        return;
    if (m_runner->thread() == thread())
        delete m_runner;
    else
        m_com.runOnLine([runner = m_runner.data()] { delete runner; });
}

void Frm_Script_Player::setClock(Clock clock)
{
    if (!m_runner)
        return;
    const bool own = !clock;
    m_runner->setClock(std::move(clock));
    const bool onLine = m_runner->thread() != thread();
    if (own && !onLine) {
        m_runner->setParent(nullptr);
        m_com.adopt(m_runner);
    } else if (!own && onLine) {
        QThread *window = thread();
        m_com.runOnLine([runner = m_runner.data(), window] { runner->moveToThread(window); });
        m_runner->setParent(this);
    }
}

void Frm_Script_Player::buildControls()
{
    m_path = new QLineEdit;
    m_path->setObjectName(QStringLiteral("Txt_Script_Path"));
    auto *open = new QPushButton(QStringLiteral("..."));
    open->setObjectName(QStringLiteral("Btn_Open_Script"));
    open->setFixedSize(open->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16, m_path->sizeHint().height());
    connect(open, &QPushButton::clicked, this, &Frm_Script_Player::Btn_Open_Script_Click);

    m_info = new QPlainTextEdit;
    m_info->setObjectName(QStringLiteral("Txt_Script_Info"));
    m_info->setReadOnly(true);
    m_info->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_info->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A tab stop between the widths of the short captions and of "Software :", so that two
    // tabs after "Name :" and one after "Software :" reach the same column in any font.
    const QFontMetrics metrics = m_info->fontMetrics();
    const int shortCaption = std::max(metrics.horizontalAdvance(QStringLiteral("Name :")),
                                      metrics.horizontalAdvance(QStringLiteral("Date :")));
    m_info->setTabStopDistance((shortCaption + metrics.horizontalAdvance(QStringLiteral("Software :"))) / 2.0);
    m_info->setFixedHeight(metrics.lineSpacing() * 3 + 2 * (m_info->frameWidth() + int(m_info->document()->documentMargin())) + 2);

    m_view = new QTreeWidget;
    m_view->setObjectName(QStringLiteral("L_View"));
    m_view->setColumnCount(2);
    m_view->setHeaderLabels({QStringLiteral("No."), QStringLiteral("Commands")});
    m_view->setRootIsDecorated(false);
    m_view->setUniformRowHeights(true); // a long script lays out in no time
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setAllColumnsShowFocus(true);
    m_view->header()->setStretchLastSection(true);
    // Room for the warning mark a row with a problem carries beside its number.
    const int mark = style()->pixelMetric(QStyle::PM_SmallIconSize) + 6;
    m_view->setColumnWidth(0, m_view->fontMetrics().horizontalAdvance(QStringLiteral("No.  32767")) + 8 + mark);

    m_loop = new QCheckBox(QStringLiteral("Loop"));
    m_loop->setObjectName(QStringLiteral("Chk_Loop"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_loop);
    buttons->addStretch();
    for (int index : ButtonOrder) {
        auto *button = new QPushButton;
        button->setObjectName(QStringLiteral("Btn_Cmd(%1)").arg(index));
        button->setIcon(style()->standardIcon(CommandButtons[size_t(index)].icon));
        button->setToolTip(QString::fromLatin1(CommandButtons[size_t(index)].toolTip));
        button->setIconSize(QSize(20, 20));
        button->setFixedSize(38, 30);
        connect(button, &QPushButton::clicked, this, [this, index] { Btn_Cmd_Click(index); });
        m_buttons[size_t(index)] = button;
        buttons->addWidget(button);
    }

    connect(m_loop, &QCheckBox::toggled, m_runner, &Script_Runner::setLoop);

    m_paused = new QLabel;
    m_paused->setObjectName(QStringLiteral("Lbl_Paused"));
    m_paused->setStyleSheet(QStringLiteral("color: #b00000;"));


    m_check = new QLabel;
    m_check->setObjectName(QStringLiteral("Lbl_Check"));
    m_length = new QLabel;
    m_length->setObjectName(QStringLiteral("Lbl_Script_Length"));

    m_timeline = new Script_Timeline;
    m_timeline->hide();
    connect(m_timeline, &Script_Timeline::actionClicked, this, [this](qint32 row) {
        // While playing, the step now playing is the runner's; stopped, a click says where play resumes.
        if (!m_runner || m_runner->isPlaying())
            return;
        m_runner->setCurrentAction(row);
        showRow(row);
    });
    m_showTimeline = new QCheckBox(QStringLiteral("Timeline (F6)"));
    m_showTimeline->setObjectName(QStringLiteral("Chk_Timeline"));
    connect(m_showTimeline, &QCheckBox::toggled, this, [this](bool shown) {
        m_timeline->setVisible(shown);
        if (shown && m_runner) {
            m_timeline->setScript(m_runner->script());
            m_timeline->setCursorAction(m_runner->currentAction());
        }
    });
    auto *toggle = new QShortcut(QKeySequence(Qt::Key_F6), this);
    connect(toggle, &QShortcut::activated, m_showTimeline, &QCheckBox::toggle);

    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path);
    pathRow->addWidget(open);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(caption("Label1", QStringLiteral("Script file")));
    layout->addLayout(pathRow);
    layout->addWidget(m_info);
    layout->addSpacing(4);
    layout->addWidget(caption("Label2", QStringLiteral("Actions list")));
    auto *splitter = new QSplitter(Qt::Vertical);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(m_view);
    splitter->addWidget(m_timeline);
    layout->addWidget(splitter, 1);
    auto *checks = new QHBoxLayout;
    checks->addWidget(m_check, 1);
    checks->addWidget(m_length);
    layout->addLayout(checks);
    layout->addLayout(buildPauseChoices());
    layout->addWidget(m_paused);
    buttons->insertWidget(1, m_showTimeline);
    layout->addLayout(buttons);
    resize(420, 500);
}

QLayout *Frm_Script_Player::buildPauseChoices()
{
    const QSettings settings;
    m_pauseOnWhisker = new QCheckBox(QStringLiteral("Pause on Whisker"));
    m_pauseOnWhisker->setObjectName(QStringLiteral("Chk_Pause_Whisker"));
    m_pauseOnWhisker->setChecked(settings.value(PauseOnWhiskerKey, false).toBool());
    m_pauseWhisker = new QComboBox;
    m_pauseWhisker->setObjectName(QStringLiteral("Cmb_Pause_Whisker"));
    m_pauseWhisker->addItems({QStringLiteral("any"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                              QStringLiteral("4")});
    m_pauseWhisker->setCurrentIndex(std::clamp(settings.value(PauseWhiskerKey, 0).toInt(), 0, 4));
    m_pauseOnLowBattery = new QCheckBox(QStringLiteral("Pause on Low Battery"));
    m_pauseOnLowBattery->setObjectName(QStringLiteral("Chk_Pause_Low_Battery"));
    m_pauseOnLowBattery->setChecked(settings.value(PauseOnLowBatteryKey, false).toBool());
    m_pauseOnLowBattery->setToolTip(QStringLiteral("Needs the batteries read (START READING) and a low level set "
                                                   "in the sensor plot"));
    connect(m_pauseOnWhisker, &QCheckBox::toggled, this, &Frm_Script_Player::savePauseRule);
    connect(m_pauseWhisker, &QComboBox::currentIndexChanged, this, &Frm_Script_Player::savePauseRule);
    connect(m_pauseOnLowBattery, &QCheckBox::toggled, this, &Frm_Script_Player::savePauseRule);
    auto *pauses = new QHBoxLayout;
    pauses->addWidget(m_pauseOnWhisker);
    pauses->addWidget(m_pauseWhisker);
    pauses->addSpacing(12);
    pauses->addWidget(m_pauseOnLowBattery);
    pauses->addStretch();
    return pauses;
}

void Frm_Script_Player::Btn_Open_Script_Click()
{
    const QPointer<Frm_Script_Player> self(this);
    const QString name = m_dialogs.openFileName(this, QStringLiteral("Open a script"),
                                                QCoreApplication::applicationDirPath(), QStringLiteral("Script (*.sct)"));
    if (!self || name.isEmpty() || !QFileInfo(name).isFile())
        return;
    Load_Script(name);
}

bool Frm_Script_Player::Load_Script(const QString &File_Name)
{
    // Read aside, so that a file refused keeps the script, path and info shown.
    Action_List script;
    Script_Header header;
    QString why;
    if (!Read_Script_File(File_Name, script, header, &why)) {
        m_dialogs.inform(this, QStringLiteral("The script \"%1\" cannot be opened: %2.").arg(File_Name, why),
                         QMessageBox::Information, Title);
        return false;
    }
    // A script opened while another plays goes on playing, from its first action.
    m_runner->setScript(std::move(script));
    m_header = header;
    m_path->setText(File_Name);
    const QString info = QStringLiteral("Name :\t\t%1\r\nDate :\t\t%2\r\nSoftware :\t%3")
                             .arg(m_header.Script_Name, m_header.Script_Date, m_header.Script_Software);
    // The text box breaks a line at a lone "\n"; a "\r" would show as a second, empty line.
    m_info->setPlainText(QString(info).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    Refresh_Action_List();
    return true;
}

void Frm_Script_Player::Refresh_Action_List()
{
    m_view->clear();
    const Action_List &script = m_runner->script();
    QList<QTreeWidgetItem *> rows;
    rows.reserve(script.Nb_Action);
    for (qint32 i = 0; i < script.Nb_Action; ++i) {
        Script_Action action;
        Get_Script_Action(script, i, action);
        QStringList text{action.Command};
        for (const qint32 value : std::as_const(action.Values))
            text.append(QString::number(value));
        rows.append(new QTreeWidgetItem(QStringList{QString::number(action.Number), text.join(u'-')}));
    }
    m_view->addTopLevelItems(rows);
    showProblems();
    qint64 length = 0;
    Script_Schedule::startTimes(script, &length);
    m_length->setText(QStringLiteral("Length: %1 s").arg(QLocale().toString(double(length) / 1000.0, 'f', 2)));
    if (m_timeline->isVisibleTo(this))
        m_timeline->setScript(script);
    if (script.Nb_Action > 0)
        showRow(0);
}

void Frm_Script_Player::setProfile(const Robot_Profile &profile)
{
    m_profile = profile;
    if (m_runner)
        m_runner->setProfile(profile);
    m_timeline->setProfile(Script_Schedule::Motion_Profile::of(profile));
    // The script shown is drawn again with the new speeds and ranges.
    if (m_timeline->isVisibleTo(this))
        m_timeline->setScript(m_runner->script());
    showProblems();
}

void Frm_Script_Player::showProblems()
{
    const QList<Script_Problem> problems = Check_Script_Actions(m_runner->script(), m_profile);
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    for (int i = 0; i < m_view->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = m_view->topLevelItem(i);
        row->setIcon(0, QIcon());
        for (int column = 0; column < m_view->columnCount(); ++column)
            row->setToolTip(column, QString());
    }
    for (const Script_Problem &problem : problems) {
        QTreeWidgetItem *row = m_view->topLevelItem(problem.Index);
        row->setIcon(0, warning);
        for (int column = 0; column < m_view->columnCount(); ++column)
            row->setToolTip(column, problem.Text);
    }
    m_check->setText(problems.isEmpty()       ? QStringLiteral("No problem found")
                     : problems.size() == 1 ? QStringLiteral("1 action has a problem")
                                            : QStringLiteral("%1 actions have a problem").arg(problems.size()));
}

void Frm_Script_Player::showRow(int row)
{
    // With no script there is no row to show; the buttons still act on nothing harmlessly.
    QTreeWidgetItem *item = m_view->topLevelItem(row);
    if (!item)
        return;
    if (m_timeline->isVisibleTo(this))
        m_timeline->setCursorAction(row);
    m_view->setCurrentItem(item);
    m_view->scrollToItem(item);
    m_view->setFocus();
}

void Frm_Script_Player::setStepButtonsEnabled(bool enabled)
{
    m_buttons[Next]->setEnabled(enabled);
    m_buttons[Previous]->setEnabled(enabled);
}

void Frm_Script_Player::Btn_Cmd_Click(int Index)
{
    if (!m_runner)
        return;
    const qint32 last = m_runner->script().Nb_Action - 1;
    switch (Index) {
    case Stop:
        m_playing = false;
        m_runner->stop();
        showRow(0);
        setStepButtonsEnabled(true);
        m_paused->clear();
        emit actionPlaying(0);
        break;
    case Play:
        if (m_runner->script().Nb_Action <= 0) {
            m_dialogs.inform(this, QStringLiteral("Select a script to play first"), QMessageBox::Information, Title);
            return;
        }
        m_paused->clear();
        m_playing = true;
        m_runner->play();
        setStepButtonsEnabled(false);
        break;
    case Next:
        if (last < 0)
            return;
        m_runner->setCurrentAction(std::min(m_runner->currentAction() + 1, last));
        showRow(m_runner->currentAction());
        break;
    case Previous:
        if (last < 0)
            return;
        m_runner->setCurrentAction(std::max(m_runner->currentAction() - 1, 0));
        showRow(m_runner->currentAction());
        break;
    case Pause:
        halt();
        break;
    default:
        break;
    }
}

void Frm_Script_Player::halt()
{
    m_playing = false;
    if (!m_runner)
        return;
    m_runner->halt();
    setStepButtonsEnabled(true);
    showRow(m_runner->currentAction());
    emit actionPlaying(0);
}

Pause_Rule Frm_Script_Player::pauseRule() const
{
    Pause_Rule rule;
    if (m_pauseOnWhisker->isChecked()) {
        const int whisker = m_pauseWhisker->currentIndex(); // 0: any
        rule.whiskers = whisker == 0 ? Pause_Rule::AnyWhisker : quint8(1u << (whisker - 1));
    }
    rule.onLowBattery = m_pauseOnLowBattery->isChecked();
    return rule;
}

void Frm_Script_Player::savePauseRule() const
{
    QSettings settings;
    settings.setValue(PauseOnWhiskerKey, m_pauseOnWhisker->isChecked());
    settings.setValue(PauseWhiskerKey, m_pauseWhisker->currentIndex());
    settings.setValue(PauseOnLowBatteryKey, m_pauseOnLowBattery->isChecked());
}

void Frm_Script_Player::sensorEvent(const Sensor_Event &event)
{
    if (!m_playing || !pauseRule().pausesOn(event))
        return;
    const qint32 at = m_actionPlaying;
    // The runner stops before its next step (one already due may still go): the action shown
    // is where Play resumes.
    halt();
    m_paused->setText(QStringLiteral("Paused: %1 %2")
                          .arg(event.text(QLocale()),
                               at > 0 ? QStringLiteral("at action %1").arg(at) : QStringLiteral("before the first action")));
}

void Frm_Script_Player::T_Script_Timer()
{
    if (m_runner)
        m_runner->runStep();
}

void Frm_Script_Player::closeEvent(QCloseEvent *event)
{
    // Nothing plays on behind a closed window.
    halt();
    QWidget::closeEvent(event);
}
