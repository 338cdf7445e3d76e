#include "settings/Frm_Setup.h"

#include "link/Com.h"
#include "link/Socket_Device.h"
#include "ui/Colours.h"
#include "ui/Dialogs.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>

namespace {

constexpr const char *ValueProperty = "Tag";

// A value text and the item text the box shows for it.
struct Shown
{
    const char *value;
    const char *text;
};

constexpr std::array<Shown, 3> ParityTexts{{{"n", "none"}, {"e", "even"}, {"o", "odd"}}};
constexpr std::array<Shown, 2> DataTexts{{{"7", "7 bits"}, {"8", "8 bits"}}};
constexpr std::array<Shown, 2> StopTexts{{{"1", "1 bit"}, {"2", "2 bits"}}};

QString valueText(const QComboBox *box)
{
    return box->property(ValueProperty).toString();
}

void setValueText(QComboBox *box, const QString &value)
{
    box->setProperty(ValueProperty, value);
}

// When the text is one of the list's items, that item becomes current as well, so the list
// opens on it and the arrow keys step on from it.
void showText(QComboBox *box, const QString &text)
{
    const int i = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i >= 0)
        box->setCurrentIndex(i);
    box->setEditText(text);
}

// Shows the text that goes with value; a value without one leaves the box as it is.
template <size_t N>
void showValue(QComboBox *box, const std::array<Shown, N> &texts, const QString &value)
{
    for (const Shown &shown : texts) {
        if (value == QLatin1StringView(shown.value)) {
            showText(box, QLatin1StringView(shown.text));
            return;
        }
    }
}

// The box's value text; an empty one is first replaced by value, and the box then shows shown.
QString valueOrDefault(QComboBox *box, const QString &value, const QString &shown)
{
    if (valueText(box).isEmpty()) {
        setValueText(box, value);
        showText(box, shown);
    }
    return valueText(box);
}

} // namespace

