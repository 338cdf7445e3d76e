// Takes the user guide's pictures from the program's real windows, offscreen: each window is
// put in the state the guide describes (the port open to the virtual robot, a script loaded,
// values shown) and grabbed to a PNG, so the pictures follow every change of a window.
// Usage: take_pictures OUTPUT_FOLDER EXAMPLES_FOLDER
// Run with QT_QPA_PLATFORM=offscreen; QT_SCALE_FACTOR=2 gives pictures sharp in print.

#include "link/Com.h"
#include "panel/Frm_Main.h"
#include "scripts/Frm_Script_Editor.h"
#include "scripts/Frm_Script_Player.h"
#include "scripts/Script_Timeline.h"
#include "sensors/Frm_Sensor_Plot.h"
#include "settings/Frm_Robot_Profile.h"
#include "settings/Frm_Setup.h"
#include "settings/Robot_Profile_Model.h"
#include "sim/RobotWindow.h"
#include "sim/Simulator.h"
#include "ui/Colours.h"
#include "ui/Dialogs.h"
#include "ui/Program_Files.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// The pictures show the paths an installed program shows, not the build folder's.
const QString InstalledFolder = QStringLiteral("/usr/lib/orvik");

[[noreturn]] void fail(const QString &why)
{
    std::fprintf(stderr, "take_pictures: %s\n", qPrintable(why));
    std::exit(1);
}

// Answers the file choosers with the scripts the pictures show, and never blocks on a message.
class PictureDialogs : public Dialogs
{
public:
    QStringList fileNames;

    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &) override { return {}; }

protected:
    QMessageBox::StandardButton showMessage(QWidget *, const Message &message) override
    {
        fail(QStringLiteral("unexpected message \"%1\"").arg(message.text));
    }
};

bool waitFor(const std::function<bool()> &done, int milliseconds = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    QCoreApplication::processEvents();
    return true;
}

template <class T = QWidget>
T *child(QObject *parent, const QString &name)
{
    T *found = parent->findChild<T *>(name);
    if (!found)
        fail(QStringLiteral("%1 has no %2").arg(parent->objectName(), name));
    return found;
}

QString indexed(const char *name, int i)
{
    return QStringLiteral("%1(%2)").arg(QLatin1StringView(name)).arg(i);
}

QString installedPath(QString text)
{
    return text.replace(Program_Files::programFolder(), InstalledFolder);
}

// Everything the pictures are taken of: the virtual robot, the main window talking to it.
struct Stage
{
    QString examples;
    QTemporaryDir folder;
    std::unique_ptr<Simulator> simulator;
    Frm_Main main;
    PictureDialogs *dialogs = nullptr;
    std::unique_ptr<RobotWindow> robot;

    explicit Stage(const QString &examplesFolder)
        : examples(examplesFolder)
    {
        SimOptions options;
        options.link = folder.filePath(QStringLiteral("robot"));
        simulator = std::make_unique<Simulator>(options);
        QString error;
        if (!folder.isValid() || !simulator->start(&error))
            fail(QStringLiteral("the virtual robot did not start: %1").arg(error));
        qputenv("ORVIK_COM1", options.link.toLocal8Bit());
        auto owned = std::make_unique<PictureDialogs>();
        dialogs = owned.get();
        main.setDialogs(std::move(owned));
        // Made now, so that it counts and shows the frames the main window sends.
        robot = std::make_unique<RobotWindow>(*simulator);
    }

    template <class Window>
    Window *window(void (Frm_Main::*open)(), const char *name)
    {
        (main.*open)();
        auto *shown = child<Window>(&main, QLatin1StringView(name));
        QCoreApplication::processEvents();
        return shown;
    }
};

struct Pose
{
    int slide;
    int position;
    int speed;
};

