#include "sim/RobotWindow.h"

#include "link/Servos.h"
#include "sim/RobotView.h"
#include "sim/Simulator.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString batteryText(int tenths)
{
    return QStringLiteral("= %1").arg(QLocale().toString(tenths / 10.0, 'f', tenths % 10 == 0 ? 0 : 1));
}

QString servoName(int index)
{
    const std::string_view name = Servos::All[size_t(index)].name;
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}

} // namespace

RobotWindow::RobotWindow(Simulator &simulator, QWidget *parent)
    : QWidget(parent)
    , m_simulator(simulator)
{
    setObjectName(QStringLiteral("RobotWindow"));
    setWindowTitle(QStringLiteral("Orvik virtual robot"));

    m_view = new RobotView(simulator.controller());
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_view, 1);
    layout->addWidget(buildControls());

    Controller &controller = simulator.controller();
    connect(&controller, &Controller::sensorsChanged, this, &RobotWindow::showSensors);
    connect(&controller, &Controller::servosMoved, this, &RobotWindow::showServos);
    connect(&simulator, &Simulator::frameReceived, this, &RobotWindow::showLastFrame);
    showSensors();
    showServos();
    resize(1040, 700);
}

QWidget *RobotWindow::buildControls()
{
    auto *device = new QLabel(QStringLiteral("Serial line: <b>%1</b><br>Link: %2")
                                  .arg(m_simulator.port().device().toHtmlEscaped(),
                                       m_simulator.port().linkPath().toHtmlEscaped()));
    device->setObjectName(QStringLiteral("device"));
    device->setTextInteractionFlags(Qt::TextSelectableByMouse);
    device->setWordWrap(true);

    auto *lastFrameBox = new QGroupBox(QStringLiteral("Last frame received"));
    m_lastFrame = new QLabel(QStringLiteral("none yet"));
    m_lastFrame->setObjectName(QStringLiteral("lastFrame"));
    m_lastFrame->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_lastFrame->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_frameCount = new QLabel;
    m_frameCount->setObjectName(QStringLiteral("frameCount"));
    auto *lastFrameLayout = new QVBoxLayout(lastFrameBox);
    lastFrameLayout->addWidget(m_lastFrame);
    lastFrameLayout->addWidget(m_frameCount);

    auto *column = new QWidget;
    column->setFixedWidth(320);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(device);
    layout->addWidget(buildBatteries());
    layout->addWidget(buildWhiskers());
    layout->addWidget(buildAnalogues());
    layout->addWidget(lastFrameBox);
    layout->addWidget(buildServos());
    layout->addStretch();
    return column;
}

QWidget *RobotWindow::buildBatteries()
{
    auto *box = new QGroupBox(QStringLiteral("Batteries (tenths)"));
    auto *grid = new QGridLayout(box);
    for (int k = 0; k < 2; ++k) {
        auto *spin = new QSpinBox;
        spin->setObjectName(QStringLiteral("battery%1").arg(k + 1));
        spin->setRange(0, 255);
        m_batteryTexts[size_t(k)] = new QLabel;
        connect(spin, &QSpinBox::valueChanged, this,
                [this, k](int value) { m_simulator.controller().setBattery(k + 1, quint8(value)); });
        m_batteries[size_t(k)] = spin;
        grid->addWidget(new QLabel(QStringLiteral("Battery %1").arg(k + 1)), k, 0);
        grid->addWidget(spin, k, 1);
        grid->addWidget(m_batteryTexts[size_t(k)], k, 2);
    }
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *RobotWindow::buildWhiskers()
{
    auto *box = new QGroupBox(QStringLiteral("Whiskers (click to close or open)"));
    auto *row = new QHBoxLayout(box);
    for (int k = 0; k < 4; ++k) {
        auto *button = new QPushButton(QString::number(k + 1));
        button->setObjectName(QStringLiteral("whisker%1").arg(k + 1));
        button->setCheckable(true);
        button->setToolTip(QStringLiteral("Whisker %1: closed while pressed in; the panel is told at once").arg(k + 1));
        button->setStyleSheet(QStringLiteral("QPushButton { padding: 6px; border-radius: 6px; border: 1px solid #6b7686;"
                                             " background: #dde3ea; }"
                                             "QPushButton:checked { background: #22c24a; color: white;"
                                             " font-weight: bold; border-color: #187a30; }"));
        connect(button, &QPushButton::toggled, this,
                [this, k](bool closed) { m_simulator.controller().setWhisker(k + 1, closed); });
        m_whiskers[size_t(k)] = button;
        row->addWidget(button);
    }
    return box;
}

QWidget *RobotWindow::buildAnalogues()
{
    auto *box = new QGroupBox(QStringLiteral("Analogue inputs"));
    auto *grid = new QGridLayout(box);
    for (int k = 0; k < 4; ++k) {
        auto *spin = new QSpinBox;
        spin->setObjectName(QStringLiteral("analogue%1").arg(k + 1));
        spin->setRange(0, 65535);
        connect(spin, &QSpinBox::valueChanged, this,
                [this, k](int value) { m_simulator.controller().setAnalogue(k + 1, quint16(value)); });
        m_analogues[size_t(k)] = spin;
        grid->addWidget(new QLabel(QString::number(k + 1)), k / 2, (k % 2) * 2);
        grid->addWidget(spin, k / 2, (k % 2) * 2 + 1);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return box;
}

QWidget *RobotWindow::buildServos()
{
    auto *box = new QGroupBox(QStringLiteral("Servos: position (target, speed)"));
    auto *grid = new QGridLayout(box);
    grid->setVerticalSpacing(1);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    for (int i = 0; i < int(m_servoTexts.size()); ++i) {
        auto *name = new QLabel(QStringLiteral("%1  %2").arg(Servos::All[size_t(i)].number, 2).arg(servoName(i)));
        name->setFont(small);
        auto *value = new QLabel;
        value->setFont(small);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_servoTexts[size_t(i)] = value;
        grid->addWidget(name, i, 0);
        grid->addWidget(value, i, 1);
    }
    return box;
}

void RobotWindow::showSensors()
{
    const Controller &controller = m_simulator.controller();
    for (int k = 0; k < 2; ++k) {
        const QSignalBlocker quiet(m_batteries[size_t(k)]);
        m_batteries[size_t(k)]->setValue(controller.battery(k + 1));
        m_batteryTexts[size_t(k)]->setText(batteryText(controller.battery(k + 1)));
    }
    for (int k = 0; k < 4; ++k) {
        const QSignalBlocker quietWhisker(m_whiskers[size_t(k)]);
        m_whiskers[size_t(k)]->setChecked(controller.whisker(k + 1));
        const QSignalBlocker quietAnalogue(m_analogues[size_t(k)]);
        m_analogues[size_t(k)]->setValue(controller.analogue(k + 1));
    }
}

void RobotWindow::showServos()
{
    const ServoBank &servos = m_simulator.controller().servos();
    for (int i = 0; i < int(m_servoTexts.size()); ++i) {
        const ServoBank::Servo &servo = servos.servo(i);
        m_servoTexts[size_t(i)]->setText(
            QStringLiteral("%1 (%2, %3)").arg(qRound(servo.position)).arg(servo.target).arg(servo.speed));
    }
}

void RobotWindow::showLastFrame()
{
    m_lastFrame->setText(m_simulator.lastFrame().toString());
    m_frameCount->setText(QStringLiteral("%1 frames received").arg(++m_frames));
}

QString RobotWindow::saveScreenshot(const QString &path)
{
    if (!grab().save(path, "PNG"))
        return QStringLiteral("cannot save a picture to \"%1\"").arg(path);
    return QString();
}
