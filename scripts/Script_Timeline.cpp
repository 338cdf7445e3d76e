#include "scripts/Script_Timeline.h"

#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>

using namespace Script_Schedule;

namespace {

// The widest a script's time may be laid out, so the scroll bar's range stays an int.
constexpr double MaxContentWidth = 1e9;
constexpr double MinPxPerMs = 1e-6;
constexpr double MaxPxPerMs = 2.0;

const QColor PredictedColour(0, 110, 200);
const QColor CursorColour(210, 30, 30);

// At most four points per pixel column (first, lowest, highest, last): a lane with thousands of
// moves in view costs its width to draw, not its moves.
QPolygonF thinned(const QPolygonF &line)
{
    if (line.size() < 8)
        return line;
    QPolygonF kept;
    kept.reserve(std::min<qsizetype>(line.size(), 4096));
    qsizetype i = 0;
    while (i < line.size()) {
        const double column = std::floor(line[i].x());
        qsizetype j = i;
        double low = line[i].y(), high = line[i].y();
        while (j + 1 < line.size() && std::floor(line[j + 1].x()) == column) {
            ++j;
            low = std::min(low, line[j].y());
            high = std::max(high, line[j].y());
        }
        kept.append(line[i]);
        if (j > i) {
            if (low != line[i].y() || high != line[i].y()) {
                kept.append({column, low});
                kept.append({column, high});
            }
            kept.append(line[j]);
        }
        i = j + 1;
    }
    return kept;
}

// A tick every 1, 2 or 5 times a power of ten milliseconds, at least minPx apart.
qint64 tickStep(double pxPerMs, double minPx)
{
    for (qint64 power = 1; power < LLONG_MAX / 10; power *= 10)
        for (const qint64 m : {1, 2, 5})
            if (double(m * power) * pxPerMs >= minPx)
                return m * power;
    return LLONG_MAX / 10;
}

QString secondsText(qint64 ms)
{
    return QLocale().toString(double(ms) / 1000.0, 'g', 12) + QStringLiteral(" s");
}

} // namespace

