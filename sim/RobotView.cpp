#include "sim/RobotView.h"

#include "sim/Controller.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// The picture is drawn on a canvas of this size, then scaled to the widget.
constexpr double CanvasWidth = 440;
constexpr double CanvasHeight = 556;

// The controller's numbers of the servos the picture uses.
namespace Servo {
constexpr int RightEyebrow = 18, LeftEyebrow = 20;
constexpr int RightEyeYaw = 17, LeftEyeYaw = 16, EyesPitch = 15;
constexpr int RightMouthUp = 11, RightMouthDown = 14, LeftMouthUp = 13, LeftMouthDown = 12;
constexpr int RightElbow = 1, RightShoulderYaw = 2, RightShoulderPitch = 3;
constexpr int LeftElbow = 6, LeftShoulderYaw = 7, LeftShoulderPitch = 4;
constexpr int NeckPitch = 9, NeckYaw = 8;
} // namespace Servo

const QColor Shell(0xEE, 0xF1, 0xF5);
const QColor ShellShade(0xC3, 0xCB, 0xD6);
const QColor Outline(0x3A, 0x44, 0x55);
const QColor Accent(0xF2, 0x8C, 0x28);
const QColor Visor(0x1B, 0x26, 0x36);
const QColor Glow(0x4F, 0xD1, 0xF5);
const QColor Lip(0xFF, 0x8F, 0xA3);

constexpr double HeadX = CanvasWidth / 2, HeadY = 150;
constexpr double ShoulderY = 284, ShoulderSpan = 118;
constexpr double UpperArm = 88, Forearm = 80;

double radians(double degrees)
{
    return degrees * std::numbers::pi / 180.0;
}

struct Vec3
{
    double x, y, z; // x to the picture's right, y up, z towards the viewer
};

Vec3 rotateX(Vec3 v, double a)
{
    return {v.x, v.y * std::cos(a) - v.z * std::sin(a), v.y * std::sin(a) + v.z * std::cos(a)};
}

Vec3 rotateZ(Vec3 v, double a)
{
    return {v.x * std::cos(a) - v.y * std::sin(a), v.x * std::sin(a) + v.y * std::cos(a), v.z};
}

