#include "sensors/Frm_Sensor_Plot.h"

#include "ui/Dialogs.h"
#include "ui/Save_Target.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPen>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

enum Chart { Batteries, Analogues, Whiskers };

// Where an open and a closed whisker stand in their lane, which is one unit tall.
constexpr double OpenLevel = 0.25;
constexpr double ClosedLevel = 0.75;

// A chart with a vertical line and the action's number at each script action started.
class Marked_Chart_View : public QChartView
{
public:
    Marked_Chart_View(QChart *chart, const Sensor_Ring &ring)
        : QChartView(chart)
        , m_ring(ring)
    {
    }

protected:
    // The same plot area in every chart, whatever width their value labels take, so that one
    // moment stands at the same place in all three.
    void resizeEvent(QResizeEvent *event) override
    {
        QChartView::resizeEvent(event);
        const QFontMetrics metrics(font());
        const int left = metrics.horizontalAdvance(QStringLiteral("000000")) + 16;
        const int right = metrics.horizontalAdvance(QStringLiteral("Analogue 4")) + 56;
        const int top = metrics.height() * 2 + 4;
        const int bottom = metrics.height() * 3 + 8;
        chart()->setPlotArea(QRectF(left, top, std::max(width() - left - right, 10), std::max(height() - top - bottom, 10)));
    }

    void drawForeground(QPainter *painter, const QRectF &rect) override
    {
        QChartView::drawForeground(painter, rect);
        const QRectF area = chart()->plotArea();
        const auto *axis = qobject_cast<QValueAxis *>(chart()->axes(Qt::Horizontal).value(0));
        if (!axis || area.isEmpty() || axis->max() <= axis->min())
            return;
        painter->save();
        painter->setPen(QPen(QColor(128, 0, 160), 1, Qt::DashLine));
        const QFontMetrics metrics(painter->font());
        double lastLabel = -1e9;
        for (const Action_Mark &mark : m_ring.marks()) {
            const double s = mark.ms / 1000.0;
            if (s < axis->min() || s > axis->max())
                continue;
            const double x = area.left() + (s - axis->min()) / (axis->max() - axis->min()) * area.width();
            painter->drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
            // Numbers that would overlap are left out; the lines still show every action.
            const QString label = QString::number(mark.action);
            if (x - lastLabel > metrics.horizontalAdvance(label) + 4) {
                painter->drawText(QPointF(x + 2, area.top() + metrics.ascent()), label);
                lastLabel = x;
            }
        }
        painter->restore();
    }

private:
    const Sensor_Ring &m_ring;
};

// A step between time labels of 1, 2 or 5 times a power of ten, for about six of them.
double tickInterval(double seconds)
{
    const double raw = seconds / 6;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double step : {1.0, 2.0, 5.0}) {
        if (raw <= step * power)
            return step * power;
    }
    return 10 * power;
}

// Beyond this many samples in the window, each line keeps only the lowest and the highest point
// of each of ThinBuckets stretches of time: an hour draws about as fast as a minute, and a spike
// still shows.
constexpr qsizetype ThinAbove = 2000;
constexpr qint64 ThinBuckets = 1000;

class Thinned_Line
{
public:
    explicit Thinned_Line(qint64 bucketMs = 0)
        : m_bucketMs(bucketMs)
    {
    }

    void add(qint64 ms, double y)
    {
        const QPointF point(ms / 1000.0, y);
        m_last = point;
        m_any = true;
        if (m_bucketMs <= 0) {
            m_points.append(point);
            return;
        }
        const qint64 bucket = ms / m_bucketMs;
        if (!m_open || bucket != m_bucket) {
            flush();
            m_open = true;
            m_bucket = bucket;
            m_low = m_high = point;
            return;
        }
        if (y < m_low.y())
            m_low = point;
        if (y > m_high.y())
            m_high = point;
    }

    // Ends on the newest reading, whatever the last stretch kept.
    QList<QPointF> take()
    {
        flush();
        if (m_any && (m_points.isEmpty() || m_points.constLast() != m_last))
            m_points.append(m_last);
        return std::move(m_points);
    }

private:
    void flush()
    {
        if (!m_open)
            return;
        m_open = false;
        const bool lowFirst = m_low.x() <= m_high.x();
        m_points.append(lowFirst ? m_low : m_high);
        if (m_high != m_low)
            m_points.append(lowFirst ? m_high : m_low);
    }

