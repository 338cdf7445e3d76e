#pragma once

#include "sensors/Sensor_Csv.h"
#include "sensors/Sensor_Readings.h"
#include "sensors/Sensor_Watch.h"

#include <QWidget>

#include <array>
#include <functional>

class QChart;
class QChartView;
class QDoubleSpinBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QSpinBox;
class QTimer;
class QValueAxis;
class QVBoxLayout;
class Dialogs;

// The readings over time: the batteries in volts, the analogue inputs and the whiskers as
// on/off lanes, the last minutes of them scrolling as replies arrive, with a line at every
// script action started. It reads the main window's ring and redraws on its own timer, a
// batch of points at a time, never once per reply. It also keeps readings (Save Readings…,
// Record to File…) and sets the level below which a battery counts as low, unless the robot
// profile in use sets it: then the levels are shown here and changed in the profile.
class Frm_Sensor_Plot : public QWidget
{
    Q_OBJECT

public:
    static constexpr int RefreshInterval = 250; // ms
    static constexpr int DefaultWindow = 60;    // s
    static constexpr int MinimumWindow = 10;
    static constexpr int MaximumWindow = 3600;

    using Clock = std::function<qint64()>; // ms, the clock the ring's samples are on

    Frm_Sensor_Plot(const Sensor_Ring &ring, Clock clock, Dialogs &dialogs, QWidget *parent = nullptr);

    // A reply was taken into the ring: a running record writes it at once.
    void readingTaken(const Sensor_Sample &sample);
    // Redraws from the ring, as the timer does; tests call it where the order counts.
    void refresh();

    // The levels in use; fromProfile: the robot profile sets them, and they cannot be changed here.
    void showThresholds(const Battery_Thresholds &thresholds, bool fromProfile);

    void Btn_Save_Readings_Click();
    void Btn_Record_Click(bool checked);

signals:
    void thresholdsChanged(const Battery_Thresholds &thresholds);

private:
    void buildControls();
    // The batteries', analogue inputs' and whiskers' charts, one above the other.
    void buildCharts(QVBoxLayout *layout);
    QChartView *buildChart(const char *name, const QString &title, QValueAxis *&timeAxis);
    void stopRecord(const QString &why);
    // Redraws now, even when no reading came since the last time.
    void redraw();

    const Sensor_Ring &m_ring;
    Clock m_clock;
    Dialogs &m_dialogs;
    Sensor_Recorder m_recorder;
    qint64 m_shown = -1; // the ring's count at the last redraw

    QSpinBox *m_window = nullptr;
    QPushButton *m_pause = nullptr;
    QPushButton *m_record = nullptr;
    QLabel *m_recordState = nullptr;
    std::array<QDoubleSpinBox *, 2> m_lowBattery{};
    std::array<QChartView *, 3> m_views{};
    std::array<QValueAxis *, 3> m_timeAxes{};
    std::array<QLineSeries *, 2> m_batteries{};
    std::array<QLineSeries *, 2> m_lowLines{}; // each battery's low level, dashed, when set
    std::array<QLineSeries *, 4> m_analogues{};
    std::array<QLineSeries *, 4> m_whiskers{};
    QTimer *m_refresh = nullptr;
};
