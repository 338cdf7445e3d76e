#include "scripts/Frm_Script_Player.h"

#include "link/Com.h"
#include "link/Frames.h"
#include "ui/Dialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

const QString Title = QStringLiteral("ORVIK");

constexpr qint64 NsPerMs = 1000000;

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

const Frames::Kind *moveKind(const QString &command)
{
    for (const Frames::Kind &kind : Frames::Moves) {
        if (command == QLatin1StringView(kind.mnemonic.data(), qsizetype(kind.mnemonic.size())))
            return &kind;
    }
    return nullptr;
}

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
{
    setObjectName(QStringLiteral("Frm_Script_Player"));
    setWindowTitle(QStringLiteral("Script Player"));
    m_elapsed.start();
    m_now = [this] { return m_elapsed.nsecsElapsed(); };
    buildControls();
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
    m_view->setColumnWidth(0, m_view->fontMetrics().horizontalAdvance(QStringLiteral("No.  32767")) + 8);

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

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("T_Script"));
    m_timer->setTimerType(Qt::PreciseTimer);
    // Each step arms the timer for the next one itself.
    m_timer->setSingleShot(true);
    m_timer->setInterval(Step);
    connect(m_timer, &QTimer::timeout, this, &Frm_Script_Player::T_Script_Timer);

    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path);
    pathRow->addWidget(open);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(caption("Label1", QStringLiteral("Script file")));
    layout->addLayout(pathRow);
    layout->addWidget(m_info);
    layout->addSpacing(4);
    layout->addWidget(caption("Label2", QStringLiteral("Actions list")));
    layout->addWidget(m_view, 1);
    layout->addLayout(buttons);
    resize(420, 500);
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
    m_script = std::move(script);
    m_header = header;
    m_currentAction = 0;
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
    QList<QTreeWidgetItem *> rows;
    rows.reserve(m_script.Nb_Action);
    for (qint32 i = 0; i < m_script.Nb_Action; ++i) {
        Script_Action action;
        Get_Script_Action(m_script, i, action);
        QStringList text{action.Command};
        for (const qint32 value : std::as_const(action.Values))
            text.append(QString::number(value));
        rows.append(new QTreeWidgetItem(QStringList{QString::number(action.Number), text.join(u'-')}));
    }
    m_view->addTopLevelItems(rows);
    if (m_script.Nb_Action > 0)
        showRow(0);
}

void Frm_Script_Player::showRow(int row)
{
    // With no script there is no row to show; the buttons still act on nothing harmlessly.
    QTreeWidgetItem *item = m_view->topLevelItem(row);
    if (!item)
        return;
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
    const qint32 last = m_script.Nb_Action - 1;
    switch (Index) {
    case Stop:
        m_timer->stop();
        m_currentAction = 0;
        showRow(0);
        setStepButtonsEnabled(true);
        break;
    case Play:
        if (m_script.Nb_Action <= 0) {
            m_dialogs.inform(this, QStringLiteral("Select a script to play first"), QMessageBox::Information, Title);
            return;
        }
        play(m_now());
        break;
    case Next:
        if (last < 0)
            return;
        m_currentAction = std::min(m_currentAction + 1, last);
        showRow(m_currentAction);
        break;
    case Previous:
        if (last < 0)
            return;
        m_currentAction = std::max(m_currentAction - 1, 0);
        showRow(m_currentAction);
        break;
    case Pause:
        halt();
        break;
    default:
        break;
    }
}

void Frm_Script_Player::play(qint64 from)
{
    // Play always starts with the short step, whatever the last action set.
    m_dueNs = from;
    m_lengthMs = Step;
    scheduleNext(Step);
    setStepButtonsEnabled(false);
}

void Frm_Script_Player::halt()
{
    m_timer->stop();
    setStepButtonsEnabled(true);
    showRow(m_currentAction);
}

void Frm_Script_Player::scheduleNext(qint64 length)
{
    const qint64 now = m_now();
    qint64 due = m_dueNs + length * NsPerMs;
    // After a stall longer than a step the next step would already be late: go on from now
    // rather than fire the missed steps back to back.
    if (due < now)
        due = now + length * NsPerMs;
    m_dueNs = due;
    // In whole milliseconds, rounded down: the event loop wakes up to a millisecond after a
    // timer is due, so rounding down lands the step on its time on average.
    const qint64 remainingMs = (due - now) / NsPerMs;
    m_timer->start(int(std::min<qint64>(remainingMs, INT_MAX)));
}

QString Frm_Script_Player::unsendable(const Frames::Kind &kind, const Script_Action &action)
{
    if (action.Values.size() != kind.dataBytes || action.Nb_Values != kind.dataBytes)
        return QStringLiteral("a \"%1\" move takes %2 values, not %3")
            .arg(action.Command)
            .arg(kind.dataBytes)
            .arg(action.Values.size());
    for (const qint32 value : action.Values) {
        if (value < 0 || value > 255)
            return QStringLiteral("the value %1 is not between 0 and 255").arg(value);
    }
    return {};
}

void Frm_Script_Player::T_Script_Timer()
{
    m_timer->stop();
    // A shorter script opened while playing, or none at all: nothing left to run.
    if (m_currentAction < 0 || m_currentAction >= m_script.Nb_Action) {
        Btn_Cmd_Click(Stop);
        return;
    }
    showRow(m_currentAction);

    Script_Action action;
    Get_Script_Action(m_script, m_currentAction, action);
    if (const Frames::Kind *kind = moveKind(action.Command)) {
        // A frame of the wrong length would throw the controller out of step with every frame
        // after it, so such a move is never written; playing stops on it.
        const QString why = unsendable(*kind, action);
        if (!why.isEmpty()) {
            halt();
            m_dialogs.inform(this, QStringLiteral("Action %1 cannot be sent to the robot: %2.").arg(action.Number).arg(why),
                             QMessageBox::Information, Title);
            return;
        }
        if (m_com.PortOpen()) {
            QByteArray data;
            for (const qint32 value : std::as_const(action.Values))
                data.append(char(value));
            // The robot is not reading: stay on this move, so that play sends it again.
            if (!m_com.Output(Frames::frame(*kind, data)) && m_com.OutputStalled()) {
                halt();
                return;
            }
        }
        m_lengthMs = Step;
    } else if (action.Command == u"wait") {
        // A wait of 0 or below goes on at once; a long one is honoured as given.
        m_lengthMs = std::max<qint64>(action.Values.value(0), 0);
    }

    if (m_currentAction >= m_script.Nb_Action - 1) {
        const qint64 due = m_dueNs;
        Btn_Cmd_Click(Stop);
        if (m_loop->isChecked())
            play(due);
        return;
    }
    ++m_currentAction;
    scheduleNext(m_lengthMs);
}

void Frm_Script_Player::closeEvent(QCloseEvent *event)
{
    // Nothing plays on behind a closed window.
    m_timer->stop();
    setStepButtonsEnabled(true);
    QWidget::closeEvent(event);
}
