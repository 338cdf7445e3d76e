#pragma once

#include "link/Robot_Profile.h"

#include <QAbstractTableModel>

// The profile being edited, one row per servo in the robot's order: its number, name, low,
// high and home, then the built-in low, high and home beside them. Any position from 0 to 255
// may be typed; a row whose values do not hold together (low <= home <= high) is marked with
// why, and a range wider than the built-in one is marked too.
class Robot_Profile_Model : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Number, Name, Low, High, Home, BuiltInLow, BuiltInHigh, BuiltInHome, ColumnCount };

    explicit Robot_Profile_Model(QObject *parent = nullptr);

    const Robot_Profile &profile() const { return m_profile; }
    void setProfile(const Robot_Profile &profile);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

signals:
    void edited();

private:
    Robot_Profile m_profile;
};