// A friendly pose: brows up, head turned and raised a little, a smile, the right arm waving.
constexpr Pose MainPose[] = {
    {0, 50, 0},  {1, 50, 0},  {2, 40, 10}, {3, 40, 10}, {4, 50, 10}, {5, 110, 20},
    {6, 96, 20}, {7, 20, 0},  {8, 30, 0},  {9, 10, 0},  {10, 60, 0}, {11, 150, 0},
    {12, 40, 0}, {13, 60, 0}, {14, 60, 0}, {15, 58, 0}, {16, 58, 0},
};

QWidget *mainWindow(Stage &stage)
{
    Frm_Main &main = stage.main;
    main.show();
    if (!main.Open_Serial(1, QStringLiteral("57600, n, 8, 1")))
        fail(QStringLiteral("the port did not open"));
    main.T_Serial_Detection_Timer();
    for (const Pose &pose : MainPose) {
        child<QSlider>(&main, indexed("Slide", pose.slide))->setValue(pose.position);
        child<QLineEdit>(&main, indexed("Txt_Speed", pose.slide))->setText(QString::number(pose.speed));
    }
    for (const char *send : {"Btn_Send_Eyebrows", "Btn_Send_Eyes", "Btn_Send_Neck", "Btn_Send_Mouth",
                             "Btn_Send_Left_Arm", "Btn_Send_Right_Arm"})
        child<QPushButton>(&main, QLatin1StringView(send))->click();

    Controller &robot = stage.simulator->controller();
    robot.setAnalogue(1, 512);
    robot.setAnalogue(2, 87);
    robot.setAnalogue(3, 1023);
    robot.setAnalogue(4, 300);
    // One battery query and the four analogue ones, without waiting for the poll's clock.
    for (int tick = 0; tick < 8; ++tick) {
        QLabel *answer = child<QLabel>(&main, tick % 2 == 0 ? indexed("Lbl_Batt", 0) : indexed("Lbl_Analogue", tick / 2));
        main.T_Batt_Timer();
        if (!waitFor([answer] { return !answer->text().isEmpty(); }))
            fail(QStringLiteral("the virtual robot did not answer"));
    }
    // Polling, as the operator left it; its first tick comes after the picture.
    child<QPushButton>(&main, QStringLiteral("Btn_Start"))->click();
    // The neck's move is the last frame the robot shows.
    child<QPushButton>(&main, QStringLiteral("Btn_Send_Neck"))->click();
    robot.setWhiskers(0b0101);
    QLabel *whisker = child<QLabel>(&main, indexed("Lbl_Whisker", 0));
    if (!waitFor([whisker] { return Colours::background(whisker) == Colours::Green; }))
        fail(QStringLiteral("the whiskers were not shown"));
    return &main;
}

QWidget *serialSettings(Stage &stage)
{
    auto *setup = stage.window<Frm_Setup>(&Frm_Main::mnu_serial_setup_Click, "Frm_Setup");
    setup->Form_Activate();
    return setup;
}

QWidget *singleServo(Stage &stage)
{
    QWidget *single = stage.window<QWidget>(&Frm_Main::mnu_single_cmd_Click, "Frm_Single_Servo");
    child<QComboBox>(single, QStringLiteral("Cmb_System"))->setCurrentText(QStringLiteral("9 - Neck Pitch"));
    child<QLineEdit>(single, QStringLiteral("Txt_Position"))->setText(QStringLiteral("100"));
    child<QLineEdit>(single, QStringLiteral("Txt_Speed"))->setText(QStringLiteral("20"));
    return single;
}

QWidget *scriptPlayer(Stage &stage)
{
    auto *player = stage.window<Frm_Script_Player>(&Frm_Main::mnu_script_Click, "Frm_Script_Player");
    stage.dialogs->fileNames << QDir(stage.examples).filePath(QStringLiteral("greeting.sct"));
    player->Btn_Open_Script_Click();
    player->Btn_Cmd_Click(2);
    player->Btn_Cmd_Click(2);
    return player;
}

