#include "panel/Frm_Main.h"

#include "link/Frames.h"
#include "link/Socket_Device.h"
#include "ui/Colours.h"
#include "ui/Program_Files.h"
#include "panel/Frm_Single_Servo.h"
#include "panel/Frm_Traffic.h"
#include "panel/Send_Throttle.h"
#include "scripts/Frm_Script_Player.h"
#include "scripts/Frm_Script_Editor.h"
#include "sensors/Frm_Sensor_Plot.h"
#include "settings/Frm_Devices.h"
#include "settings/Frm_Robot_Profile.h"
#include "settings/Frm_Setup.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenuBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString DefaultSettings = QStringLiteral("57600, n, 8, 1");
const QString NotReading = QStringLiteral("Robot not reading: move not sent");

constexpr std::array<const char *, Frm_Main::FrameCount> FrameCaptions{
    "EYEBROWS", "EYES", "NECK", "LEFT ARM", "RIGHT ARM", "MOUTH", "BATTERIES && WHISKERS && ANALOGUES"};
constexpr int SensorFrame = 6;

struct ServoControl
{
    int frame;
    const char *caption;
    Qt::Orientation orientation;
    int tickInterval;
    int row, column; // place inside its panel
};

constexpr auto H = Qt::Horizontal;
constexpr auto V = Qt::Vertical;

// Element i of Slide, Lbl_Slide and Txt_Speed is row i; its range and start position are its
// servo's (servoOfSlide).
constexpr std::array<ServoControl, Frm_Main::ServoCount> ServoControls{{
    {0, "Left", H, 5, 0, 0},
    {0, "Right", H, 5, 0, 1},
    {1, "Left", H, 5, 0, 0},
    {1, "Right", H, 5, 0, 2},
    {1, "Pitch", V, 10, 0, 1},
    {2, "Yaw", H, 5, 0, 0},
    {2, "Pitch", V, 10, 0, 1},
    {3, "Elbow pitch", H, 10, 0, 0},
    {3, "Should pitch", H, 10, 1, 0},
    {3, "Should yaw", H, 10, 2, 0},
    {4, "Elbow pitch", H, 10, 0, 0},
    {4, "Should pitch", H, 10, 1, 0},
    {4, "Should yaw", H, 10, 2, 0},
    {5, "Left Up", H, 5, 0, 0},
    {5, "Right Up", H, 5, 0, 1},
    {5, "Left Down", H, 5, 1, 0},
    {5, "Right Down", H, 5, 1, 1},
}};

struct BodyPart
{
    int frame;
    const char *button;
    Frames::Kind kind;
    std::array<int, 4> elements; // in frame order; kind.dataBytes / 2 of them
};

// The frame order differs from the layout: the neck sends pitch before yaw, the mouth both
// left servos before the right ones, each arm shoulder yaw before shoulder pitch.
constexpr std::array<BodyPart, Frm_Main::BodyPartCount> BodyParts{{
    {0, "Btn_Send_Eyebrows", Frames::Eyebrows, {0, 1}},
    {1, "Btn_Send_Eyes", Frames::Eyes, {2, 3, 4}},
    {2, "Btn_Send_Neck", Frames::Neck, {6, 5}},
    {3, "Btn_Send_Left_Arm", Frames::LeftArm, {7, 9, 8}},
    {4, "Btn_Send_Right_Arm", Frames::RightArm, {10, 12, 11}},
    {5, "Btn_Send_Mouth", Frames::Mouth, {13, 15, 14, 16}},
}};

// The servo (its index in Servos::All) the slider moves.
int servoOfSlide(int i)
{
    for (const BodyPart &part : BodyParts)
        for (int slot = 0; slot < part.kind.dataBytes / 2; ++slot)
            if (part.elements[size_t(slot)] == i)
                return Robot_Profile::indexOfSlot(part.kind, slot + 1);
    return -1;
}

int partOfFrame(int frame)
{
    for (size_t part = 0; part < BodyParts.size(); ++part)
        if (BodyParts[part].frame == frame)
            return int(part);
    return -1;
}

QString indexed(const char *name, int i)
{
    return QStringLiteral("%1(%2)").arg(QLatin1StringView(name)).arg(i);
}

QLabel *valueLabel(const QString &name)
{
    auto *label = new QLabel;
    label->setObjectName(name);
    label->setFrameShape(QFrame::Box);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(48);
    return label;
}

// The bytes of a reply as they came in: its mnemonic, then its data bytes.
QByteArray replyFrame(const Sys_Project::Reply &reply)
{
    const Frames::Kind &kind = reply.kind == Sys_Project::ReplyKind::Batteries  ? Frames::BatteriesReply
                               : reply.kind == Sys_Project::ReplyKind::Analogue ? Frames::AnalogueReply
                                                                                : Frames::WhiskersReply;
    return Frames::frame(kind, QByteArrayView(reinterpret_cast<const char *>(reply.data.data()), kind.dataBytes));
}

// Battery bytes are tenths: 72 shows 7.2, 70 shows 7, in the operator's number format.
QString batteryText(quint8 tenths)
{
    return QLocale().toString(tenths / 10.0, 'f', tenths % 10 == 0 ? 0 : 1);
}

} // namespace

