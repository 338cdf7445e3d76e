#include "settings/Frm_Robot_Profile.h"

#include "settings/Robot_Profile_Model.h"
#include "ui/Dialogs.h"

#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

#include <cmath>

namespace {

const QString Filter = QStringLiteral("Robot profile (*.json)");

QPushButton *button(const char *name, const QString &text)
{
    auto *b = new QPushButton(text);
    b->setObjectName(QLatin1StringView(name));
    return b;
}

} // namespace

Frm_Robot_Profile::Frm_Robot_Profile(const Robot_Profile &inUse, const QString &file, Dialogs &dialogs, Use use,
                                     QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_dialogs(dialogs)
    , m_use(std::move(use))
    , m_inUse(inUse)
    , m_file(file)
{
    setObjectName(QStringLiteral("Frm_Robot_Profile"));
    setWindowTitle(QStringLiteral("Robot Profile"));
    buildControls();
    display(m_inUse);
}

void Frm_Robot_Profile::buildControls()
{
    m_model = new Robot_Profile_Model(this);
    m_table = new QTableView;
    m_table->setObjectName(QStringLiteral("Tbl_Profile"));
    m_table->setModel(m_model);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                             | QAbstractItemView::AnyKeyPressed);
    QHeaderView *header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(Robot_Profile_Model::Name, QHeaderView::Stretch);
    m_table->resizeColumnsToContents();

    m_safeSpeed = new QSpinBox;
    m_safeSpeed->setObjectName(QStringLiteral("Spn_Safe_Speed"));
    m_safeSpeed->setRange(1, 255);
    m_safeSpeed->setToolTip(QStringLiteral("The speed byte of gentle moves (0, the fastest, is not one)"));
    m_degrees = new QDoubleSpinBox;
    m_degrees->setObjectName(QStringLiteral("Spn_Degrees"));
    m_degrees->setRange(0.01, Robot_Profile::MaxDegreesPerSecond);
    m_degrees->setDecimals(2);
    m_degrees->setToolTip(QStringLiteral("How many degrees per second one unit of speed means"));

    for (size_t k = 0; k < m_lowBattery.size(); ++k) {
        auto *spin = new QDoubleSpinBox;
        spin->setObjectName(QStringLiteral("Spn_Low_Battery(%1)").arg(k));
        spin->setRange(0, Robot_Profile::MaxLowBatteryTenths / 10.0);
        spin->setDecimals(1);
        spin->setSingleStep(0.1);
        spin->setSuffix(QStringLiteral(" V"));
        spin->setSpecialValueText(QStringLiteral("Off"));
        spin->setToolTip(QStringLiteral("Below this the battery's field turns red and the operator is told"));
        connect(spin, &QDoubleSpinBox::valueChanged, this, &Frm_Robot_Profile::showState);
        m_lowBattery[k] = spin;
    }

    m_source = new QLabel;
    m_source->setObjectName(QStringLiteral("Lbl_Profile_File"));
    m_source->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_check = new QLabel;
    m_check->setObjectName(QStringLiteral("Lbl_Profile_Check"));
    m_check->setWordWrap(true);
    m_check->setStyleSheet(QStringLiteral("color: #b00020;"));

    auto *robot = new QFormLayout;
    robot->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    robot->addRow(QStringLiteral("Safe speed :"), m_safeSpeed);
    robot->addRow(QStringLiteral("Degrees per second for speed 1 :"), m_degrees);
    for (size_t k = 0; k < m_lowBattery.size(); ++k)
        robot->addRow(QStringLiteral("Battery %1 low below :").arg(k + 1), m_lowBattery[k]);

    QPushButton *open = button("Btn_Open", QStringLiteral("Open…"));
    QPushButton *saveAs = button("Btn_Save_As", QStringLiteral("Save as…"));
    QPushButton *reset = button("Btn_Reset", QStringLiteral("Reset to built-in"));
    QPushButton *revert = button("Btn_Revert", QStringLiteral("Revert"));
    QPushButton *save = button("Btn_Save", QStringLiteral("Save"));
    connect(open, &QPushButton::clicked, this, &Frm_Robot_Profile::Btn_Open_Click);
    connect(saveAs, &QPushButton::clicked, this, &Frm_Robot_Profile::Btn_Save_As_Click);
    connect(reset, &QPushButton::clicked, this, &Frm_Robot_Profile::Btn_Reset_Click);
    connect(revert, &QPushButton::clicked, this, &Frm_Robot_Profile::Btn_Revert_Click);
    connect(save, &QPushButton::clicked, this, &Frm_Robot_Profile::Btn_Save_Click);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(open);
    buttons->addWidget(saveAs);
    buttons->addWidget(reset);
    buttons->addStretch();
    buttons->addWidget(revert);
    buttons->addWidget(save);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_source);
    layout->addWidget(m_table, 1);
    layout->addLayout(robot);
    layout->addWidget(m_check);
    layout->addLayout(buttons);

    connect(m_model, &Robot_Profile_Model::edited, this, &Frm_Robot_Profile::showState);
    connect(m_safeSpeed, &QSpinBox::valueChanged, this, &Frm_Robot_Profile::showState);
    connect(m_degrees, &QDoubleSpinBox::valueChanged, this, &Frm_Robot_Profile::showState);

    // Every row shows without scrolling.
    const int rows = m_table->verticalHeader()->defaultSectionSize() * Robot_Profile::ServoCount
                     + header->sizeHint().height() + 2 * m_table->frameWidth();
    m_table->setMinimumHeight(rows);
    resize(std::max(sizeHint().width(), 720), sizeHint().height());
}

