#include "settings/Frm_Devices.h"

#include "link/Com.h"
#include "ui/Dialogs.h"
#include "ui/Save_Target.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

namespace {

QString indexed(const char *name, int i)
{
    return QStringLiteral("%1(%2)").arg(QLatin1StringView(name)).arg(i);
}

// QSettings keeps values it could not write in memory only while one of its objects has the
// file open; the last one to go takes them along. One object per file, left open until the
// program ends, keeps the choices for the rest of the run.
void keepForThisRun(const QString &fileName)
{
    static QStringList kept;
    if (kept.contains(fileName))
        return;
    kept.append(fileName);
    new QSettings(QCoreApplication::instance());
}

} // namespace

Frm_Devices::Frm_Devices(Dialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("Frm_Devices"));
    setWindowTitle(QStringLiteral("Devices"));

    const QList<QSerialPortInfo> present = QSerialPortInfo::availablePorts();
    auto *grid = new QGridLayout;
    for (int port = 1; port <= PortCount; ++port) {
        auto *box = new QComboBox;
        box->setObjectName(indexed("Cmb_Device", port));
        box->setEditable(true);
        // A typed path is the choice as it is: never added to the list, nor completed into
        // another device.
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setCompleter(nullptr);
        box->setMinimumContentsLength(32);
        auto *override = new QLabel;
        override->setObjectName(indexed("Lbl_Override", port));
        m_devices[size_t(port - 1)] = box;
        m_overrides[size_t(port - 1)] = override;
        grid->addWidget(new QLabel(QStringLiteral("COM%1").arg(port)), 2 * port, 0);
        grid->addWidget(box, 2 * port, 1);
        grid->addWidget(override, 2 * port + 1, 1);
        const QString chosen = Com::chosenDevice(port);
        listDevices(port, present, chosen.isEmpty() ? Com::defaultDevice(port) : chosen);
    }
    grid->setColumnStretch(1, 1);

    auto button = [this](const char *name, const QString &text, auto handler) {
        auto *b = new QPushButton(text);
        b->setObjectName(QLatin1StringView(name));
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(
        button("Btn_Refresh_Devices", QStringLiteral("Refresh"), &Frm_Devices::Btn_Refresh_Devices_Click));
    buttons->addStretch();
    buttons->addWidget(button("Btn_Ok_Devices", QStringLiteral("OK"), &Frm_Devices::Btn_Ok_Devices_Click));
    buttons->addWidget(button("Btn_Cancel_Devices", QStringLiteral("Cancel"), &QWidget::close));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("The device each port opens, from the next time it opens:")));
    layout->addLayout(grid);
    layout->addLayout(buttons);
}

void Frm_Devices::listDevices(int port, const QList<QSerialPortInfo> &present, const QString &shown)
{
    QComboBox *box = m_devices[size_t(port - 1)];
    box->clear();
    const QString fallback = Com::defaultDevice(port);
    box->addItem(QStringLiteral("%1 (default)").arg(fallback), fallback);
    for (const QSerialPortInfo &info : present) {
        if (info.systemLocation() == fallback)
            continue;
        box->addItem(info.description().isEmpty()
                         ? info.systemLocation()
                         : QStringLiteral("%1 (%2)").arg(info.systemLocation(), info.description()),
                     info.systemLocation());
    }
    const int item = box->findData(shown);
    if (item >= 0) {
        box->setCurrentIndex(item);
    } else {
        box->setCurrentIndex(-1);
        box->setEditText(shown);
    }

    const QString environment = Com::environmentDevice(port);
    QLabel *override = m_overrides[size_t(port - 1)];
    override->setText(environment.isEmpty()
                          ? QString()
                          : QStringLiteral("ORVIK_COM%1 is set: %2 is used instead").arg(port).arg(environment));
    override->setVisible(!environment.isEmpty());
}

QString Frm_Devices::deviceShown(int port) const
{
    const QComboBox *box = m_devices[size_t(port - 1)];
    const int item = box->currentIndex();
    if (item >= 0 && box->currentText() == box->itemText(item))
        return box->itemData(item).toString();
    return box->currentText().trimmed();
}

void Frm_Devices::Btn_Refresh_Devices_Click()
{
    const QList<QSerialPortInfo> present = QSerialPortInfo::availablePorts();
    for (int port = 1; port <= PortCount; ++port)
        listDevices(port, present, deviceShown(port));
}

void Frm_Devices::Btn_Ok_Devices_Click()
{
    // Open across the writes below, so that what fails to reach the file stays in memory.
    QSettings settings;
    for (int port = 1; port <= PortCount; ++port) {
        const QString device = deviceShown(port);
        // The default is kept as no choice at all, and so is an empty box.
        Com::setChosenDevice(port, device == Com::defaultDevice(port) ? QString() : device);
    }
    settings.sync();
    // A file QSettings could not read is written over all the same, and the first error is the
    // one its status keeps: then only a file that cannot be written loses the choices.
    const QString file = settings.fileName();
    const bool kept = settings.status() == QSettings::NoError
                      || (settings.status() == QSettings::FormatError && QFileInfo(file).isWritable());
    if (!kept) {
        keepForThisRun(file);
        m_dialogs.inform(this,
                         QStringLiteral("The devices chosen hold for this run only: they cannot be kept in \"%1\" "
                                        "(%2).")
                             .arg(QDir::toNativeSeparators(file), Save_Target::whyNotWritable(file)),
                         QMessageBox::Warning);
    }
    close();
}