Script_Timeline::Script_Timeline(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setObjectName(QStringLiteral("Script_Timeline"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setMinimumHeight(RulerHeight + 2 * MinLaneHeight + horizontalScrollBar()->sizeHint().height());
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
}

void Script_Timeline::setProfile(const Motion_Profile &profile)
{
    m_profile = profile;
}

void Script_Timeline::setScript(const Action_List &script)
{
    m_timeline = plan(script, m_profile);
    m_laneRanges.clear();
    for (const Servo_Lane &lane : std::as_const(m_timeline.lanes)) {
        int low = INT_MAX, high = INT_MIN;
        for (const Servo_Move &move : lane.moves) {
            low = std::min(low, move.target);
            high = std::max(high, move.target);
        }
        const Motion_Profile::Range range = m_profile.ranges[size_t(lane.servo)];
        low = std::max(low, range.low);
        high = std::min(high, range.high);
        if (high <= low) {
            low -= 5;
            high = low + 10;
        }
        m_laneRanges.append({low, high});
    }
    if (m_cursor >= m_timeline.start.size())
        m_cursor = -1;
    updateScrollBars();
    viewport()->update();
}

void Script_Timeline::setSelection(const QList<qint32> &rows)
{
    m_selection = rows;
    viewport()->update();
}

void Script_Timeline::setCursorAction(qint32 action)
{
    m_cursor = action >= 0 && action < m_timeline.start.size() ? action : -1;
    if (m_cursor >= 0)
        scrollToTime(m_timeline.start[m_cursor]);
    viewport()->update();
}

double Script_Timeline::xOf(qint64 ms) const
{
    return NameWidth + double(ms) * m_pxPerMs - horizontalScrollBar()->value();
}

qint64 Script_Timeline::msAt(double x) const
{
    return qint64(std::floor((x - NameWidth + horizontalScrollBar()->value()) / m_pxPerMs));
}

void Script_Timeline::zoom(double factor, int x)
{
    const double anchor = (x - NameWidth + horizontalScrollBar()->value()) / m_pxPerMs;
    const double ceiling = std::min(MaxPxPerMs, MaxContentWidth / std::max<double>(m_timeline.length, 1));
    m_pxPerMs = std::clamp(m_pxPerMs * factor, MinPxPerMs, std::max(ceiling, MinPxPerMs));
    updateScrollBars();
    horizontalScrollBar()->setValue(int(std::lround(anchor * m_pxPerMs - (x - NameWidth))));
    viewport()->update();
}

void Script_Timeline::scrollToTime(qint64 ms)
{
    const double x = xOf(ms);
    if (x < NameWidth || x > viewport()->width() - 20)
        horizontalScrollBar()->setValue(int(std::lround(double(ms) * m_pxPerMs)) - 20);
}

void Script_Timeline::updateScrollBars()
{
    const int lanes = int(m_timeline.lanes.size());
    const int room = viewport()->height() - RulerHeight;
    m_laneHeight = lanes > 0 ? std::clamp(room / lanes, MinLaneHeight, MaxLaneHeight) : MinLaneHeight;
    const double ceiling = std::min(MaxPxPerMs, MaxContentWidth / std::max<double>(m_timeline.length, 1));
    m_pxPerMs = std::min(m_pxPerMs, std::max(ceiling, MinPxPerMs));
    const int content = int(std::ceil(double(m_timeline.length) * m_pxPerMs)) + 40;
    const int visible = std::max(viewport()->width() - NameWidth, 1);
    horizontalScrollBar()->setRange(0, std::max(content - visible, 0));
    horizontalScrollBar()->setPageStep(visible);
    horizontalScrollBar()->setSingleStep(std::max(visible / 10, 1));
    verticalScrollBar()->setRange(0, std::max(lanes * m_laneHeight - room, 0));
    verticalScrollBar()->setPageStep(std::max(room, 1));
    verticalScrollBar()->setSingleStep(m_laneHeight);
}

void Script_Timeline::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void Script_Timeline::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const int width = viewport()->width();
    const int height = viewport()->height();
    const qint64 from = std::max<qint64>(msAt(NameWidth), 0);
    const qint64 to = msAt(width) + 1;

    painter.setClipRect(NameWidth, 0, width - NameWidth, height);
    drawSelection(painter, from, to);

    const int scroll = verticalScrollBar()->value();
    for (qsizetype i = 0; i < m_timeline.lanes.size(); ++i) {
        const int top = RulerHeight + int(i) * m_laneHeight - scroll;
        if (top + m_laneHeight < RulerHeight || top > height)
            continue;
        painter.setClipRect(NameWidth, std::max(top, RulerHeight), width - NameWidth, m_laneHeight);
        drawLane(painter, m_timeline.lanes[i], top, from, to);
    }
    painter.setClipping(false);

    // Lane names and the lines between lanes; a heavier line where a body part begins.
    painter.setPen(palette().color(QPalette::Mid));
    for (qsizetype i = 0; i < m_timeline.lanes.size(); ++i) {
        const int top = RulerHeight + int(i) * m_laneHeight - scroll;
        if (top + m_laneHeight < RulerHeight || top > height)
            continue;
        painter.save();
        painter.setClipRect(0, RulerHeight, width, height - RulerHeight);
        const int servo = m_timeline.lanes[i].servo;
        const bool partBegins = i == 0
                                || Servos::All[size_t(m_timeline.lanes[i - 1].servo)].bodyPart.mnemonic
                                       != Servos::All[size_t(servo)].bodyPart.mnemonic;
        painter.setPen(QPen(palette().color(partBegins ? QPalette::Dark : QPalette::Midlight), partBegins ? 2 : 1));
        painter.drawLine(0, top, width, top);
        painter.fillRect(0, top + 1, NameWidth - 1, m_laneHeight - 1, palette().color(QPalette::Window));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(QRect(6, top, NameWidth - 10, m_laneHeight), Qt::AlignVCenter | Qt::AlignLeft,
                         m_profile.names[size_t(servo)]);
        painter.restore();
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(NameWidth - 1, 0, NameWidth - 1, height);

    drawRuler(painter, from, to);

    if (m_cursor >= 0) {
        const double x = xOf(m_timeline.start[m_cursor]);
        if (x >= NameWidth && x <= width) {
            painter.setPen(QPen(CursorColour, 2));
            painter.drawLine(QPointF(x, 0), QPointF(x, height));
        }
    }
}

void Script_Timeline::drawSelection(QPainter &painter, qint64 from, qint64 to)
{
    const QList<qint64> &start = m_timeline.start;
    if (m_selection.isEmpty() || start.isEmpty())
        return;
    const qint32 first = std::max(actionAt(start, from), 0);
    const qint32 last = actionAt(start, to);
    QColor band = palette().color(QPalette::Highlight);
    band.setAlpha(70);
    const int height = viewport()->height();
    // Neighbouring rows that meet on screen are one band.
    double bandFrom = 0, bandTo = -1;
    auto flush = [&] {
        if (bandTo >= bandFrom)
            painter.fillRect(QRectF(bandFrom, 0, bandTo - bandFrom, height), band);
    };
    for (auto row = std::lower_bound(m_selection.cbegin(), m_selection.cend(), first);
         row != m_selection.cend() && *row <= last; ++row) {
        if (*row < 0 || *row >= start.size())
            continue;
        const qint64 end = *row + 1 < start.size() ? start[*row + 1] : m_timeline.length;
        const double x0 = xOf(start[*row]);
        // A row of no length (a wait of 0) still shows.
        const double x1 = std::max(xOf(end), x0 + 2);
        if (x0 <= bandTo + 1) {
            bandTo = std::max(bandTo, x1);
            continue;
        }
        flush();
        bandFrom = x0;
        bandTo = x1;
    }
    flush();
}

void Script_Timeline::drawLane(QPainter &painter, const Servo_Lane &lane, int top, qint64 from, qint64 to)
{
    // Not a structured binding: clang before 16 cannot capture one in a lambda.
    const std::pair<int, int> range = m_laneRanges[&lane - m_timeline.lanes.constData()];
    const int low = range.first;
    const int high = range.second;
    const double inner = m_laneHeight - 8;
    auto yOf = [&](double degrees) {
        return top + 4 + inner * (1.0 - (std::clamp<double>(degrees, low, high) - low) / double(high - low));
    };

    // Targets as steps: from the last move before the view to the first after it.
    const QList<Servo_Move> &moves = lane.moves;
    auto firstMove = std::upper_bound(moves.cbegin(), moves.cend(), from,
                                      [](qint64 t, const Servo_Move &m) { return t < m.startMs; });
    if (firstMove != moves.cbegin())
        --firstMove;
    auto lastMove = std::upper_bound(firstMove, moves.cend(), to,
                                     [](qint64 t, const Servo_Move &m) { return t < m.startMs; });
    QPolygonF steps;
    for (auto move = firstMove; move != lastMove; ++move) {
        const double x = xOf(move->startMs);
        if (!steps.isEmpty())
            steps.append({x, steps.last().y()});
        steps.append({x, yOf(move->target)});
    }
    if (!steps.isEmpty()) {
        const qint64 end = lastMove != moves.cend() ? lastMove->startMs : m_timeline.length;
        steps.append({xOf(end), steps.last().y()});
        painter.setPen(QPen(palette().color(QPalette::Dark), 1, Qt::DashLine));
        painter.drawPolyline(thinned(steps));
    }

    // The predicted position.
    const QList<QPointF> &line = lane.predicted;
    auto firstPoint = std::upper_bound(line.cbegin(), line.cend(), double(from),
                                       [](double t, const QPointF &p) { return t < p.x(); });
    if (firstPoint != line.cbegin())
        --firstPoint;
    auto lastPoint = std::upper_bound(firstPoint, line.cend(), double(to),
                                      [](double t, const QPointF &p) { return t < p.x(); });
    if (lastPoint != line.cend())
        ++lastPoint;
    QPolygonF predicted;
    predicted.reserve(lastPoint - firstPoint);
    for (auto point = firstPoint; point != lastPoint; ++point)
        predicted.append({NameWidth + point->x() * m_pxPerMs - horizontalScrollBar()->value(), yOf(point->y())});
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(PredictedColour, 2));
    painter.drawPolyline(thinned(predicted));
    painter.setRenderHint(QPainter::Antialiasing, false);
}

void Script_Timeline::drawRuler(QPainter &painter, qint64 from, qint64 to)
{
    const int width = viewport()->width();
    painter.fillRect(0, 0, width, RulerHeight, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(0, RulerHeight - 1, width, RulerHeight - 1);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(6, 0, NameWidth - 10, RulerHeight), Qt::AlignVCenter | Qt::AlignLeft,
                     QStringLiteral("Length %1").arg(secondsText(m_timeline.length)));
    painter.setClipRect(NameWidth, 0, width - NameWidth, RulerHeight);
    const int textWidth = fontMetrics().horizontalAdvance(QStringLiteral("0000.000 s"));
    const qint64 step = tickStep(m_pxPerMs, textWidth + 12);
    for (qint64 t = from - from % step; t <= to; t += step) {
        const double x = xOf(t);
        painter.drawLine(QPointF(x, RulerHeight - 6), QPointF(x, RulerHeight - 1));
        painter.drawText(QRectF(x + 3, 0, textWidth + 8, RulerHeight - 2), Qt::AlignVCenter | Qt::AlignLeft,
                         secondsText(t));
    }
    painter.setClipping(false);
}

void Script_Timeline::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || event->position().x() < NameWidth) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qint32 action = actionAt(m_timeline.start, msAt(event->position().x()));
    if (action >= 0)
        emit actionClicked(action);
}

void Script_Timeline::wheelEvent(QWheelEvent *event)
{
    const QPoint delta = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {
        zoom(std::pow(1.25, delta.y() / 120.0), int(event->position().x()));
    } else if (event->modifiers() & Qt::ShiftModifier) {
        verticalScrollBar()->setValue(verticalScrollBar()->value() - delta.y() / 120 * m_laneHeight);
    } else {
        // The wheel goes along time; a sideways wheel too.
        const int along = delta.x() != 0 ? delta.x() : delta.y();
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - along * horizontalScrollBar()->singleStep() / 120);
    }
    event->accept();
}