Frm_Setup::Frm_Setup(Com &com, Dialogs &dialogs, OpenSerial openSerial, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_com(com)
    , m_dialogs(dialogs)
    , m_openSerial(std::move(openSerial))
{
    setObjectName(QStringLiteral("Frm_Setup"));
    setWindowTitle(QStringLiteral("Serial Settings"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(buildSettingsFrame());
    layout->addWidget(buildButtonFrame());
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(&m_com, &Com::openFinished, this, &Frm_Setup::connectingEnded);
}

QGroupBox *Frm_Setup::buildSettingsFrame()
{
    m_port = buildBox("Cmb_Port", {QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                                   QStringLiteral("COM4")},
                      0);
    m_baud = buildBox("Cmb_Baud",
                      {QStringLiteral("600"), QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
                       QStringLiteral("9600"), QStringLiteral("14400"), QStringLiteral("19200"),
                       QStringLiteral("38400"), QStringLiteral("57600"), QStringLiteral("115200")},
                      4);
    m_data = buildBox("Cmb_Data", {QStringLiteral("7 bits"), QStringLiteral("8 bits")}, 1);
    m_parity = buildBox("Cmb_Parity", {QStringLiteral("none"), QStringLiteral("even"), QStringLiteral("odd")}, 0);
    m_stop = buildBox("Cmb_Stop", {QStringLiteral("1 bit"), QStringLiteral("2 bits")}, 0);

    connect(m_port, &QComboBox::activated, this, &Frm_Setup::Cmb_Port_Click);
    connect(m_baud, &QComboBox::activated, this, &Frm_Setup::Cmb_Baud_Click);
    connect(m_data, &QComboBox::activated, this, &Frm_Setup::Cmb_Data_Click);
    connect(m_parity, &QComboBox::activated, this, &Frm_Setup::Cmb_Parity_Click);
    connect(m_stop, &QComboBox::activated, this, &Frm_Setup::Cmb_Stop_Click);

    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("Lbl_Status"));
    m_status->setFrameShape(QFrame::Panel);
    m_status->setFrameShadow(QFrame::Sunken);
    m_status->setMinimumHeight(m_port->sizeHint().height());
    showPortState(false);

    const std::array<std::pair<const char *, QWidget *>, 6> rows{{{"PORT :", m_port},
                                                                  {"BAUD RATE :", m_baud},
                                                                  {"DATA :", m_data},
                                                                  {"PARITY :", m_parity},
                                                                  {"STOP :", m_stop},
                                                                  {"STATUS :", m_status}}};
    auto *frame = new QGroupBox;
    frame->setObjectName(QStringLiteral("Frame1"));
    auto *grid = new QGridLayout(frame);
    for (int row = 0; row < int(rows.size()); ++row) {
        auto *caption = new QLabel(QLatin1StringView(rows[size_t(row)].first));
        caption->setObjectName(QStringLiteral("Label%1").arg(row + 1));
        grid->addWidget(caption, row, 0);
        grid->addWidget(rows[size_t(row)].second, row, 1);
    }
    grid->setColumnStretch(1, 1);
    return frame;
}

QGroupBox *Frm_Setup::buildButtonFrame()
{
    QPushButton *apply = buildButton("Btn_Ok_Setup", QStringLiteral("APPLY"));
    connect(apply, &QPushButton::clicked, this, &Frm_Setup::Btn_Ok_Setup_Click);
    QPushButton *closePort = buildButton("Btn_Close_Port", QStringLiteral("CLOSE"));
    connect(closePort, &QPushButton::clicked, this, &Frm_Setup::Btn_Close_Port_Click);
    QPushButton *cancel = buildButton("btn_Cancel_setup", QStringLiteral("CANCEL"));
    connect(cancel, &QPushButton::clicked, this, &Frm_Setup::btn_Cancel_setup_Click);

    auto *frame = new QGroupBox;
    frame->setObjectName(QStringLiteral("Frame2"));
    auto *row = new QHBoxLayout(frame);
    row->addWidget(apply);
    row->addWidget(closePort);
    row->addWidget(cancel);
    return frame;
}

QComboBox *Frm_Setup::buildBox(const char *name, const QStringList &items, int initial)
{
    auto *box = new QComboBox;
    box->setObjectName(QLatin1StringView(name));
    box->setEditable(true);
    box->addItems(items);
    box->setCurrentIndex(initial);
    setValueText(box, QString());
    // Typing changes the displayed text only. Qt would otherwise add a typed text to the
    // list, complete it from the items, or, once typing ends on an item's text, pick that
    // item as if the operator had chosen it from the list.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    disconnect(box->lineEdit(), &QLineEdit::editingFinished, box, nullptr);
    return box;
}

QPushButton *Frm_Setup::buildButton(const char *name, const QString &text)
{
    auto *button = new QPushButton(text);
    button->setObjectName(QLatin1StringView(name));
    return button;
}

bool Frm_Setup::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return handled;
}

void Frm_Setup::Form_Activate()
{
    // Each port's device may have been chosen anew (Serial → Devices…) since the last time.
    for (int i = 0; i < m_port->count(); ++i)
        m_port->setItemData(i, Com::deviceFor(i + 1), Qt::ToolTipRole);
    loadPortState(m_com.Settings(), m_com.CommPort(), m_com.PortOpen());
}

void Frm_Setup::loadPortState(const QString &settings, int port, bool open)
{
    // Fields are taken as they come: a blank after a comma stays in the value text and the
    // box keeps what it showed.
    const QStringList fields = settings.split(u',');
    if (fields.size() != 4)
        return;

    showText(m_baud, fields[0]);
    setValueText(m_baud, fields[0]);
    setValueText(m_parity, fields[1]);
    showValue(m_parity, ParityTexts, fields[1]);
    setValueText(m_data, fields[2]);
    showValue(m_data, DataTexts, fields[2]);
    setValueText(m_stop, fields[3]);
    showValue(m_stop, StopTexts, fields[3]);
    setValueText(m_port, QString::number(port));
    if (port >= 1 && port <= m_port->count())
        showText(m_port, QStringLiteral("COM%1").arg(port));
    showPortState(open);
}

void Frm_Setup::showPortState(bool open)
{
    if (m_connecting)
        return;
    m_status->clear();
    Colours::setBackground(m_status, Colours::fromValue(open ? Colours::Green : Colours::Red));
}

void Frm_Setup::showConnecting(const QString &device)
{
    const std::optional<Socket_Device::Address> address = Socket_Device::parse(device, nullptr);
    m_connecting = true;
    m_status->setText(QStringLiteral("Connecting to %1…").arg(address ? address->hostAndPort() : device));
    m_status->setAutoFillBackground(false);
    for (QWidget *control : std::initializer_list<QWidget *>{m_port, m_baud, m_data, m_parity, m_stop})
        control->setEnabled(false);
    for (const char *button : {"Btn_Ok_Setup", "Btn_Close_Port"})
        findChild<QPushButton *>(QLatin1StringView(button))->setEnabled(false);
}

void Frm_Setup::connectingEnded(bool open)
{
    if (!m_connecting)
        return;
    m_connecting = false;
    for (QWidget *control : std::initializer_list<QWidget *>{m_port, m_baud, m_data, m_parity, m_stop})
        control->setEnabled(true);
    for (const char *button : {"Btn_Ok_Setup", "Btn_Close_Port"})
        findChild<QPushButton *>(QLatin1StringView(button))->setEnabled(true);
    showPortState(open);
    // As when APPLY opened the port at once; a failure has been told, and the window stays.
    if (open)
        close();
}

void Frm_Setup::Cmb_Port_Click(int index)
{
    if (!m_port->itemText(index).isEmpty())
        setValueText(m_port, QString::number(index + 1));
}

void Frm_Setup::Cmb_Baud_Click(int index)
{
    const QString item = m_baud->itemText(index);
    if (!item.isEmpty())
        setValueText(m_baud, item);
}

void Frm_Setup::Cmb_Data_Click(int index)
{
    if (!m_data->itemText(index).isEmpty())
        setValueText(m_data, QString::number(index + 7));
}

void Frm_Setup::Cmb_Parity_Click(int index)
{
    const QString item = m_parity->itemText(index);
    if (item.isEmpty())
        return;
    QString value = QStringLiteral("n");
    for (const Shown &shown : ParityTexts) {
        if (item == QLatin1StringView(shown.text))
            value = QLatin1StringView(shown.value);
    }
    setValueText(m_parity, value);
}

void Frm_Setup::Cmb_Stop_Click(int index)
{
    if (!m_stop->itemText(index).isEmpty())
        setValueText(m_stop, QString::number(index + 1));
}

void Frm_Setup::Btn_Ok_Setup_Click()
{
    // A port value text that is not a number converts to 0, which Open_Serial, like any
    // port outside 1 to 4, replaces by port 1.
    const short port = valueOrDefault(m_port, QStringLiteral("1"), QStringLiteral("COM1")).toShort();
    // "Aucune" is not one of the parity items; the value n is what counts.
    const QString settings = QStringList{valueOrDefault(m_baud, QStringLiteral("57600"), QStringLiteral("57600")),
                                         valueOrDefault(m_parity, QStringLiteral("n"), QStringLiteral("Aucune")),
                                         valueOrDefault(m_data, QStringLiteral("8"), QStringLiteral("8 bits")),
                                         valueOrDefault(m_stop, QStringLiteral("1"), QStringLiteral("1 bit"))}
                                 .join(QStringLiteral(", "));
    // On failure Open_Serial has told the operator why; the window stays for another try.
    switch (m_openSerial(port, settings)) {
    case Open_Result::Opened:
        close();
        break;
    case Open_Result::Connecting:
        showConnecting(Com::devicePath(Com::deviceFor(m_com.CommPort())));
        break;
    case Open_Result::Failed:
        break;
    }
}

void Frm_Setup::Btn_Close_Port_Click()
{
    if (!m_com.PortOpen())
        m_dialogs.inform(this, QStringLiteral("Serial Port already closed..."));
    else
        m_com.setPortOpen(false);
    showPortState(false);
}

void Frm_Setup::btn_Cancel_setup_Click()
{
    // While connecting, CANCEL gives the connection up and the window stays.
    if (m_connecting)
        m_com.cancelOpen();
    else
        close();
}