    qint64 m_bucketMs;
    QList<QPointF> m_points;
    bool m_open = false;
    qint64 m_bucket = 0;
    QPointF m_low, m_high;
    bool m_any = false;
    QPointF m_last;
};

QLineSeries *addSeries(QChart *chart, const QString &name)
{
    auto *series = new QLineSeries;
    series->setName(name);
    series->setObjectName(name);
    chart->addSeries(series);
    return series;
}

} // namespace

Frm_Sensor_Plot::Frm_Sensor_Plot(const Sensor_Ring &ring, Clock clock, Dialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ring(ring)
    , m_clock(std::move(clock))
    , m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("Frm_Sensor_Plot"));
    setWindowTitle(QStringLiteral("Sensor Plot"));
    buildControls();

    m_refresh = new QTimer(this);
    m_refresh->setObjectName(QStringLiteral("T_Plot"));
    m_refresh->setInterval(RefreshInterval);
    connect(m_refresh, &QTimer::timeout, this, &Frm_Sensor_Plot::refresh);
    m_refresh->start();
    refresh();
}

void Frm_Sensor_Plot::buildControls()
{
    m_window = new QSpinBox;
    m_window->setObjectName(QStringLiteral("Spn_Window"));
    m_window->setRange(MinimumWindow, MaximumWindow);
    m_window->setValue(DefaultWindow);
    m_window->setSuffix(QStringLiteral(" s"));
    m_window->setToolTip(QStringLiteral("How many seconds of readings the plot shows"));
    connect(m_window, &QSpinBox::valueChanged, this, [this] {
        m_shown = -1;
        refresh();
    });

    m_pause = new QPushButton(QStringLiteral("Pause"));
    m_pause->setObjectName(QStringLiteral("Btn_Pause"));
    m_pause->setCheckable(true);
    m_pause->setToolTip(QStringLiteral("Holds the plot still (readings are still kept): drag across a chart to "
                                       "zoom in, right-click to zoom out"));
    connect(m_pause, &QPushButton::toggled, this, [this](bool paused) {
        for (QChartView *view : m_views)
            view->setRubberBand(paused ? QChartView::HorizontalRubberBand : QChartView::NoRubberBand);
        if (!paused) {
            m_shown = -1;
            refresh();
        }
    });

    auto *save = new QPushButton(QStringLiteral("Save Readings…"));
    save->setObjectName(QStringLiteral("Btn_Save_Readings"));
    connect(save, &QPushButton::clicked, this, &Frm_Sensor_Plot::Btn_Save_Readings_Click);
    m_record = new QPushButton(QStringLiteral("Record to File…"));
    m_record->setObjectName(QStringLiteral("Btn_Record"));
    m_record->setCheckable(true);
    connect(m_record, &QPushButton::clicked, this, &Frm_Sensor_Plot::Btn_Record_Click);
    m_recordState = new QLabel;
    m_recordState->setObjectName(QStringLiteral("Lbl_Record"));

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Show the last")));
    top->addWidget(m_window);
    top->addWidget(m_pause);
    top->addStretch();
    top->addWidget(save);
    top->addWidget(m_record);

    const Battery_Thresholds thresholds = Battery_Thresholds::load();
    auto *low = new QHBoxLayout;
    low->addWidget(new QLabel(QStringLiteral("Battery low below:")));
    for (size_t k = 0; k < m_lowBattery.size(); ++k) {
        auto *spin = new QDoubleSpinBox;
        spin->setObjectName(QStringLiteral("Spn_Low_Battery(%1)").arg(k));
        spin->setRange(0, 25.5);
        spin->setDecimals(1);
        spin->setSingleStep(0.1);
        spin->setSuffix(QStringLiteral(" V"));
        spin->setSpecialValueText(QStringLiteral("Off"));
        spin->setValue(thresholds.tenths[k] / 10.0);
        connect(spin, &QDoubleSpinBox::valueChanged, this, [this, k](double volts) {
            Battery_Thresholds changed = Battery_Thresholds::load();
            changed.tenths[k] = Battery_Thresholds::tenthsFromVolts(volts).value_or(0);
            changed.save();
            emit thresholdsChanged(changed);
            redraw();
        });
        m_lowBattery[k] = spin;
        low->addWidget(new QLabel(QStringLiteral("%1").arg(k + 1)));
        low->addWidget(spin);
    }
    low->addStretch();
    low->addWidget(m_recordState);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(low);
    buildCharts(layout);
    resize(900, 700);
}