QWidget *scriptEditor(Stage &stage)
{
    auto *editor = stage.window<Frm_Script_Editor>(&Frm_Main::mnu_script_editor_Click, "Frm_Script_Editor");
    stage.dialogs->fileNames << QDir(stage.examples).filePath(QStringLiteral("look_around.sct"));
    editor->mnu_script_open_Click();
    // The neck move that turns the head right, loaded for change.
    auto *view = child<QAbstractItemView>(editor, QStringLiteral("L_View"));
    view->setCurrentIndex(view->model()->index(5, 0));
    editor->L_View_DblClick();
    child<QLineEdit>(editor, indexed("Txt_Action", 3))->setText(QStringLiteral("40"));
    return editor;
}

// The same editor with two rows selected and its Edit menu open over it.
QWidget *scriptEditorEditMenu(Stage &stage)
{
    auto *editor = stage.window<Frm_Script_Editor>(&Frm_Main::mnu_script_editor_Click, "Frm_Script_Editor");
    auto *view = child<QAbstractItemView>(editor, QStringLiteral("L_View"));
    view->clearSelection();
    for (int row : {3, 4})
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    auto *edit = child<QMenu>(editor, QStringLiteral("mnu_script_edit"));
    auto *bar = editor->findChild<QMenuBar *>();
    // Tall enough for the whole menu to show inside the picture.
    const int below = bar->height() + edit->sizeHint().height() + 24;
    if (editor->height() < below)
        editor->resize(editor->width(), below);
    QCoreApplication::processEvents();
    bar->setActiveAction(edit->menuAction());
    QCoreApplication::processEvents();
    if (!edit->isVisible())
        fail(QStringLiteral("the Edit menu did not open"));
    return editor;
}