Frm_Main::Frm_Main(QWidget *parent)
    : QMainWindow(parent)
    , m_dialogs(std::make_unique<Dialogs>())
{
    setObjectName(QStringLiteral("Frm_Main"));
    setWindowTitle(QStringLiteral("Menu"));

    m_clock.start();
    m_throttle = new Send_Throttle(int(BodyParts.size()), [this](int part) { sendLive(part); }, this);
    buildPanels();
    buildMenus();
    buildStatusBar();

    m_serialDetection = new QTimer(this);
    m_serialDetection->setObjectName(QStringLiteral("T_Serial_Detection"));
    m_serialDetection->setInterval(StatusInterval);
    connect(m_serialDetection, &QTimer::timeout, this, &Frm_Main::T_Serial_Detection_Timer);
    m_serialDetection->start();

    m_batt = new QTimer(this);
    m_batt->setObjectName(QStringLiteral("T_Batt"));
    m_batt->setInterval(PollInterval);
    m_batt->setProperty("Tag", QStringLiteral("0"));
    connect(m_batt, &QTimer::timeout, this, &Frm_Main::T_Batt_Timer);

    connect(&m_com, &Com::OnComm, this, &Frm_Main::Com_OnComm);
    connect(m_gentleFirstMoves, &QAction::toggled, this, [this] { installFrameFilter(false); });
    m_lastPose.fill(-1);
    m_poseKeep = new QTimer(this);
    m_poseKeep->setSingleShot(true);
    m_poseKeep->setInterval(PoseKeepInterval);
    connect(m_poseKeep, &QTimer::timeout, this, &Frm_Main::keepPose);
    connect(&m_com, &Com::written, this, &Frm_Main::poseSent);
    connect(&m_com, &Com::openFinished, this, &Frm_Main::openFinished);
    m_replies.onDiscard = [this](quint8 byte) {
        if (m_traffic)
            m_traffic->byteDiscarded(byte);
    };

    m_replies.Init_Reply_State();
    Disable_Frame();
    loadKeptProfile();
    applyBatteryThresholds();
    installFrameFilter(true);
    if (m_startFromLastPose->isChecked())
        startFromLastPose();
}

Frm_Main::~Frm_Main()
{
    // The last moves of a session are the pose the next one starts from.
    if (m_poseKeep->isActive())
        keepPose();
    // The port outlives the members declared after it: what its close reports goes nowhere.
    m_com.setFrameFilter({});
    disconnect(&m_com, nullptr, this, nullptr);
}

void Frm_Main::setDialogs(std::unique_ptr<Dialogs> dialogs)
{
    m_dialogs = std::move(dialogs);
}

void Frm_Main::buildPanels()
{
    std::array<QGridLayout *, FrameCount - 1> servoGrids{};
    for (auto &grid : servoGrids)
        grid = new QGridLayout;
    for (int i = 0; i < ServoCount; ++i) {
        const ServoControl &s = ServoControls[size_t(i)];
        // Bottom-aligned, so the speed rows of a panel line up beside a taller vertical slider.
        servoGrids[size_t(s.frame)]->addWidget(buildServo(i), s.row, s.column, Qt::AlignBottom);
    }

    for (size_t part = 0; part < BodyParts.size(); ++part) {
        auto *send = new QPushButton(QStringLiteral("SEND"));
        send->setObjectName(QLatin1StringView(BodyParts[part].button));
        connect(send, &QPushButton::clicked, this, [this, part] { sendBodyPart(int(part)); });
        m_frames[size_t(BodyParts[part].frame)] = buildBodyPart(BodyParts[part].frame,
                                                                servoGrids[size_t(BodyParts[part].frame)], send);
    }
    m_frames[SensorFrame] = buildSensorPanel();

    auto *left = new QVBoxLayout;
    left->addWidget(m_frames[0]);
    left->addWidget(m_frames[1]);
    left->addWidget(m_frames[2]);
    auto *middle = new QVBoxLayout;
    middle->addWidget(m_frames[3]);
    middle->addWidget(m_frames[4]);
    auto *right = new QVBoxLayout;
    right->addWidget(m_frames[5]);
    right->addWidget(m_frames[6]);
    for (QVBoxLayout *column : {left, middle, right})
        column->addStretch();

    auto *central = new QWidget;
    auto *columns = new QHBoxLayout(central);
    columns->addLayout(left);
    columns->addLayout(middle);
    columns->addLayout(right);
    setCentralWidget(central);
}

QWidget *Frm_Main::buildServo(int i)
{
    const ServoControl &s = ServoControls[size_t(i)];

    auto *caption = new QLabel(QLatin1StringView(s.caption));
    caption->setStyleSheet(QStringLiteral("color: blue; font-weight: bold;"));

    auto *slide = new QSlider(s.orientation);
    slide->setObjectName(indexed("Slide", i));
    const Servos::Servo &servo = Servos::All[size_t(servoOfSlide(i))];
    slide->setRange(servo.low, servo.high);
    slide->setValue(servo.home);
    slide->setSingleStep(1);
    slide->setPageStep(5);
    slide->setTickInterval(s.tickInterval);
    slide->setTickPosition(s.orientation == Qt::Horizontal ? QSlider::TicksBelow : QSlider::TicksRight);
    if (s.orientation == Qt::Horizontal)
        slide->setMinimumWidth(140);
    else
        slide->setMinimumHeight(90);

    auto *value = new QLabel(QString::number(servo.home));
    value->setObjectName(indexed("Lbl_Slide", i));
    value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("000")));
    value->setAlignment(Qt::AlignCenter);
    // Dragging and clicking both show the value; nothing is sent until SEND.
    connect(slide, &QSlider::valueChanged, value, [value](int v) { value->setText(QString::number(v)); });
    connect(slide, &QSlider::valueChanged, this, [this, part = partOfFrame(s.frame)] { liveMove(part); });

    auto *speed = new QLineEdit(QStringLiteral("0"));
    speed->setObjectName(indexed("Txt_Speed", i));
    speed->setMaximumWidth(48);

    m_slides[size_t(i)] = slide;
    m_slideLabels[size_t(i)] = value;
    m_speeds[size_t(i)] = speed;

    auto *block = new QWidget;
    auto *grid = new QGridLayout(block);
    grid->setContentsMargins(2, 2, 2, 2);
    grid->addWidget(caption, 0, 0, 1, 2, s.orientation == Qt::Vertical ? Qt::AlignHCenter : Qt::Alignment());
    grid->addWidget(slide, 1, 0, s.orientation == Qt::Vertical ? Qt::AlignHCenter : Qt::Alignment());
    grid->addWidget(value, 1, 1);
    auto *speedRow = new QHBoxLayout;
    speedRow->addWidget(new QLabel(QStringLiteral("Speed :")));
    speedRow->addWidget(speed);
    speedRow->addStretch();
    grid->addLayout(speedRow, 2, 0, 1, 2);
    return block;
}