void Frm_Robot_Profile::display(const Robot_Profile &profile)
{
    m_model->setProfile(profile);
    const QSignalBlocker speedBlocker(m_safeSpeed);
    const QSignalBlocker degreesBlocker(m_degrees);
    m_safeSpeed->setValue(profile.safeSpeed());
    m_degrees->setValue(profile.degreesPerSecond());
    for (size_t k = 0; k < m_lowBattery.size(); ++k) {
        const QSignalBlocker blocker(m_lowBattery[k]);
        m_lowBattery[k]->setValue(profile.lowBatteryTenths(int(k)) / 10.0);
    }
    showState();
}

void Frm_Robot_Profile::showState()
{
    m_source->setText(m_file.isEmpty() ? QStringLiteral("In use: the built-in profile (it limits the sliders only)")
                                       : QStringLiteral("In use: %1").arg(QDir::toNativeSeparators(m_file)));
    const QString problem = edited().problem();
    m_check->setText(problem.isEmpty() ? QString() : QStringLiteral("Cannot be used: %1.").arg(problem));
    m_check->setVisible(!problem.isEmpty());
}

Robot_Profile Frm_Robot_Profile::edited() const
{
    Robot_Profile profile = m_model->profile();
    profile.setSafeSpeed(m_safeSpeed->value());
    profile.setDegreesPerSecond(m_degrees->value());
    for (size_t k = 0; k < m_lowBattery.size(); ++k)
        profile.setLowBatteryTenths(int(k), int(std::lround(m_lowBattery[k]->value() * 10)));
    return profile;
}

std::optional<Robot_Profile> Frm_Robot_Profile::confirmed(const Robot_Profile &profile)
{
    if (const QString problem = profile.problem(); !problem.isEmpty()) {
        m_dialogs.inform(this, QStringLiteral("The profile cannot be used: %1.").arg(problem), QMessageBox::Warning);
        return std::nullopt;
    }
    QStringList wider;
    for (int i = 0; i < Robot_Profile::ServoCount; ++i)
        if (profile.widens(i))
            wider << QStringLiteral("%1 (servo %2)").arg(profile.servo(i).name).arg(Servos::All[size_t(i)].number);
    if (!wider.isEmpty()) {
        const QPointer<Frm_Robot_Profile> self(this);
        const auto answer = m_dialogs.message(
            this, {QString(),
                   QStringLiteral("The range of %1 is wider than the built-in one: the robot may be sent "
                                  "where its sliders never went. Use it?")
                       .arg(wider.join(QStringLiteral(", "))),
                   QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No});
        if (!self || answer != QMessageBox::Yes)
            return std::nullopt;
    }
    Robot_Profile own = profile;
    own.setLimits(true);
    return own;
}

bool Frm_Robot_Profile::saveTo(const QString &file)
{
    const std::optional<Robot_Profile> profile = confirmed(edited());
    if (!profile)
        return false;
    QString why;
    if (!profile->save(file, &why)) {
        m_dialogs.inform(this, QStringLiteral("The profile cannot be saved to \"%1\": %2.")
                                   .arg(QDir::toNativeSeparators(file), why), QMessageBox::Warning);
        return false;
    }
    m_inUse = *profile;
    m_file = file;
    m_use(m_inUse, m_file);
    display(m_inUse);
    return true;
}

bool Frm_Robot_Profile::Btn_Save_Click()
{
    return m_file.isEmpty() ? Btn_Save_As_Click() : saveTo(m_file);
}

bool Frm_Robot_Profile::Btn_Save_As_Click()
{
    const QPointer<Frm_Robot_Profile> self(this);
    const QString start = m_file.isEmpty()
                              ? QStandardPaths::writableLocation(QStandardPaths::HomeLocation) + QStringLiteral("/robot.json")
                              : m_file;
    const QString file = m_dialogs.saveFileName(this, QStringLiteral("Save the robot profile"), start, Filter);
    if (!self || file.isEmpty())
        return false;
    return saveTo(file);
}

void Frm_Robot_Profile::Btn_Open_Click()
{
    const QPointer<Frm_Robot_Profile> self(this);
    const QString start = m_file.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::HomeLocation)
                                           : QFileInfo(m_file).path();
    const QString file = m_dialogs.openFileName(this, QStringLiteral("Open a robot profile"), start, Filter);
    if (!self || file.isEmpty())
        return;
    QString why;
    const std::optional<Robot_Profile> read = Robot_Profile::load(file, &why);
    // Refused whole: the profile in use and the table stay as they were.
    if (!read) {
        m_dialogs.inform(this, QStringLiteral("The profile \"%1\" cannot be opened: %2.")
                                   .arg(QDir::toNativeSeparators(file), why), QMessageBox::Warning);
        return;
    }
    const std::optional<Robot_Profile> profile = confirmed(*read);
    if (!self || !profile)
        return;
    m_inUse = *profile;
    m_file = file;
    m_use(m_inUse, m_file);
    display(m_inUse);
}

void Frm_Robot_Profile::Btn_Revert_Click()
{
    display(m_inUse);
}

void Frm_Robot_Profile::Btn_Reset_Click()
{
    m_inUse = m_builtIn;
    m_file.clear();
    m_use(m_inUse, m_file);
    display(m_inUse);
}