// The editor with its timeline shown: the look around example, its sixth action selected.
QWidget *scriptEditorTimeline(Stage &stage)
{
    while (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
    auto *editor = stage.window<Frm_Script_Editor>(&Frm_Main::mnu_script_editor_Click, "Frm_Script_Editor");
    stage.dialogs->fileNames << QDir(stage.examples).filePath(QStringLiteral("look_around.sct"));
    editor->mnu_script_open_Click();
    child<QAction>(editor, QStringLiteral("mnu_script_timeline"))->trigger();
    editor->resize(900, 820);
    QCoreApplication::processEvents();
    auto *view = child<QAbstractItemView>(editor, QStringLiteral("L_View"));
    view->selectionModel()->select(view->model()->index(5, 0), QItemSelectionModel::ClearAndSelect
                                                                   | QItemSelectionModel::Rows);
    auto *timeline = child<Script_Timeline>(editor, QStringLiteral("Script_Timeline"));
    timeline->zoom(1.6, Script_Timeline::NameWidth);
    return editor;
}

// The look around example's first glance to the side eased in and out: the wait between the
// two eye moves became a move every 50 ms.
QWidget *scriptEditorEased(Stage &stage)
{
    auto *editor = stage.window<Frm_Script_Editor>(&Frm_Main::mnu_script_editor_Click, "Frm_Script_Editor");
    stage.dialogs->fileNames << QDir(stage.examples).filePath(QStringLiteral("look_around.sct"));
    editor->mnu_script_open_Click();
    auto *view = child<QAbstractItemView>(editor, QStringLiteral("L_View"));
    view->selectionModel()->select(view->model()->index(1, 0), QItemSelectionModel::ClearAndSelect
                                                                   | QItemSelectionModel::Rows);
    view->selectionModel()->select(view->model()->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    editor->setEaseAsk([](QWidget *, const Script_Ease::Settings &preset) {
        return Script_Ease::Settings{preset.durationMs, 50, QEasingCurve::InOutQuad};
    });
    editor->mnu_script_ease_Click();
    QCoreApplication::processEvents();
    if (editor->currentScript().Nb_Action != 34)
        fail(QStringLiteral("the eye moves were not eased"));
    auto *timeline = child<Script_Timeline>(editor, QStringLiteral("Script_Timeline"));
    timeline->zoom(2.5, Script_Timeline::NameWidth);
    return editor;
}

QWidget *trafficMonitor(Stage &stage)
{
    QWidget *traffic = stage.window<QWidget>(&Frm_Main::mnu_traffic_Click, "Frm_Traffic");
    Frm_Main &main = stage.main;
    // What the operator does while it watches: two moves and a round of readings.
    child<QPushButton>(&main, QStringLiteral("Btn_Send_Neck"))->click();
    child<QPushButton>(&main, QStringLiteral("Btn_Send_Eyebrows"))->click();
    for (int tick = 0; tick < 4; ++tick)
        main.T_Batt_Timer();
    auto *view = child<QAbstractItemView>(traffic, QStringLiteral("L_Traffic"));
    // The monitor takes its lines in on its own refresh timer.
    if (!waitFor([view] { return view->model()->rowCount() >= 10; }))
        fail(QStringLiteral("the traffic monitor did not show the traffic"));
    return traffic;
}

// The plot while the greeting plays: the batteries running down, the analogue inputs
// wandering, two whiskers touched, a line at each action.
QWidget *sensorPlot(Stage &stage)
{
    auto *plot = stage.window<Frm_Sensor_Plot>(&Frm_Main::mnu_sensor_plot_Click, "Frm_Sensor_Plot");
    child<QSpinBox>(plot, QStringLiteral("Spn_Window"))->setValue(10);
    child<QDoubleSpinBox>(plot, QStringLiteral("Spn_Low_Battery(0)"))->setValue(6.4);
    auto *player = child<Frm_Script_Player>(&stage.main, QStringLiteral("Frm_Script_Player"));
    player->Btn_Cmd_Click(Frm_Script_Player::Stop);
    player->Btn_Cmd_Click(Frm_Script_Player::Play);

    Controller &robot = stage.simulator->controller();
    // Readings ten times a second rather than the poll's two, for lines that show their shape.
    for (int step = 0; step < 42; ++step) {
        robot.setBattery(1, quint8(75 - step / 5));
        robot.setBattery(2, quint8(73 - step / 9));
        for (int k = 1; k <= 4; ++k)
            robot.setAnalogue(k, quint16(30000 + 20000 * std::sin(step / 6.0 + k * 1.3)));
        robot.setWhiskers(step >= 10 && step < 19 ? 0b0010 : step >= 28 && step < 33 ? 0b1000 : 0);
        stage.main.T_Batt_Timer();
        QElapsedTimer tick;
        tick.start();
        waitFor([&tick] { return tick.elapsed() >= 100; });
    }
    plot->refresh();
    return plot;
}

// The built-in profile with the neck's pitch narrowed and a shoulder's range widened, unsaved.
QWidget *robotProfile(Stage &stage)
{
    auto *window = stage.window<Frm_Robot_Profile>(&Frm_Main::mnu_robot_profile_Click, "Frm_Robot_Profile");
    Robot_Profile_Model *model = window->model();
    model->setData(model->index(15, Robot_Profile_Model::Low), 75);
    model->setData(model->index(15, Robot_Profile_Model::High), 105);
    model->setData(model->index(11, Robot_Profile_Model::High), 190);
    model->setData(model->index(0, Robot_Profile_Model::Home), 65);
    return window;
}

QWidget *devices(Stage &stage)
{
    // As an operator with a USB adapter on COM1 sees it, not this run's own link.
    qunsetenv("ORVIK_COM1");
    Com::setChosenDevice(1, QStringLiteral("/dev/ttyUSB0"));
    return stage.window<QWidget>(&Frm_Main::mnu_devices_Click, "Frm_Devices");
}

QWidget *virtualRobot(Stage &stage)
{
    stage.robot->show();
    const Controller &robot = stage.simulator->controller();
    if (!waitFor([&robot] { return !robot.servos().moving(); }))
        fail(QStringLiteral("the virtual robot did not stop moving"));
    return stage.robot.get();
}

struct Picture
{
    const char *file;
    QWidget *(*prepare)(Stage &);
};

// In the order they are taken: the main window opens the port the others use, and the robot
// is taken last, once it has reached the pose sent.
constexpr Picture Pictures[] = {
    {"main-window.png", mainWindow},         {"serial-settings.png", serialSettings},
    {"single-servo.png", singleServo},       {"script-player.png", scriptPlayer},
    {"script-editor.png", scriptEditor},     {"script-editor-edit-menu.png", scriptEditorEditMenu},
    {"script-editor-timeline.png", scriptEditorTimeline}, {"script-editor-eased.png", scriptEditorEased},
    {"traffic-monitor.png", trafficMonitor}, {"sensor-plot.png", sensorPlot},
    {"robot-profile.png", robotProfile},
    {"devices.png", devices},                {"virtual-robot.png", virtualRobot},
};

// The window as grabbed, under a plain title bar with its caption, as a desktop would frame it
// (offscreen windows have no frame of their own).
QImage framed(QWidget *window)
{
    const QPixmap content = window->grab();
    const qreal ratio = content.devicePixelRatio();
    const QSize size = content.deviceIndependentSize().toSize();
    const int border = 1;
    const int bar = window->fontMetrics().height() + 12;

    QImage image((QSizeF(size.width() + 2 * border, size.height() + bar + border) * ratio).toSize(),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(QColor(0x9a, 0xa0, 0xa6));
    QPainter painter(&image);
    const QRect title(border, border, size.width(), bar - border);
    painter.fillRect(title, QColor(0xe3, 0xe6, 0xea));
    QFont font = window->font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(0x30, 0x34, 0x3a));
    painter.drawText(title.adjusted(8, 0, -8, 0), Qt::AlignCenter,
                     painter.fontMetrics().elidedText(installedPath(window->windowTitle()), Qt::ElideMiddle,
                                                      title.width() - 16));
    painter.drawPixmap(border, bar, content);
    // An open menu is a window of its own: drawn where it stands over the window.
    for (QMenu *menu : window->findChildren<QMenu *>()) {
        if (!menu->isVisible())
            continue;
        const QPoint at = menu->mapToGlobal(QPoint()) - window->mapToGlobal(QPoint());
        painter.drawPixmap(border + at.x(), bar + at.y(), menu->grab());
    }
    painter.end();
    // The PNG says its own resolution: the guide prints it at the size it had on screen.
    QImage opaque = image.convertToFormat(QImage::Format_RGB32);
    const int dotsPerMetre = qRound(96 * ratio / 0.0254);
    opaque.setDotsPerMeterX(dotsPerMetre);
    opaque.setDotsPerMeterY(dotsPerMetre);
    return opaque;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvik"));
    QApplication::setOrganizationName(QStringLiteral("Orvik"));
    if (argc != 3) {
        std::fprintf(stderr, "usage: take_pictures OUTPUT_FOLDER EXAMPLES_FOLDER\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    if (!output.mkpath(QStringLiteral(".")))
        fail(QStringLiteral("cannot create %1").arg(output.path()));
    QLocale::setDefault(QLocale::c());
    // The devices chosen for the ports are kept in settings, and the editor keeps recovery
    // records and the main window the last pose in the data folder: the pictures' own, not the
    // user's, whose editor would otherwise offer the pictures' scripts back.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));

    Stage stage(QString::fromLocal8Bit(argv[2]));
    for (const Picture &picture : Pictures) {
        // A menu left open by the picture before closes, as a click elsewhere would close it.
        while (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
        QWidget *window = picture.prepare(stage);
        QCoreApplication::processEvents();
        // No text cursor in the pictures.
        if (QWidget *focus = window->focusWidget())
            focus->clearFocus();
        for (auto *edit : window->findChildren<QLineEdit *>())
            if (const QString shown = installedPath(edit->text()); shown != edit->text())
                edit->setText(shown);
        const QString path = output.filePath(QLatin1StringView(picture.file));
        if (!framed(window).save(path, "PNG"))
            fail(QStringLiteral("cannot write %1").arg(path));
    }
    return 0;
}