QGroupBox *Frm_Main::buildBodyPart(int frame, QLayout *servos, QPushButton *send)
{
    auto *box = new QGroupBox(QLatin1StringView(FrameCaptions[size_t(frame)]));
    box->setObjectName(indexed("Frame", frame));
    auto *layout = new QVBoxLayout(box);
    layout->addLayout(servos);
    layout->addWidget(send, 0, Qt::AlignRight);
    return box;
}

QGroupBox *Frm_Main::buildSensorPanel()
{
    auto *box = new QGroupBox(QLatin1StringView(FrameCaptions[SensorFrame]));
    box->setObjectName(indexed("Frame", SensorFrame));

    m_start = new QPushButton(QStringLiteral("START READING"));
    m_start->setObjectName(QStringLiteral("Btn_Start"));
    connect(m_start, &QPushButton::clicked, this, &Frm_Main::Btn_Start_Click);
    m_stop = new QPushButton(QStringLiteral("STOP READING"));
    m_stop->setObjectName(QStringLiteral("Btn_Stop"));
    m_stop->setEnabled(false);
    connect(m_stop, &QPushButton::clicked, this, &Frm_Main::Btn_Stop_Click);

    auto *grid = new QGridLayout;
    auto addRow = [grid](int row, int column, const QString &caption, QLabel *value) {
        grid->addWidget(new QLabel(caption), row, column);
        grid->addWidget(value, row, column + 1);
    };
    for (int k = 0; k < 2; ++k) {
        m_batteries[size_t(k)] = valueLabel(indexed("Lbl_Batt", k));
        addRow(k, 0, QStringLiteral("BATTERY %1 :").arg(k + 1), m_batteries[size_t(k)]);
    }
    for (int k = 0; k < 4; ++k) {
        m_whiskers[size_t(k)] = valueLabel(indexed("Lbl_Whisker", k));
        Colours::setBackground(m_whiskers[size_t(k)], palette().color(QPalette::Mid));
        addRow(2 + k, 0, QStringLiteral("WHISKER %1 :").arg(k + 1), m_whiskers[size_t(k)]);
        m_analogues[size_t(k)] = valueLabel(indexed("Lbl_Analogue", k));
        addRow(k, 2, QStringLiteral("ANALOGUE %1 :").arg(k + 1), m_analogues[size_t(k)]);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setHorizontalSpacing(8);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    auto *layout = new QVBoxLayout(box);
    layout->addLayout(buttons);
    layout->addLayout(grid);
    return box;
}

void Frm_Main::buildMenus()
{
    auto addMenu = [this](const char *name, const QString &title) {
        QMenu *menu = menuBar()->addMenu(title);
        menu->setObjectName(QLatin1StringView(name));
        return menu;
    };
    auto addEntry = [this](QMenu *menu, const char *name, const QString &text, auto handler,
                           const QKeySequence &key = {}) {
        QAction *action = menu->addAction(text);
        action->setObjectName(QLatin1StringView(name));
        action->setShortcut(key);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };

    QMenu *file = addMenu("mnu_File", QStringLiteral("&Fichier"));
    addEntry(file, "mnu_quit", QStringLiteral("Quit"), &Frm_Main::Close_All_Windows, QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu *serial = addMenu("mnu_serial", QStringLiteral("&Serial"));
    addEntry(serial, "mnu_serial_setup", QStringLiteral("Serial Setup"), &Frm_Main::mnu_serial_setup_Click,
             QKeySequence(Qt::CTRL | Qt::Key_S));
    addEntry(serial, "mnu_devices", QStringLiteral("Devices…"), &Frm_Main::mnu_devices_Click,
             QKeySequence(Qt::CTRL | Qt::Key_D));
    serial->addSeparator()->setObjectName(QStringLiteral("mnu_serial_sep_1"));
    m_liveMoves = serial->addAction(QStringLiteral("Live Moves"));
    m_liveMoves->setObjectName(QStringLiteral("mnu_live_moves"));
    m_liveMoves->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    m_liveMoves->setCheckable(true);
    connect(m_liveMoves, &QAction::toggled, this, &Frm_Main::mnu_live_moves_Click);
    serial->addSeparator()->setObjectName(QStringLiteral("mnu_serial_sep_2"));
    addEntry(serial, "mnu_robot_profile", QStringLiteral("Robot Profile…"), &Frm_Main::mnu_robot_profile_Click);
    m_easeToHome = addOption(serial, "mnu_ease_to_home", QStringLiteral("Ease to Home on Connect"), EaseToHomeKey);
    m_gentleFirstMoves = addOption(serial, "mnu_gentle_first_moves", QStringLiteral("Gentle First Moves"), GentleKey);
    m_startFromLastPose = addOption(serial, "mnu_start_from_last_pose", QStringLiteral("Start from the Last Pose Sent"),
                                    LastPoseKey);
    serial->addSeparator()->setObjectName(QStringLiteral("mnu_serial_sep_3"));
    m_stopAll = addEntry(serial, "mnu_stop_all", QStringLiteral("Stop All"), &Frm_Main::mnu_stop_all_Click,
                         QKeySequence(Qt::Key_Escape));
    // Esc stops everything from the player and the editor too (they are handed the entry).
    m_stopAll->setShortcutContext(Qt::WindowShortcut);

    QMenu *tool = addMenu("mnu_tool", QStringLiteral("&Tool"));
    addEntry(tool, "mnu_single_cmd", QStringLiteral("Single Command"), &Frm_Main::mnu_single_cmd_Click);
    addEntry(tool, "mnu_script", QStringLiteral("Script Player"), &Frm_Main::mnu_script_Click);
    addEntry(tool, "mnu_script_editor", QStringLiteral("Script Editor"), &Frm_Main::mnu_script_editor_Click);
    addEntry(tool, "mnu_traffic", QStringLiteral("Traffic Monitor"), &Frm_Main::mnu_traffic_Click,
             QKeySequence(Qt::CTRL | Qt::Key_T));
    addEntry(tool, "mnu_sensor_plot", QStringLiteral("Sensor Plot"), &Frm_Main::mnu_sensor_plot_Click,
             QKeySequence(Qt::CTRL | Qt::Key_G));

    QMenu *help = addMenu("mnu_help", QStringLiteral("?"));
    addEntry(help, "mnu_manual", QStringLiteral("User Guide"), &Frm_Main::mnu_manual_Click);
    addEntry(help, "mnu_about", QStringLiteral("About"), &Frm_Main::mnu_about_Click);
}

QAction *Frm_Main::addOption(QMenu *menu, const char *name, const QString &text, const QString &key)
{
    QAction *option = menu->addAction(text);
    option->setObjectName(QLatin1StringView(name));
    option->setCheckable(true);
    option->setChecked(QSettings().value(key, false).toBool());
    connect(option, &QAction::toggled, this, [key](bool on) { QSettings().setValue(key, on); });
    return option;
}

void Frm_Main::buildStatusBar()
{
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    auto *caption = new QLabel(QStringLiteral("Serial Status :"));
    caption->setObjectName(QStringLiteral("Panels(1)"));
    caption->setToolTip(caption->text());
    m_connection = new QLabel;
    m_connection->setObjectName(QStringLiteral("Panels(2)"));
    m_connection->setMinimumWidth(m_connection->fontMetrics().horizontalAdvance(QStringLiteral("Disconnected")) + 8);
    // A panel of its own, not a temporary message, which would hide the connection state.
    m_writeState = new QLabel;
    m_writeState->setObjectName(QStringLiteral("Panels(3)"));
    statusBar()->addWidget(caption);
    statusBar()->addWidget(m_connection);
    statusBar()->addWidget(m_writeState, 1);
    m_batteryState = new QLabel;
    m_batteryState->setObjectName(QStringLiteral("Panels(5)"));
    statusBar()->addWidget(m_batteryState);
    m_live = new QLabel;
    m_live->setObjectName(QStringLiteral("Panels(4)"));
    statusBar()->addPermanentWidget(m_live);
    m_profileLabel = new QLabel;
    m_profileLabel->setObjectName(QStringLiteral("Panels(6)"));
    statusBar()->addPermanentWidget(m_profileLabel);
    auto *stop = new QPushButton(QStringLiteral("STOP"));
    stop->setObjectName(QStringLiteral("Btn_Stop_All"));
    stop->setToolTip(QStringLiteral("Stop All (Esc): stops the scripts and Live Moves, drops the moves still waiting"));
    stop->setStyleSheet(QStringLiteral("QPushButton { color: white; background: #c62828; font-weight: bold; padding: 2px 10px; }"));
    connect(stop, &QPushButton::clicked, this, &Frm_Main::mnu_stop_all_Click);
    statusBar()->addPermanentWidget(stop);
    connect(&m_com, &Com::outputStalledChanged, m_writeState, [this](bool stalled) {
        if (stalled)
            m_writeState->setText(NotReading);
        else if (m_writeState->text() == NotReading)
            m_writeState->clear();
        if (!stalled)
            resendRefusedLiveMoves();
    });
    // Said once, with no box to close: the report stays until the next move is sent.
    connect(&m_com, &Com::notSent, m_writeState, [this](int frames, const QString &reason) {
        m_writeState->setText(Frm_Traffic::notSentText(frames, reason));
    });
}

bool Frm_Main::prepareOpen(int Com_port, const QString &Settings)
{
    if (m_com.PortOpen())
        m_com.setPortOpen(false);
    // Half a reply left from the last connection must not be glued to the next one's bytes.
    m_replies.Init_Reply_State();
    m_watch.reset();
    m_liveRefused.fill(false);
    installFrameFilter(true);
    const QString settings = Settings.isEmpty() ? DefaultSettings : Settings;
    const int port = Com_port >= 1 && Com_port <= 4 ? Com_port : 1;
    return m_com.setSettings(settings) && m_com.setCommPort(port) && m_com.setInputLen(1) && m_com.setRThreshold(1) &&
           m_com.setSThreshold(0) && m_com.setInputMode(Com::comInputModeText);
}

void Frm_Main::openFailed()
{
    const QString description = m_com.errorDescription();
    if (m_com.PortOpen())
        m_com.setPortOpen(false);
    Disable_Frame();
    m_dialogs->inform(this, description);
}

bool Frm_Main::Open_Serial(int Com_port, const QString &Settings)
{
    if (prepareOpen(Com_port, Settings) && m_com.setPortOpen(true)) {
        Enable_Frame();
        if (m_easeToHome->isChecked())
            easeToHome();
        return true;
    }
    openFailed();
    return false;
}

Open_Result Frm_Main::Open_Serial_Later(int Com_port, const QString &Settings)
{
    if (!prepareOpen(Com_port, Settings)) {
        openFailed();
        return Open_Result::Failed;
    }
    if (!Socket_Device::isNetworkName(Com::devicePath(Com::deviceFor(m_com.CommPort()))))
        return Open_Serial(Com_port, Settings) ? Open_Result::Opened : Open_Result::Failed;
    Disable_Frame();
    if (!m_com.beginOpen()) {
        openFailed();
        return Open_Result::Failed;
    }
    return Open_Result::Connecting;
}

void Frm_Main::openFinished(bool open)
{
    if (open) {
        Enable_Frame();
        if (m_easeToHome->isChecked())
            easeToHome();
    } else if (m_com.errorDescription().endsWith(QStringLiteral(": connecting was cancelled")))
        Disable_Frame(); // the operator gave up: nothing to tell
    else
        openFailed();
}

void Frm_Main::Enable_Frame()
{
    for (QGroupBox *frame : m_frames)
        frame->setEnabled(true);
}

void Frm_Main::Disable_Frame()
{
    for (QGroupBox *frame : m_frames)
        frame->setEnabled(false);
}

std::optional<QByteArray> Frm_Main::bodyPartData(int part, QString *why) const
{
    const BodyPart &body = BodyParts[size_t(part)];
    QByteArray data;
    for (int slot = 0; slot < body.kind.dataBytes / 2; ++slot) {
        const int i = body.elements[size_t(slot)];
        const std::optional<quint8> speed = Frames::textToByte(m_speeds[size_t(i)]->text());
        if (!speed) {
            if (why)
                *why = QStringLiteral("%1, %2: the speed \"%3\" is not a number from 0 to 255.")
                           .arg(QLatin1StringView(FrameCaptions[size_t(body.frame)]),
                                QLatin1StringView(ServoControls[size_t(i)].caption), m_speeds[size_t(i)]->text());
            return std::nullopt;
        }
        data.append(char(m_slides[size_t(i)]->value()));
        data.append(char(*speed));
    }
    return data;
}

void Frm_Main::sendBodyPart(int part)
{
    if (!m_com.PortOpen())
        return;
    QString why;
    const std::optional<QByteArray> data = bodyPartData(part, &why);
    if (!data) {
        // A speed that cannot become a byte would send a move the operator did not ask for.
        m_dialogs->inform(this, why + QStringLiteral(" Nothing was sent."));
        return;
    }
    const QByteArray frame = Frames::frame(BodyParts[size_t(part)].kind, *data);
    if (!m_com.Output(frame))
        return;
    emit moveSent(frame);
    if (m_writeState->text() != NotReading)
        m_writeState->clear();
}

std::optional<QByteArray> Frm_Main::poseData(const QString &command, QString *why) const
{
    if (command == QLatin1StringView(Frames::SingleServo.mnemonic))
        return m_singleServo ? m_singleServo->commandData() : std::nullopt;
    for (size_t part = 0; part < BodyParts.size(); ++part)
        if (command == QLatin1StringView(BodyParts[part].kind.mnemonic))
            return bodyPartData(int(part), why);
    return std::nullopt;
}

void Frm_Main::mnu_live_moves_Click(bool checked)
{
    if (!checked) {
        m_throttle->stop();
        m_liveRefused.fill(false);
    }
    m_live->setText(checked ? QStringLiteral("Live") : QString());
}

void Frm_Main::liveMove(int part)
{
    if (!m_settingPose && m_liveMoves->isChecked() && m_com.PortOpen())
        m_throttle->changed(part);
}

void Frm_Main::sendLive(int part)
{
    if (!m_liveMoves->isChecked() || !m_com.PortOpen())
        return;
    QString why;
    const std::optional<QByteArray> data = bodyPartData(part, &why);
    // No message box in the middle of a drag: the status bar says what stands in the way.
    m_live->setText(data ? QStringLiteral("Live") : QStringLiteral("Live: ") + why + QStringLiteral(" Not sent."));
    if (!data)
        return;
    // A frame the robot does not take now is sent again, with the slider's position then, as
    // soon as the line takes bytes: the last position always reaches the robot.
    const QByteArray frame = Frames::frame(BodyParts[size_t(part)].kind, *data);
    const bool sent = m_com.Output(frame);
    m_liveRefused[size_t(part)] = !sent && m_com.OutputStalled();
    if (sent)
        emit moveSent(frame);
}

void Frm_Main::resendRefusedLiveMoves()
{
    for (size_t part = 0; part < BodyParts.size(); ++part) {
        if (!m_liveRefused[part])
            continue;
        m_liveRefused[part] = false;
        sendLive(int(part));
    }
}

void Frm_Main::T_Serial_Detection_Timer()
{
    m_connection->setText(m_com.PortOpen() ? QStringLiteral("Connected") : QStringLiteral("Disconnected"));
}

void Frm_Main::Btn_Start_Click()
{
    m_batt->start();
    m_start->setEnabled(false);
    m_stop->setEnabled(true);
}

void Frm_Main::Btn_Stop_Click()
{
    stopPolling();
}

void Frm_Main::stopPolling()
{
    m_batt->stop();
    m_start->setEnabled(true);
    m_stop->setEnabled(false);
}

void Frm_Main::T_Batt_Timer()
{
    if (!m_com.PortOpen()) {
        stopPolling();
        return;
    }
    // The tag says which query this tick sends; starting and stopping the poll keep it.
    if (m_batt->property("Tag").toString().toInt() == 0) {
        m_com.Output(Frames::frame(Frames::BatteriesQuery));
        m_batt->setProperty("Tag", QStringLiteral("1"));
    } else {
        m_com.Output(Frames::frame(Frames::AnalogueQuery));
        m_batt->setProperty("Tag", QStringLiteral("0"));
    }
}

void Frm_Main::Com_OnComm()
{
    if (m_com.InBufferCount() < 1)
        return;
    const QByteArray received = m_com.Input();
    if (received.isEmpty())
        return;
    const std::optional<Sys_Project::Reply> reply = m_replies.receive(quint8(received[0]));
    if (!reply)
        return;
    if (m_traffic)
        m_traffic->replyTaken(replyFrame(*reply));
    showReply(*reply);
}

void Frm_Main::showReply(const Sys_Project::Reply &reply)
{
    switch (reply.kind) {
    case Sys_Project::ReplyKind::Batteries:
        m_batteries[0]->setText(batteryText(reply.data[0]));
        m_batteries[1]->setText(batteryText(reply.data[1]));
        break;
    case Sys_Project::ReplyKind::Analogue:
        // Only channels 1 to 4 have a label; a reply for another one shows nothing.
        if (reply.data[0] >= 1 && reply.data[0] <= m_analogues.size())
            m_analogues[reply.data[0] - 1u]->setText(QString::number(reply.analogueReading()));
        break;
    case Sys_Project::ReplyKind::Whiskers:
        for (size_t k = 0; k < m_whiskers.size(); ++k)
            Colours::setBackground(m_whiskers[k],
                                   Colours::fromValue(reply.data[0] & (1u << k) ? Colours::Green : Colours::Black));
        break;
    }
    watchReply(reply);
    emit replyShown(reply);
}

void Frm_Main::watchReply(const Sys_Project::Reply &reply)
{
    if (const Sensor_Sample *sample = m_readings.take(reply, m_clock.elapsed()))
        emit readingTaken(*sample);
    const QList<Sensor_Event> events = m_watch.take(reply);
    if (reply.kind == Sys_Project::ReplyKind::Batteries)
        showBatteryLevels();
    for (const Sensor_Event &event : events) {
        if (event.kind == Sensor_Event::BatteryLow) {
            // Shown once this handler has returned: a modal box here would run a nested event
            // loop that takes the next bytes into reply assembly while this reply is handled.
            QString text = event.text(QLocale());
            text[0] = text[0].toUpper();
            QMetaObject::invokeMethod(
                this, [this, text] { m_dialogs->inform(this, text, QMessageBox::Warning); }, Qt::QueuedConnection);
        }
        emit sensorEvent(event);
    }
}

void Frm_Main::showBatteryLevels()
{
    QStringList low;
    const Sensor_Sample &latest = m_readings.latest();
    for (size_t k = 0; k < m_batteries.size(); ++k) {
        QLabel *field = m_batteries[k];
        if (m_watch.isLow(int(k))) {
            Colours::setBackground(field, Colours::fromValue(Colours::Red));
            low.append(Sensor_Event{Sensor_Event::BatteryLow, int(k) + 1, latest.batteries[k].value_or(0)}.text(QLocale()));
        } else {
            field->setPalette(QPalette());
            field->setAutoFillBackground(false);
        }
    }
    for (QString &text : low)
        text[0] = text[0].toUpper();
    m_batteryState->setText(low.join(QStringLiteral("; ")));
}

void Frm_Main::setBatteryThresholds(const Battery_Thresholds &thresholds)
{
    // Only the built-in profile's levels are set in the plot; an own profile sets its own.
    if (m_profile.limits())
        return;
    for (int k = 0; k < Robot_Profile::BatteryCount; ++k)
        m_profile.setLowBatteryTenths(k, thresholds.tenths[size_t(k)]);
    m_watch.setThresholds(thresholds);
    showBatteryLevels();
    if (m_profileWindow)
        m_profileWindow->setBuiltIn(m_profile);
}

Robot_Profile Frm_Main::builtInProfile()
{
    Robot_Profile profile = Robot_Profile::builtIn();
    const Battery_Thresholds kept = Battery_Thresholds::load();
    for (int k = 0; k < Robot_Profile::BatteryCount; ++k)
        profile.setLowBatteryTenths(k, kept.tenths[size_t(k)]);
    return profile;
}

Battery_Thresholds Frm_Main::batteryThresholds() const
{
    Battery_Thresholds thresholds = Battery_Thresholds::load();
    for (int k = 0; k < Robot_Profile::BatteryCount; ++k)
        thresholds.tenths[size_t(k)] = m_profile.lowBatteryTenths(k);
    return thresholds;
}

void Frm_Main::applyBatteryThresholds()
{
    const Battery_Thresholds thresholds = batteryThresholds();
    m_watch.setThresholds(thresholds);
    showBatteryLevels();
    if (m_plot)
        m_plot->showThresholds(thresholds, m_profile.limits());
}

template <class Window, class Create>
void Frm_Main::showWindow(QPointer<Window> &window, Create create)
{
    if (!window) {
        window = create();
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void Frm_Main::mnu_serial_setup_Click()
{
    showWindow(m_setup, [this] {
        return new Frm_Setup(
            m_com, *m_dialogs, [this](int port, const QString &settings) { return Open_Serial_Later(port, settings); },
            this);
    });
}

void Frm_Main::mnu_single_cmd_Click()
{
    showWindow(m_singleServo, [this] {
        auto *window = new Frm_Single_Servo(m_com, *m_dialogs, this);
        window->setProfile(m_profile);
        connect(window, &Frm_Single_Servo::sent, this, &Frm_Main::moveSent);
        return window;
    });
}

void Frm_Main::mnu_script_Click()
{
    showWindow(m_player, [this] {
        auto *player = new Frm_Script_Player(m_com, *m_dialogs, this);
        player->setProfile(m_profile);
        player->addAction(m_stopAll);
        connect(this, &Frm_Main::sensorEvent, player, &Frm_Script_Player::sensorEvent);
        connect(player, &Frm_Script_Player::actionPlaying, this,
                [this](qint32 action) { m_readings.setAction(action, m_clock.elapsed()); });
        return player;
    });
}

void Frm_Main::mnu_script_editor_Click()
{
    showWindow(m_editor, [this] {
        auto *editor = new Frm_Script_Editor(*m_dialogs, this, [this](const QString &command) {
            Frm_Script_Editor::Pose pose;
            QString why;
            if (const std::optional<QByteArray> data = poseData(command, &why)) {
                for (char byte : *data)
                    pose.values.append(quint8(byte));
            } else if (!why.isEmpty()) {
                pose.refusal = why + QStringLiteral(" Nothing was filled in.");
            }
            return pose;
        });
        // A take records what this window and the single-servo window send.
        connect(this, &Frm_Main::moveSent, editor, &Frm_Script_Editor::recordFrame);
        return editor;
    });
    m_editor->setProfile(m_profile);
    if (!m_editor->actions().contains(m_stopAll))
        m_editor->addAction(m_stopAll);
}

void Frm_Main::mnu_devices_Click()
{
    showWindow(m_devices, [this] { return new Frm_Devices(*m_dialogs, this); });
}

void Frm_Main::mnu_sensor_plot_Click()
{
    showWindow(m_plot, [this] {
        auto *plot = new Frm_Sensor_Plot(m_readings, [this] { return m_clock.elapsed(); }, *m_dialogs, this);
        connect(this, &Frm_Main::readingTaken, plot, &Frm_Sensor_Plot::readingTaken);
        connect(plot, &Frm_Sensor_Plot::thresholdsChanged, this, &Frm_Main::setBatteryThresholds);
        plot->showThresholds(batteryThresholds(), m_profile.limits());
        return plot;
    });
}

void Frm_Main::mnu_traffic_Click()
{
    showWindow(m_traffic, [this] { return new Frm_Traffic(m_com, *m_dialogs, this); });
}

void Frm_Main::mnu_manual_Click()
{
    const QString guide = Program_Files::userGuidePath();
    // The desktop's opener reports success even for a missing file, so look first.
    if (!QFileInfo(guide).isFile() || !QDesktopServices::openUrl(QUrl::fromLocalFile(guide)))
        m_dialogs->inform(this, QStringLiteral("Unable to load help file"), QMessageBox::Information,
                          QStringLiteral("ORVIK"));
}

void Frm_Main::mnu_about_Click()
{
    m_dialogs->inform(this,
                      QStringLiteral("Orvik Serial Interface %1\n"
                                     "Built with Qt %2, running on Qt %3.\n\n"
                                     "Free software under the GNU General Public License, version 3 or later.\n\n"
                                     "User guide: %4\n"
                                     "Example scripts: %5\n"
                                     "Robot profile: %6")
                          .arg(Program_Files::version(), QLatin1StringView(QT_VERSION_STR),
                               QLatin1StringView(qVersion()), QDir::toNativeSeparators(Program_Files::userGuidePath()),
                               QDir::toNativeSeparators(Program_Files::examplesFolder()),
                               m_profileFile.isEmpty() ? QStringLiteral("built-in")
                                                       : QDir::toNativeSeparators(m_profileFile)),
                      QMessageBox::Information, QStringLiteral("About Orvik Serial Interface"));
}

void Frm_Main::mnu_robot_profile_Click()
{
    showWindow(m_profileWindow, [this] {
        auto *window = new Frm_Robot_Profile(
            m_profile, m_profileFile, *m_dialogs,
            [this](const Robot_Profile &profile, const QString &file) { useProfile(profile, file); }, this);
        window->setBuiltIn(builtInProfile());
        return window;
    });
}

void Frm_Main::loadKeptProfile()
{
    const QString file = QSettings().value(ProfileKey).toString();
    if (file.isEmpty()) {
        showProfile();
        return;
    }
    QString why;
    if (const std::optional<Robot_Profile> read = Robot_Profile::load(file, &why)) {
        m_profile = *read;
        m_profileFile = file;
        applyProfileRanges();
        showProfile();
        return;
    }
    // Kept in the settings: the file may be back next time. Until then nothing but the
    // built-in ranges hold, and the status bar says so.
    showProfile(QStringLiteral("%1 cannot be used: %2").arg(QDir::toNativeSeparators(file), why));
}

void Frm_Main::useProfile(const Robot_Profile &profile, const QString &file)
{
    m_profile = profile.limits() ? profile : builtInProfile();
    m_profileFile = profile.limits() ? file : QString();
    QSettings().setValue(ProfileKey, m_profileFile);
    applyProfileRanges();
    showProfile();
    applyBatteryThresholds();
    installFrameFilter(false);
    if (m_singleServo)
        m_singleServo->setProfile(m_profile);
    if (m_player)
        m_player->setProfile(m_profile);
    if (m_editor)
        m_editor->setProfile(m_profile);
}

void Frm_Main::installFrameFilter(bool afresh)
{
    if (afresh || !m_gentle)
        m_gentle = std::make_shared<Gentle_Start>();
    m_com.setFrameFilter([gentle = m_gentle, safeSpeed = m_profile.safeSpeed(),
                          slowFirst = m_gentleFirstMoves->isChecked()](QByteArrayView frame) {
        return gentle->pass(frame, safeSpeed, slowFirst);
    });
}

void Frm_Main::applyProfileRanges()
{
    // A slider clamped into a narrower range is not the operator's move: nothing goes live.
    m_settingPose = true;
    for (int i = 0; i < ServoCount; ++i) {
        const Robot_Profile::Servo &servo = m_profile.servo(servoOfSlide(i));
        m_slides[size_t(i)]->setRange(servo.low, servo.high);
    }
    m_settingPose = false;
}

void Frm_Main::showProfile(const QString &problem)
{
    if (!problem.isEmpty()) {
        m_profileLabel->setText(QStringLiteral("Profile: built-in (the kept one cannot be used)"));
        m_profileLabel->setToolTip(problem);
        return;
    }
    m_profileLabel->setText(QStringLiteral("Profile: %1")
                                .arg(m_profileFile.isEmpty() ? QStringLiteral("built-in") : QFileInfo(m_profileFile).fileName()));
    m_profileLabel->setToolTip(m_profileFile.isEmpty() ? QString() : QDir::toNativeSeparators(m_profileFile));
}

void Frm_Main::easeToHome()
{
    m_settingPose = true;
    for (int i = 0; i < ServoCount; ++i)
        m_slides[size_t(i)]->setValue(m_profile.servo(servoOfSlide(i)).home);
    m_settingPose = false;
    for (const BodyPart &part : BodyParts) {
        QByteArray data;
        for (int slot = 1; slot * 2 <= part.kind.dataBytes; ++slot) {
            data.append(char(m_profile.servo(Robot_Profile::indexOfSlot(part.kind, slot)).home));
            data.append(char(m_profile.safeSpeed()));
        }
        m_com.Output(Frames::frame(part.kind, data));
    }
}

QString Frm_Main::lastPoseFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/last-pose.json");
}

void Frm_Main::poseSent(const QByteArray &frame)
{
    if (!m_startFromLastPose->isChecked())
        return;
    for (const Servo_Moves::Move &move : Servo_Moves::of(frame)) {
        const int index = Robot_Profile::indexOfNumber(move.number);
        if (index < 0 || m_lastPose[size_t(index)] == quint8(frame[move.position]))
            continue;
        m_lastPose[size_t(index)] = quint8(frame[move.position]);
        // Written a moment later, so a stream of live moves writes the file a few times a second.
        if (!m_poseKeep->isActive())
            m_poseKeep->start();
    }
}

void Frm_Main::keepPose()
{
    QJsonObject positions;
    for (int i = 0; i < ServoCount; ++i)
        if (m_lastPose[size_t(i)] >= 0)
            positions[QString::number(Servos::All[size_t(i)].number)] = m_lastPose[size_t(i)];
    const QString file = lastPoseFile();
    QDir().mkpath(QFileInfo(file).path());
    QSaveFile save(file);
    // Best effort: a pose that cannot be kept only means the sliders start where they always did.
    if (save.open(QIODevice::WriteOnly) && save.write(QJsonDocument(QJsonObject{{QStringLiteral("positions"), positions}}).toJson()) >= 0)
        save.commit();
}

void Frm_Main::startFromLastPose()
{
    QFile file(lastPoseFile());
    if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024)
        return;
    const QJsonObject positions = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("positions")).toObject();
    m_settingPose = true;
    for (int i = 0; i < ServoCount; ++i) {
        const int index = servoOfSlide(i);
        const QJsonValue value = positions.value(QString::number(Servos::All[size_t(index)].number));
        const int position = value.toInt(-1);
        if (!value.isDouble() || position < 0 || position > 255)
            continue;
        // Kept as sent: the next session's first SEND then moves nothing the robot is not holding.
        m_lastPose[size_t(index)] = position;
        m_slides[size_t(i)]->setValue(position);
    }
    m_settingPose = false;
}

void Frm_Main::mnu_stop_all_Click()
{
    if (m_player)
        m_player->stop();
    // Held back for a stalled line: dropped with the queue, counted with it.
    const int held = int(std::count(m_liveRefused.begin(), m_liveRefused.end(), true));
    m_liveMoves->setChecked(false);
    m_liveRefused.fill(false);
    // Never a flush of the driver's buffer: it could cut a frame in two.
    const int dropped = held + (m_com.PortOpen() ? m_com.discardWaiting() : 0);
    m_writeState->setText(dropped == 1 ? QStringLiteral("Stopped: 1 move discarded")
                                       : QStringLiteral("Stopped: %1 moves discarded").arg(dropped));
}

void Frm_Main::Close_All_Windows()
{
    m_unloading = true;
    // Unloaded in a fixed order: the script player, the single-servo window, the settings
    // window, the devices window, the traffic monitor, the sensor plot, this window, the
    // script editor.
    if (m_player)
        m_player->close();
    if (m_singleServo)
        m_singleServo->close();
    if (m_setup)
        m_setup->close();
    if (m_devices)
        m_devices->close();
    if (m_traffic)
        m_traffic->close();
    if (m_profileWindow)
        m_profileWindow->close();
    if (m_plot)
        m_plot->close();
    close();
    if (m_editor)
        m_editor->close();
}

void Frm_Main::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_centred && screen()) {
        m_centred = true;
        move(screen()->availableGeometry().center() - frameGeometry().center() + pos());
    }
}

void Frm_Main::closeEvent(QCloseEvent *event)
{
    // The close is never refused; a close from the window's frame unloads the others too.
    if (!m_unloading)
        Close_All_Windows();
    event->accept();
}
