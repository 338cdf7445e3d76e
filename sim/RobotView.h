#pragma once

#include <QWidget>

class Controller;
class QPainter;
class QPointF;

// The robot seen from the front, drawn from where its servos are now: eyebrows tilted,
// eyes turned, mouth corners up or down, the head turned and nodded by the neck, both arms
// at their shoulder and elbow angles; the whiskers on its base and the batteries on its
// chest. The robot's left side is on the picture's right. It scales with the widget.
class RobotView : public QWidget
{
    Q_OBJECT

public:
    explicit RobotView(const Controller &controller, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Positions by the controller's servo numbers.
    double at(int servoNumber) const;

    void drawBackground(QPainter &painter);
    void drawBase(QPainter &painter);
    void drawTorso(QPainter &painter);
    void drawHead(QPainter &painter);
    void drawFace(QPainter &painter, const QPointF &centre);
    // side: -1 for the arm on the picture's left (the robot's right arm), +1 for the other.
    void drawArm(QPainter &painter, int side, bool behind);

    const Controller &m_controller;
};
