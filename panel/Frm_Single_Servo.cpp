#include "panel/Frm_Single_Servo.h"

#include "link/Frames.h"
#include "link/Servos.h"
#include "link/Com.h"
#include "ui/Dialogs.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <optional>

namespace {

const QString Separator = QStringLiteral(" - ");

QLabel *caption(const char *name, const QString &text)
{
    auto *label = new QLabel(text);
    label->setObjectName(QLatin1StringView(name));
    return label;
}

} // namespace

Frm_Single_Servo::Frm_Single_Servo(Com &com, Dialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_com(com)
    , m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("Frm_Single_Servo"));
    setWindowTitle(QStringLiteral("Single Servo"));
    buildControls();
    Form_Load();
}

void Frm_Single_Servo::buildControls()
{
    m_system = new QComboBox;
    m_system->setObjectName(QStringLiteral("Cmb_System"));
    m_system->setEditable(true);
    // The list is the robot's and stays as it is: a number the operator types and confirms
    // with Enter is sent, not added to it. Nor is it completed: "1" would become
    // "18 - Right eyebrow" and move another servo.
    m_system->setInsertPolicy(QComboBox::NoInsert);
    m_system->setCompleter(nullptr);
    for (const Servos::Servo &servo : Servos::All)
        m_system->addItem(QString::number(servo.number) + Separator
                          + QString::fromLatin1(servo.name.data(), qsizetype(servo.name.size())));
    m_system->setCurrentIndex(-1);
    m_system->setEditText(QString());

    m_position = new QLineEdit;
    m_position->setObjectName(QStringLiteral("Txt_Position"));
    m_speed = new QLineEdit;
    m_speed->setObjectName(QStringLiteral("Txt_Speed"));
    const int boxWidth = m_position->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12;
    m_position->setFixedWidth(boxWidth);
    m_speed->setFixedWidth(boxWidth);

    auto *send = new QPushButton(QStringLiteral("SEND"));
    send->setObjectName(QStringLiteral("Btn_Send_Cmd"));
    connect(send, &QPushButton::clicked, this, &Frm_Single_Servo::Btn_Send_Cmd_Click);

    auto *grid = new QGridLayout(this);
    grid->addWidget(caption("Label1", QStringLiteral("Select a system to move")), 0, 0, 1, 2);
    grid->addWidget(m_system, 1, 0, 1, 2);
    grid->addWidget(caption("Label2", QStringLiteral("Position in degrees (ex : 45) :")), 2, 0);
    grid->addWidget(m_position, 2, 1, Qt::AlignRight);
    grid->addWidget(caption("Label3", QStringLiteral("Speed [0 to 255] (0 = max) :")), 3, 0);
    grid->addWidget(m_speed, 3, 1, Qt::AlignRight);
    grid->addWidget(send, 4, 1, Qt::AlignRight);
    grid->setRowMinimumHeight(1, m_system->sizeHint().height() + 8);
    grid->setColumnStretch(0, 1);
}

void Frm_Single_Servo::Form_Load()
{
    m_position->setText(QStringLiteral("0"));
    m_speed->setText(QStringLiteral("0"));
}

void Frm_Single_Servo::Btn_Send_Cmd_Click()
{
    const QString system = m_system->currentText();
    if (system.isEmpty()) {
        m_dialogs.inform(this, QStringLiteral("Select a system first !"), QMessageBox::NoIcon);
        return;
    }
    const QString positionText = m_position->text();
    const QString speedText = m_speed->text();
    if (positionText.isEmpty() || speedText.isEmpty()) {
        m_dialogs.inform(this, QStringLiteral("Enter valid position and speed"), QMessageBox::NoIcon);
        return;
    }
    if (!m_com.PortOpen())
        return;

    QString why;
    const std::optional<QByteArray> data = commandData(&why);
    if (!data) {
        // A value that cannot become a byte would move some servo somewhere the operator
        // did not ask for, so the whole command is refused.
        m_dialogs.inform(this, why + QStringLiteral(" Nothing was sent."), QMessageBox::NoIcon);
        return;
    }
    if (const QString outside = m_profile.positionRefusal(quint8(data->at(0)), quint8(data->at(1))); !outside.isEmpty()) {
        m_dialogs.inform(this, outside + QStringLiteral(". Nothing was sent."), QMessageBox::NoIcon);
        return;
    }
    const QByteArray frame = Frames::frame(Frames::SingleServo, *data);
    if (m_com.Output(frame))
        emit sent(frame);
}

std::optional<QByteArray> Frm_Single_Servo::commandData(QString *why) const
{
    struct Field
    {
        const char *what;
        QString text;
    };
    QByteArray data;
    for (const Field &field : {Field{"servo number", m_system->currentText().section(Separator, 0, 0)},
                               Field{"position", m_position->text()}, Field{"speed", m_speed->text()}}) {
        const std::optional<quint8> byte = Frames::textToByte(field.text);
        if (!byte) {
            if (why)
                *why = QStringLiteral("The %1 \"%2\" is not a number from 0 to 255.")
                           .arg(QLatin1StringView(field.what), field.text);
            return std::nullopt;
        }
        data.append(char(*byte));
    }
    return data;
}