void Frm_Sensor_Plot::showThresholds(const Battery_Thresholds &thresholds, bool fromProfile)
{
    for (size_t k = 0; k < m_lowBattery.size(); ++k) {
        QDoubleSpinBox *spin = m_lowBattery[k];
        const QSignalBlocker blocker(spin);
        spin->setValue(thresholds.tenths[k] / 10.0);
        spin->setEnabled(!fromProfile);
        spin->setToolTip(fromProfile ? QStringLiteral("Set in the robot profile: Serial → Robot Profile…") : QString());
    }
    redraw();
}

void Frm_Sensor_Plot::redraw()
{
    m_shown = -1;
    refresh();
}

void Frm_Sensor_Plot::buildCharts(QVBoxLayout *layout)
{
    QValueAxis *time = nullptr;
    m_views[Batteries] = buildChart("Chart_Batteries", QStringLiteral("Batteries (V)"), time);
    m_timeAxes[Batteries] = time;
    for (size_t k = 0; k < m_batteries.size(); ++k)
        m_batteries[k] = addSeries(m_views[Batteries]->chart(), QStringLiteral("Battery %1").arg(k + 1));
    for (size_t k = 0; k < m_lowLines.size(); ++k) {
        m_lowLines[k] = addSeries(m_views[Batteries]->chart(), QStringLiteral("Battery %1 low").arg(k + 1));
        m_lowLines[k]->setPen(QPen(m_batteries[k]->color(), 1, Qt::DashLine));
    }
    m_views[Analogues] = buildChart("Chart_Analogues", QStringLiteral("Analogue inputs"), time);
    m_timeAxes[Analogues] = time;
    for (size_t k = 0; k < m_analogues.size(); ++k)
        m_analogues[k] = addSeries(m_views[Analogues]->chart(), QStringLiteral("Analogue %1").arg(k + 1));
    m_views[Whiskers] = buildChart("Chart_Whiskers", QStringLiteral("Whiskers (closed: high)"), time);
    m_timeAxes[Whiskers] = time;
    for (size_t k = 0; k < m_whiskers.size(); ++k)
        m_whiskers[k] = addSeries(m_views[Whiskers]->chart(), QStringLiteral("Whisker %1").arg(k + 1));

    // Each chart's series on its own time axis and a value axis that suits them.
    auto *volts = new QValueAxis;
    volts->setRange(0, 10);
    volts->setLabelFormat(QStringLiteral("%.1f"));
    auto *counts = new QValueAxis;
    counts->setRange(0, 65535);
    counts->setLabelFormat(QStringLiteral("%d"));
    counts->setTickType(QValueAxis::TicksDynamic);
    counts->setTickAnchor(0);
    counts->setTickInterval(10000);
    auto *lanes = new QCategoryAxis;
    lanes->setRange(0, 4);
    for (int k = 0; k < 4; ++k)
        lanes->append(QStringLiteral("W%1").arg(k + 1), k + 1);
    lanes->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
    const std::array<QAbstractAxis *, 3> valueAxes{volts, counts, lanes};
    for (int c = Batteries; c <= Whiskers; ++c) {
        QChart *chart = m_views[size_t(c)]->chart();
        chart->addAxis(valueAxes[size_t(c)], Qt::AlignLeft);
        for (QAbstractSeries *series : chart->series()) {
            series->attachAxis(m_timeAxes[size_t(c)]);
            series->attachAxis(valueAxes[size_t(c)]);
        }
        layout->addWidget(m_views[size_t(c)], c == Whiskers ? 2 : 3);
    }
}

