#include "settings/Robot_Profile_Model.h"

#include <QBrush>
#include <QColor>

namespace {

constexpr std::array<const char *, Robot_Profile_Model::ColumnCount> Headers{
    "Servo", "Name", "Low", "High", "Home", "Built-in low", "Built-in high", "Built-in home"};

const QColor Wrong(0xf4, 0xb4, 0xb4);
const QColor Wider(0xff, 0xe0, 0x9a);

} // namespace

Robot_Profile_Model::Robot_Profile_Model(QObject *parent)
    : QAbstractTableModel(parent)
    , m_profile(Robot_Profile::builtIn())
{
}

void Robot_Profile_Model::setProfile(const Robot_Profile &profile)
{
    beginResetModel();
    m_profile = profile;
    endResetModel();
}

int Robot_Profile_Model::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Robot_Profile::ServoCount;
}

int Robot_Profile_Model::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant Robot_Profile_Model::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= Robot_Profile::ServoCount)
        return {};
    const int row = index.row();
    const Robot_Profile::Servo &servo = m_profile.servo(row);
    const Servos::Servo &builtIn = Servos::All[size_t(row)];
    const QString problem = Robot_Profile::servoProblem(servo);
    const bool wider = (index.column() == Low && servo.low < builtIn.low)
                       || (index.column() == High && servo.high > builtIn.high);

    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (index.column()) {
        case Number:
            return builtIn.number;
        case Name:
            return servo.name;
        case Low:
            return servo.low;
        case High:
            return servo.high;
        case Home:
            return servo.home;
        case BuiltInLow:
            return builtIn.low;
        case BuiltInHigh:
            return builtIn.high;
        case BuiltInHome:
            return builtIn.home;
        }
        return {};
    case Qt::BackgroundRole:
        if (!problem.isEmpty() && index.column() >= Name && index.column() <= Home)
            return QBrush(Wrong);
        if (wider)
            return QBrush(Wider);
        return {};
    case Qt::ForegroundRole:
        if ((!problem.isEmpty() && index.column() >= Name && index.column() <= Home) || wider)
            return QBrush(Qt::black); // readable on the marks in a dark theme too
        return {};
    case Qt::ToolTipRole:
        if (!problem.isEmpty() && index.column() >= Name && index.column() <= Home)
            return problem;
        if (wider)
            return QStringLiteral("Wider than the built-in range (%1 to %2)").arg(builtIn.low).arg(builtIn.high);
        return {};
    case Qt::TextAlignmentRole:
        return index.column() == Name ? QVariant() : QVariant(Qt::AlignCenter);
    default:
        return {};
    }
}

QVariant Robot_Profile_Model::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromLatin1(Headers[size_t(section)]);
}

Qt::ItemFlags Robot_Profile_Model::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.column() >= Name && index.column() <= Home)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool Robot_Profile_Model::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || !(flags(index) & Qt::ItemIsEditable))
        return false;
    Robot_Profile::Servo servo = m_profile.servo(index.row());
    if (index.column() == Name) {
        servo.name = value.toString().trimmed();
    } else {
        bool ok = false;
        const int position = value.toInt(&ok);
        // Only what could ever be a position is taken; whether it fits the others is marked.
        if (!ok || position < 0 || position > 255)
            return false;
        (index.column() == Low ? servo.low : index.column() == High ? servo.high : servo.home) = position;
    }
    if (servo == m_profile.servo(index.row()))
        return true;
    m_profile.setServo(index.row(), servo);
    emit dataChanged(this->index(index.row(), Name), this->index(index.row(), Home));
    emit edited();
    return true;
}
