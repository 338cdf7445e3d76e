#pragma once

#include "scripts/Script_Schedule.h"

#include <QAbstractScrollArea>

// A script drawn against time: the ruler in seconds along the top, one lane per servo the
// script moves with its targets as steps and its predicted position as a line, the selected
// actions as bands and the step now playing as a cursor. Only what is in view is drawn, so a
// script of any length repaints in the same time.
class Script_Timeline : public QAbstractScrollArea
{
    Q_OBJECT

public:
    static constexpr int RulerHeight = 22;
    static constexpr int NameWidth = 150;
    static constexpr int MinLaneHeight = 30;
    static constexpr int MaxLaneHeight = 64;

    explicit Script_Timeline(QWidget *parent = nullptr);

    void setProfile(const Script_Schedule::Motion_Profile &profile);
    void setScript(const Action_List &script);
    const Script_Schedule::Timeline &timeline() const { return m_timeline; }

    // Sorted rows, as the list selects them.
    void setSelection(const QList<qint32> &rows);
    // The action now playing, -1 for none; it is scrolled into view.
    void setCursorAction(qint32 action);
    qint32 cursorAction() const { return m_cursor; }

    double pixelsPerSecond() const { return m_pxPerMs * 1000.0; }
    // Zooms about the time at viewport x (keeping it in place).
    void zoom(double factor, int x);

    // Viewport x of a time, and the time at a viewport x.
    double xOf(qint64 ms) const;
    qint64 msAt(double x) const;
    int laneHeight() const { return m_laneHeight; }

signals:
    // The operator clicked the time at which the action at index runs.
    void actionClicked(qint32 index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateScrollBars();
    void scrollToTime(qint64 ms);
    void drawRuler(QPainter &painter, qint64 from, qint64 to);
    void drawLane(QPainter &painter, const Script_Schedule::Servo_Lane &lane, int top, qint64 from, qint64 to);
    void drawSelection(QPainter &painter, qint64 from, qint64 to);

    Script_Schedule::Motion_Profile m_profile;
    Script_Schedule::Timeline m_timeline;
    QList<std::pair<int, int>> m_laneRanges; // lowest and highest target drawn in each lane
    QList<qint32> m_selection;
    qint32 m_cursor = -1;
    double m_pxPerMs = 0.1; // 100 pixels a second
    int m_laneHeight = MinLaneHeight;
};