QChartView *Frm_Sensor_Plot::buildChart(const char *name, const QString &title, QValueAxis *&timeAxis)
{
    auto *chart = new QChart;
    chart->setTitle(title);
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->setMargins(QMargins(4, 4, 4, 4));
    timeAxis = new QValueAxis;
    timeAxis->setTitleText(QStringLiteral("time (s)"));
    timeAxis->setLabelFormat(QStringLiteral("%.0f"));
    timeAxis->setTickType(QValueAxis::TicksDynamic);
    timeAxis->setTickAnchor(0);
    chart->addAxis(timeAxis, Qt::AlignBottom);
    auto *view = new Marked_Chart_View(chart, m_ring);
    view->setObjectName(QLatin1StringView(name));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(140);
    return view;
}

void Frm_Sensor_Plot::refresh()
{
    if (m_pause->isChecked() || m_shown == m_ring.taken())
        return;
    m_shown = m_ring.taken();

    const std::deque<Sensor_Sample> &samples = m_ring.samples();
    // The window fills from the start of the clock, then scrolls with the newest reading.
    const qint64 width = qint64(m_window->value()) * 1000;
    const qint64 right = std::max(samples.empty() ? m_clock() : samples.back().ms, width);
    const qint64 left = right - width;
    // From the last sample before the window, so that each line enters from its left edge.
    auto first = std::lower_bound(samples.begin(), samples.end(), left,
                                  [](const Sensor_Sample &sample, qint64 ms) { return sample.ms < ms; });
    if (first != samples.begin())
        --first;

    const qint64 bucketMs = samples.end() - first > ThinAbove ? std::max<qint64>(width / ThinBuckets, 1) : 0;
    std::array<Thinned_Line, 2> batteries{Thinned_Line(bucketMs), Thinned_Line(bucketMs)};
    std::array<Thinned_Line, 4> analogues{Thinned_Line(bucketMs), Thinned_Line(bucketMs), Thinned_Line(bucketMs),
                                          Thinned_Line(bucketMs)};
    std::array<QList<QPointF>, 4> whiskers;
    std::array<QPointF, 4> whiskersLast;
    double lowest = 1e9, highest = -1e9;
    for (auto it = first; it != samples.end(); ++it) {
        for (size_t k = 0; k < batteries.size(); ++k) {
            if (it->batteries[k]) {
                batteries[k].add(it->ms, *it->batteries[k] / 10.0);
                lowest = std::min(lowest, *it->batteries[k] / 10.0);
                highest = std::max(highest, *it->batteries[k] / 10.0);
            }
        }
        for (size_t k = 0; k < analogues.size(); ++k) {
            if (it->analogues[k])
                analogues[k].add(it->ms, double(*it->analogues[k]));
        }
        const double s = it->ms / 1000.0;
        for (size_t k = 0; k < whiskers.size(); ++k) {
            const std::optional<bool> closed = it->whisker(int(k));
            if (!closed)
                continue;
            // On/off steps, a point only where the level changes: it holds until the reply
            // that changes it.
            const double y = double(k) + (*closed ? ClosedLevel : OpenLevel);
            if (whiskers[k].isEmpty()) {
                whiskers[k].append({s, y});
            } else if (whiskersLast[k].y() != y) {
                whiskers[k].append({s, whiskersLast[k].y()});
                whiskers[k].append({s, y});
            }
            whiskersLast[k] = {s, y};
        }
    }
    for (size_t k = 0; k < batteries.size(); ++k)
        m_batteries[k]->replace(batteries[k].take());
    for (size_t k = 0; k < analogues.size(); ++k)
        m_analogues[k]->replace(analogues[k].take());
    for (size_t k = 0; k < m_lowLines.size(); ++k) {
        const double level = m_lowBattery[k]->value();
        // Only on a change: setting it again at every redraw upsets the legend's layout.
        for (QLegendMarker *marker : m_views[Batteries]->chart()->legend()->markers(m_lowLines[k]))
            if (marker->isVisible() != (level > 0))
                marker->setVisible(level > 0);
        if (level <= 0) {
            m_lowLines[k]->clear();
            continue;
        }
        m_lowLines[k]->replace({{left / 1000.0, level}, {right / 1000.0, level}});
        if (highest >= lowest) {
            lowest = std::min(lowest, level);
            highest = std::max(highest, level);
        }
    }
    for (size_t k = 0; k < whiskers.size(); ++k) {
        if (!whiskers[k].isEmpty() && whiskers[k].constLast() != whiskersLast[k])
            whiskers[k].append(whiskersLast[k]);
        m_whiskers[k]->replace(whiskers[k]);
    }

    // A volt of room around what the batteries read, so that a slow fall shows.
    if (auto *volts = qobject_cast<QValueAxis *>(m_views[Batteries]->chart()->axes(Qt::Vertical).value(0))) {
        if (highest < lowest)
            volts->setRange(0, 10);
        else
            volts->setRange(std::max(0.0, std::floor(lowest) - 1), std::ceil(highest) + 1);
    }
    for (QValueAxis *axis : m_timeAxes) {
        axis->setRange(left / 1000.0, right / 1000.0);
        axis->setTickInterval(tickInterval(width / 1000.0));
    }
    for (QChartView *view : m_views)
        view->viewport()->update();
}