// A limb drawn as a light tube with a dark rim.
void drawLimb(QPainter &painter, const QPointF &from, const QPointF &to, double width)
{
    painter.setPen(QPen(Outline, width + 4, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(from, to);
    painter.setPen(QPen(Shell, width, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(from, to);
    painter.setPen(QPen(ShellShade, width * 0.3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(from + QPointF(width * 0.18, width * 0.18), to + QPointF(width * 0.18, width * 0.18));
}

void drawJoint(QPainter &painter, const QPointF &centre, double radius, const QColor &colour)
{
    QRadialGradient shine(centre - QPointF(radius * 0.35, radius * 0.35), radius * 1.3);
    shine.setColorAt(0, colour.lighter(140));
    shine.setColorAt(1, colour.darker(115));
    painter.setPen(QPen(Outline, 2));
    painter.setBrush(shine);
    painter.drawEllipse(centre, radius, radius);
}

} // namespace

RobotView::RobotView(const Controller &controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
{
    setObjectName(QStringLiteral("robotView"));
    connect(&controller, &Controller::servosMoved, this, qOverload<>(&QWidget::update));
    connect(&controller, &Controller::sensorsChanged, this, qOverload<>(&QWidget::update));
}

QSize RobotView::sizeHint() const
{
    return QSize(int(CanvasWidth * 1.3), int(CanvasHeight * 1.3));
}

QSize RobotView::minimumSizeHint() const
{
    return QSize(int(CanvasWidth / 2), int(CanvasHeight / 2));
}

double RobotView::at(int servoNumber) const
{
    return m_controller.servos().positionOf(servoNumber);
}

void RobotView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawBackground(painter);

    const double scale = std::min(width() / CanvasWidth, height() / CanvasHeight);
    painter.translate((width() - CanvasWidth * scale) / 2, (height() - CanvasHeight * scale) / 2);
    painter.scale(scale, scale);

    // An arm lifted past straight up (only a single-servo move can send one there) swings
    // behind the body and is drawn first.
    for (int side : {-1, 1})
        drawArm(painter, side, true);
    drawBase(painter);
    drawTorso(painter);
    drawHead(painter);
    for (int side : {-1, 1})
        drawArm(painter, side, false);
}

void RobotView::drawBackground(QPainter &painter)
{
    QLinearGradient sky(0, 0, 0, height());
    sky.setColorAt(0, QColor(0xF6, 0xF8, 0xFB));
    sky.setColorAt(1, QColor(0xD9, 0xE1, 0xEB));
    painter.fillRect(rect(), sky);
}

void RobotView::drawBase(QPainter &painter)
{
    // Four whiskers under the base, numbered from the picture's left; a closed one is bent
    // and lit green.
    for (int k = 1; k <= Controller::WhiskerCount; ++k) {
        const bool closed = m_controller.whisker(k);
        const double x = HeadX + (k - 2.5) * 52;
        const QPointF root(x, 488);
        const QPointF tip = closed ? QPointF(x + (k <= 2 ? -14 : 14), 516) : QPointF(x + (k <= 2 ? -8 : 8), 524);
        QPainterPath wire(root);
        wire.quadTo(QPointF(x, 508), tip);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(closed ? QColor(0x1E, 0x9E, 0x3A) : QColor(0x7A, 0x84, 0x94), closed ? 3.5 : 2.5,
                            Qt::SolidLine, Qt::RoundCap));
        painter.drawPath(wire);
        drawJoint(painter, tip, closed ? 7 : 5.5, closed ? QColor(0x22, 0xE0, 0x4A) : QColor(0xB8, 0xC0, 0xCC));
        painter.setPen(Outline);
        painter.setFont(QFont(painter.font().family(), 9));
        painter.drawText(QRectF(tip.x() - 12, tip.y() + 6, 24, 14), Qt::AlignCenter, QString::number(k));
    }

    QPainterPath base;
    base.moveTo(HeadX - 96, 446);
    base.lineTo(HeadX + 96, 446);
    base.lineTo(HeadX + 122, 492);
    base.lineTo(HeadX - 122, 492);
    base.closeSubpath();
    QLinearGradient metal(0, 446, 0, 492);
    metal.setColorAt(0, QColor(0x5A, 0x66, 0x78));
    metal.setColorAt(1, QColor(0x35, 0x3F, 0x4E));
    painter.setPen(QPen(Outline, 2));
    painter.setBrush(metal);
    painter.drawPath(base);
}

void RobotView::drawTorso(QPainter &painter)
{
    const QRectF torso(HeadX - 92, 258, 184, 196);
    QLinearGradient shade(torso.topLeft(), torso.topRight());
    shade.setColorAt(0, ShellShade);
    shade.setColorAt(0.35, Shell);
    shade.setColorAt(1, ShellShade);
    painter.setPen(QPen(Outline, 2.5));
    painter.setBrush(shade);
    painter.drawRoundedRect(torso, 34, 34);

    // The chest shows the two battery readings, as the panel does: tenths, one decimal.
    const QRectF chest(HeadX - 58, 300, 116, 70);
    painter.setBrush(Visor);
    painter.setPen(QPen(Outline, 2));
    painter.drawRoundedRect(chest, 12, 12);
    QFont font = painter.font();
    font.setPixelSize(15);
    font.setBold(true);
    painter.setFont(font);
    for (int k = 1; k <= Controller::BatteryCount; ++k) {
        const quint8 tenths = m_controller.battery(k);
        const QRectF row(chest.left() + 10, chest.top() + 8 + (k - 1) * 28, chest.width() - 20, 26);
        painter.setPen(QPen(Glow, 1.5));
        painter.setBrush(Qt::NoBrush);
        const QRectF cell(row.left(), row.top() + 6, 22, 13);
        painter.drawRoundedRect(cell, 2, 2);
        painter.fillRect(QRectF(cell.right(), cell.top() + 4, 3, 5), Glow);
        painter.fillRect(QRectF(cell.left() + 2, cell.top() + 2, (cell.width() - 4) * std::min(tenths / 84.0, 1.0),
                                cell.height() - 4),
                         Glow);
        painter.drawText(row.adjusted(30, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         QStringLiteral("%1").arg(tenths / 10.0, 0, 'f', tenths % 10 == 0 ? 0 : 1));
    }

    // Panel lines and a belt, for the look of it.
    painter.setPen(QPen(ShellShade.darker(110), 2));
    painter.drawLine(QPointF(HeadX - 60, 400), QPointF(HeadX + 60, 400));
    painter.setBrush(Accent);
    painter.setPen(QPen(Outline, 2));
    painter.drawRoundedRect(QRectF(HeadX - 70, 418, 140, 16), 6, 6);
}

void RobotView::drawHead(QPainter &painter)
{
    // Yaw turns the face towards the picture's right as the value grows past 90, the way
    // the panel's slider moves; pitch past 90 lifts the face. The face slides further than
    // the shell, which is what makes a flat picture read as a turned head.
    const double turn = std::sin(radians(std::clamp(at(Servo::NeckYaw) - 90, -80.0, 80.0)));
    const double nod = std::sin(radians(std::clamp(at(Servo::NeckPitch) - 90, -60.0, 60.0)));
    const QPointF shellShift(turn * 8, -nod * 6);
    const QPointF faceShift(turn * 34, -nod * 26);
    const QPointF centre = QPointF(HeadX, HeadY) + shellShift;

    // Neck.
    painter.setPen(QPen(Outline, 2));
    painter.setBrush(ShellShade);
    painter.drawRect(QRectF(HeadX - 22 + shellShift.x() * 0.5, 220, 44, 44));
    painter.setPen(QPen(Outline.lighter(160), 2));
    for (int ridge = 0; ridge < 3; ++ridge)
        painter.drawLine(QPointF(HeadX - 20 + shellShift.x() * 0.5, 232 + ridge * 10),
                         QPointF(HeadX + 20 + shellShift.x() * 0.5, 232 + ridge * 10));

    // Ears: the one the face turns away from shows more of itself.
    for (int side : {-1, 1}) {
        const double width = std::clamp(16 - side * turn * 10, 6.0, 26.0);
        const QRectF ear(centre.x() + side * 92 - (side < 0 ? width : 0), centre.y() - 26, width, 52);
        painter.setPen(QPen(Outline, 2));
        painter.setBrush(Accent);
        painter.drawRoundedRect(ear, 6, 6);
    }

    // Antenna.
    painter.setPen(QPen(Outline, 3));
    painter.drawLine(centre + QPointF(0, -78), centre + QPointF(turn * 6, -104));
    drawJoint(painter, centre + QPointF(turn * 6, -108), 8, Accent);

    const QRectF shell(centre.x() - 92, centre.y() - 82, 184, 162);
    QLinearGradient shade(shell.topLeft(), shell.topRight());
    shade.setColorAt(0, ShellShade);
    shade.setColorAt(0.4 + turn * 0.25, Shell);
    shade.setColorAt(1, ShellShade);
    painter.setPen(QPen(Outline, 2.5));
    painter.setBrush(shade);
    painter.drawRoundedRect(shell, 44, 44);

    painter.save();
    QPainterPath clip;
    clip.addRoundedRect(shell.adjusted(8, 8, -8, -8), 38, 38);
    painter.setClipPath(clip);
    drawFace(painter, QPointF(HeadX, HeadY + 6) + faceShift);
    painter.restore();
}

void RobotView::drawFace(QPainter &painter, const QPointF &centre)
{
    const QRectF visor(centre.x() - 74, centre.y() - 60, 148, 122);
    QLinearGradient glass(visor.topLeft(), visor.bottomLeft());
    glass.setColorAt(0, Visor.lighter(135));
    glass.setColorAt(1, Visor);
    painter.setPen(QPen(Outline, 2));
    painter.setBrush(glass);
    painter.drawRoundedRect(visor, 30, 30);

    // side -1 is the robot's right, on the picture's left.
    struct Side
    {
        int side, eyebrow, eyeYaw, mouthUp, mouthDown;
    };
    const Side sides[] = {{-1, Servo::RightEyebrow, Servo::RightEyeYaw, Servo::RightMouthUp, Servo::RightMouthDown},
                          {1, Servo::LeftEyebrow, Servo::LeftEyeYaw, Servo::LeftMouthUp, Servo::LeftMouthDown}};

    const double pitch = std::clamp((at(Servo::EyesPitch) - 45) / 20.0, -1.4, 1.4);
    for (const Side &s : sides) {
        const QPointF eye = centre + QPointF(s.side * 34, -14);

        // Eye: a white ball with an iris that follows yaw and pitch.
        painter.setPen(QPen(Outline, 1.5));
        painter.setBrush(Qt::white);
        painter.drawEllipse(eye, 21, 18);
        const double yaw = std::clamp((at(s.eyeYaw) - 45) / 19.0, -1.4, 1.4);
        const QPointF iris = eye + QPointF(yaw * 9, -pitch * 7);
        QRadialGradient blue(iris, 10);
        blue.setColorAt(0, Glow.darker(150));
        blue.setColorAt(1, Glow);
        painter.setBrush(blue);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(iris, 10, 10);
        painter.setBrush(QColor(0x10, 0x14, 0x1C));
        painter.drawEllipse(iris, 4.8, 4.8);
        painter.setBrush(Qt::white);
        painter.drawEllipse(iris + QPointF(-3, -3), 2.2, 2.2);

        // Eyebrow: past 45 the brow lifts at its inner end (surprise), below 45 it frowns,
        // which is where the panel's slider leaves the more room.
        const double lift = std::clamp(at(s.eyebrow) - 45, -45.0, 45.0);
        painter.save();
        painter.translate(eye + QPointF(0, -30 - lift * 0.15));
        painter.rotate(s.side * lift * 0.9);
        painter.setPen(QPen(QColor(0xE6, 0xED, 0xF5), 6.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(-16, 0), QPointF(16, 0));
        painter.restore();
    }

    // Mouth: each corner has an upper and a lower lip servo; past 45 moves a lip's corner up.
    auto corner = [&](int servoNumber) { return -std::clamp(at(servoNumber) - 45, -40.0, 40.0) / 25.0 * 12; };
    const QPointF mouth = centre + QPointF(0, 32);
    const double half = 34;
    const QPointF upperLeft = mouth + QPointF(-half, corner(Servo::RightMouthUp));
    const QPointF upperRight = mouth + QPointF(half, corner(Servo::LeftMouthUp));
    const QPointF lowerLeft = mouth + QPointF(-half, corner(Servo::RightMouthDown));
    const QPointF lowerRight = mouth + QPointF(half, corner(Servo::LeftMouthDown));
    // Quadratic curves through a fixed middle: control = 2 x middle - mean of the ends.
    const double upperMiddle = mouth.y() - 3, lowerMiddle = mouth.y() + 5;
    QPainterPath lips(upperLeft);
    lips.quadTo(QPointF(mouth.x(), 2 * upperMiddle - (upperLeft.y() + upperRight.y()) / 2), upperRight);
    lips.lineTo(lowerRight);
    lips.quadTo(QPointF(mouth.x(), 2 * lowerMiddle - (lowerLeft.y() + lowerRight.y()) / 2), lowerLeft);
    lips.closeSubpath();
    painter.setBrush(QColor(0x6E, 0x1A, 0x2C));
    painter.setPen(QPen(Lip, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(lips);
}

void RobotView::drawArm(QPainter &painter, int side, bool behind)
{
    const bool right = side < 0; // the robot's right arm is on the picture's left
    const double pitch = radians(at(right ? Servo::RightShoulderPitch : Servo::LeftShoulderPitch));
    const double yaw = radians(at(right ? Servo::RightShoulderYaw : Servo::LeftShoulderYaw));
    const double elbow = radians(at(right ? Servo::RightElbow : Servo::LeftElbow));

    // Shoulder pitch swings the arm forward from hanging down (0) to straight up (180);
    // shoulder yaw lifts it out to the side; the elbow bends the forearm forward. The pitch
    // joint sits on the body, so it turns what the yaw and elbow joints do with it.
    const Vec3 down{0, -1, 0};
    const Vec3 upper = rotateX(rotateZ(down, side * yaw), -pitch);
    const Vec3 lower = rotateX(rotateZ(rotateX(down, -elbow), side * yaw), -pitch);
    if ((upper.z < -0.05) != behind)
        return;

    // Parts nearer the viewer are drawn a little larger.
    auto depth = [](double z) { return 1.0 + 0.22 * z; };
    const QPointF shoulder(HeadX + side * ShoulderSpan, ShoulderY);
    const QPointF elbowPoint = shoulder + QPointF(upper.x, -upper.y) * UpperArm;
    const double elbowZ = upper.z;
    const QPointF hand = elbowPoint + QPointF(lower.x, -lower.y) * Forearm;
    const double handZ = upper.z + lower.z;

    // The nearer segment is drawn last, so a forearm bent towards the viewer hides the upper arm.
    const auto upperArm = [&] { drawLimb(painter, shoulder, elbowPoint, 22 * depth(elbowZ * 0.5)); };
    const auto forearm = [&] { drawLimb(painter, elbowPoint, hand, 18 * depth((elbowZ + handZ) * 0.5)); };
    if (handZ >= elbowZ) {
        upperArm();
        forearm();
    } else {
        forearm();
        upperArm();
    }
    drawJoint(painter, elbowPoint, 12 * depth(elbowZ), ShellShade);
    drawJoint(painter, hand, 13 * depth(handZ), Accent);
    drawJoint(painter, shoulder, 19, Accent);
    painter.setPen(Outline);
    QFont font = painter.font();
    font.setPixelSize(13);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(shoulder.x() - 10, shoulder.y() - 10, 20, 20), Qt::AlignCenter,
                     right ? QStringLiteral("R") : QStringLiteral("L"));
}
