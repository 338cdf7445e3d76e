#pragma once

#include "link/Com.h"
#include "link/Robot_Profile.h"
#include "link/Servo_Moves.h"
#include "link/Sys_Project.h"
#include "sensors/Sensor_Readings.h"
#include "sensors/Sensor_Watch.h"
#include "ui/Dialogs.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <memory>
#include <optional>

class QGroupBox;
class QLabel;
class QMenu;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;
class QAction;
class Frm_Devices;
class Frm_Robot_Profile;
class Frm_Script_Player;
class Frm_Setup;
enum class Open_Result;
class Frm_Single_Servo;
class Frm_Script_Editor;
class Frm_Sensor_Plot;
class Frm_Traffic;
class Send_Throttle;

// The operator's control panel and the start-up window: six body-part panels with a slider
// and a speed per servo, the sensor panel, and the menus that open every other window. It
// owns the program's one serial port.
class Frm_Main : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int ServoCount = 17;
    static constexpr int FrameCount = 7;
    static constexpr int BodyPartCount = 6;
    static constexpr int PollInterval = 500;
    static constexpr int StatusInterval = 1000;

    explicit Frm_Main(QWidget *parent = nullptr);
    ~Frm_Main() override;

    Com &com() { return m_com; }

    // Where the choices kept between runs are written in the application's settings.
    static inline const QString ProfileKey = QStringLiteral("safety/robotProfile");
    static inline const QString EaseToHomeKey = QStringLiteral("safety/easeToHomeOnConnect");
    static inline const QString GentleKey = QStringLiteral("safety/gentleFirstMoves");
    static inline const QString LastPoseKey = QStringLiteral("safety/startFromLastPose");
    // The last position sent to each servo, in the application's data folder, written at most
    // this often while Start from the Last Pose Sent is on.
    static constexpr int PoseKeepInterval = 300;
    static QString lastPoseFile();

    // The robot profile in use and its file ("" for the built-in one). Every window that sends
    // keeps to it; an own profile's file is remembered for the next run.
    const Robot_Profile &profile() const { return m_profile; }
    QString profileFile() const { return m_profileFile; }
    void useProfile(const Robot_Profile &profile, const QString &file);

    Dialogs &dialogs() { return *m_dialogs; }
    // Replaces the message boxes and file dialogs of every window (tests answer them).
    void setDialogs(std::unique_ptr<Dialogs> dialogs);

    // Closes the port if open, then opens port Com_port (1 to 4, else 1) with the settings text
    // (empty: "57600, n, 8, 1"). On failure the port ends closed, the panels disabled, and the
    // operator has seen the reason.
    bool Open_Serial(int Com_port = 0, const QString &Settings = QString());
    // The same for the settings window, where a network device connects without holding the
    // window up: Connecting, then the panels follow Com's openFinished().
    Open_Result Open_Serial_Later(int Com_port, const QString &Settings);

    void Enable_Frame();
    void Disable_Frame();

    // Menu entries, as the operator chooses them.
    void mnu_serial_setup_Click();
    void mnu_single_cmd_Click();
    void mnu_script_Click();
    void mnu_script_editor_Click();
    void mnu_manual_Click();
    void mnu_about_Click();
    void mnu_traffic_Click();
    void mnu_devices_Click();
    void mnu_robot_profile_Click();
    // Stops every playing script, turns Live Moves off and drops the moves still waiting in
    // the program, whole frames only; sends nothing.
    void mnu_stop_all_Click();
    void mnu_sensor_plot_Click();
    // Ticked: each slider's move sends its body part's frame, at most one every 50 ms.
    void mnu_live_moves_Click(bool checked);

    // The timers' handlers, also called directly where a test checks the order of events.
    void T_Serial_Detection_Timer();
    void T_Batt_Timer();

    // Every reply taken in, as the plot shows it and a record keeps it.
    const Sensor_Ring &readings() const { return m_readings; }
    // The level below which each battery counts as low (kept in the settings by the plot window).
    void setBatteryThresholds(const Battery_Thresholds &thresholds);

