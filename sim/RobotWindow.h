#pragma once

#include <QWidget>

#include <array>

class QLabel;
class QPushButton;
class QSpinBox;
class RobotView;
class Simulator;

// The virtual robot's window: the picture of the robot, and beside it what the user can
// change on the robot (battery readings, whiskers, analogue inputs) and what it last heard.
class RobotWindow : public QWidget
{
    Q_OBJECT

public:
    explicit RobotWindow(Simulator &simulator, QWidget *parent = nullptr);

    // Saves a picture of the window; returns what went wrong, or nothing.
    QString saveScreenshot(const QString &path);

private:
    QWidget *buildControls();
    QWidget *buildBatteries();
    QWidget *buildWhiskers();
    QWidget *buildAnalogues();
    QWidget *buildServos();
    void showSensors();
    void showServos();
    void showLastFrame();

    Simulator &m_simulator;
    RobotView *m_view = nullptr;
    std::array<QSpinBox *, 2> m_batteries{};
    std::array<QLabel *, 2> m_batteryTexts{};
    std::array<QPushButton *, 4> m_whiskers{};
    std::array<QSpinBox *, 4> m_analogues{};
    std::array<QLabel *, 17> m_servoTexts{};
    QLabel *m_lastFrame = nullptr;
    QLabel *m_frameCount = nullptr;
    int m_frames = 0;
};