void Frm_Sensor_Plot::readingTaken(const Sensor_Sample &sample)
{
    if (!m_recorder.isRecording())
        return;
    QString why;
    if (!m_recorder.append(sample, &why))
        stopRecord(why);
    else
        m_recordState->setText(QStringLiteral("Recording: %1 rows").arg(m_recorder.rows()));
}

void Frm_Sensor_Plot::stopRecord(const QString &why)
{
    m_record->setChecked(false);
    m_recordState->setText(QStringLiteral("Record stopped"));
    // Told after the reply handler that met the failure has returned: a modal box inside it
    // would take the next replies in a nested event loop.
    const QString text = QStringLiteral("The record to \"%1\" stopped: %2. The rows written before stay in the file.")
                             .arg(m_recorder.fileName(), why);
    QMetaObject::invokeMethod(
        this, [self = QPointer<Frm_Sensor_Plot>(this), text] {
            if (self)
                self->m_dialogs.inform(self, text, QMessageBox::Warning);
        },
        Qt::QueuedConnection);
}

void Frm_Sensor_Plot::Btn_Record_Click(bool checked)
{
    if (!checked) {
        m_recorder.stop();
        m_recordState->setText(QStringLiteral("Record stopped: %1 rows").arg(m_recorder.rows()));
        return;
    }
    const QPointer<Frm_Sensor_Plot> self(this);
    const QString name = m_dialogs.saveFileName(this, QStringLiteral("Record to File"), QStringLiteral("readings.csv"),
                                                QStringLiteral("CSV (*.csv)"));
    if (!self)
        return;
    QString why;
    if (name.isEmpty() || !m_recorder.start(name, m_clock(), &why)) {
        m_record->setChecked(false);
        if (!name.isEmpty())
            m_dialogs.inform(this, QStringLiteral("The record to \"%1\" cannot start: %2.").arg(name, why),
                             QMessageBox::Warning);
        return;
    }
    m_recordState->setText(QStringLiteral("Recording: 0 rows"));
}

void Frm_Sensor_Plot::Btn_Save_Readings_Click()
{
    const QPointer<Frm_Sensor_Plot> self(this);
    const QString name = m_dialogs.saveFileName(this, QStringLiteral("Save Readings"), QStringLiteral("readings.csv"),
                                                QStringLiteral("CSV (*.csv)"));
    if (!self || name.isEmpty())
        return;
    // Through a copy beside it: a save that fails leaves any older file whole. A folder, a pipe
    // or a device named is left alone.
    const QString why = [this, &name] {
        if (QString refusal = Save_Target::refusal(name); !refusal.isEmpty())
            return refusal;
        QSaveFile file(name);
        QString failure;
        if (!file.open(QIODevice::WriteOnly) || !Sensor_Csv::write(file, m_ring.samples(), &failure) || !file.commit())
            return failure.isEmpty() ? file.errorString() : failure;
        return QString();
    }();
    if (!why.isEmpty())
        m_dialogs.inform(this, QStringLiteral("The readings cannot be saved to \"%1\": %2.").arg(name, why),
                         QMessageBox::Warning);
}