signals:
    // A reply from the robot, complete, as the sensor panel shows it (tests and the soak
    // count what arrives through it).
    void replyShown(const Sys_Project::Reply &reply);
    // A move frame SEND, a live move or the single-servo window handed to the port.
    void moveSent(const QByteArray &frame);
    // The sample a reply added to the readings.
    void readingTaken(const Sensor_Sample &sample);
    // A whisker closed or a battery fell below its threshold (the player may pause on it).
    void sensorEvent(const Sensor_Event &event);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Closes the port and sets the next opening up; false (errorDescription) when Com refused.
    bool prepareOpen(int Com_port, const QString &Settings);
    // The port ends closed, the panels disabled, and the operator is told why.
    void openFailed();
    void openFinished(bool open);
    void buildPanels();
    QWidget *buildServo(int i);
    QGroupBox *buildBodyPart(int frame, QLayout *servos, QPushButton *send);
    QGroupBox *buildSensorPanel();
    void buildMenus();
    void buildStatusBar();

    // The data bytes of a body part's frame, in frame order, as SEND sends them; nothing when
    // a speed cannot become a byte (why, when given, then names it).
    std::optional<QByteArray> bodyPartData(int part, QString *why) const;
    // What the editor's "From panel" takes for a command word: the same bytes SEND would send.
    std::optional<QByteArray> poseData(const QString &command, QString *why) const;
    void sendBodyPart(int part);
    void liveMove(int part);
    void sendLive(int part);
    void resendRefusedLiveMoves();
    void Btn_Start_Click();
    void Btn_Stop_Click();
    void Com_OnComm();
    void showReply(const Sys_Project::Reply &reply);
    void watchReply(const Sys_Project::Reply &reply);
    void showBatteryLevels();
    void stopPolling();
    void Close_All_Windows();
    void applyProfileRanges();
    // Hands the port the gentle first moves' filter with the profile's safe speed and the
    // option as they are now; afresh after an open, every servo not moved yet.
    void installFrameFilter(bool afresh);
    void easeToHome();
    void poseSent(const QByteArray &frame);
    void keepPose();
    void startFromLastPose();
    QAction *addOption(QMenu *menu, const char *name, const QString &text, const QString &key);
    void showProfile(const QString &problem = QString());
    void loadKeptProfile();
    // The built-in profile with the low-battery levels kept in the settings.
    static Robot_Profile builtInProfile();
    // The profile's low-battery levels, with the margin kept in the settings.
    Battery_Thresholds batteryThresholds() const;
    // The profile's low-battery levels watch the replies and show in the plot.
    void applyBatteryThresholds();

    // Creates the window the first time (and after it was closed), then shows and raises it.
    template <class Window, class Create>
    void showWindow(QPointer<Window> &window, Create create);

    Com m_com;
    Sys_Project m_replies;
    Sensor_Ring m_readings;
    Sensor_Watch m_watch;
    QElapsedTimer m_clock; // the readings' times
    std::unique_ptr<Dialogs> m_dialogs;

    std::array<QGroupBox *, FrameCount> m_frames{};
    std::array<QSlider *, ServoCount> m_slides{};
    std::array<QLabel *, ServoCount> m_slideLabels{};
    std::array<QLineEdit *, ServoCount> m_speeds{};
    std::array<QLabel *, 2> m_batteries{};
    std::array<QLabel *, 4> m_whiskers{};
    std::array<QLabel *, 4> m_analogues{};
    QPushButton *m_start = nullptr;
    QPushButton *m_stop = nullptr;
    QLabel *m_connection = nullptr;
    QLabel *m_writeState = nullptr;
    QLabel *m_live = nullptr;
    QLabel *m_profileLabel = nullptr;
    QLabel *m_batteryState = nullptr;
    QAction *m_liveMoves = nullptr;
    QAction *m_stopAll = nullptr;
    QAction *m_easeToHome = nullptr;
    QAction *m_gentleFirstMoves = nullptr;
    QAction *m_startFromLastPose = nullptr;
    // Which servos moved since the port opened: only the line's thread touches it, through the
    // port's frame filter; this window only hands it on.
    std::shared_ptr<Gentle_Start> m_gentle;
    std::array<int, ServoCount> m_lastPose{}; // by Servos::All index; -1 when never sent
    QTimer *m_poseKeep = nullptr;
    Send_Throttle *m_throttle = nullptr;
    std::array<bool, BodyPartCount> m_liveRefused{}; // a live move refused while the robot was not reading
    QTimer *m_serialDetection = nullptr;
    QTimer *m_batt = nullptr;

    QPointer<Frm_Setup> m_setup;
    QPointer<Frm_Single_Servo> m_singleServo;
    QPointer<Frm_Script_Player> m_player;
    QPointer<Frm_Script_Editor> m_editor;
    QPointer<Frm_Traffic> m_traffic;
    QPointer<Frm_Devices> m_devices;
    QPointer<Frm_Robot_Profile> m_profileWindow;
    Robot_Profile m_profile = builtInProfile();
    QString m_profileFile;
    bool m_settingPose = false; // the sliders move because of the program, not the operator
    QPointer<Frm_Sensor_Plot> m_plot;
    bool m_centred = false;
    bool m_unloading = false;
};
