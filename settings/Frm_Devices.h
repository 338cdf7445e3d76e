#pragma once

#include <QList>
#include <QSerialPortInfo>
#include <QWidget>

#include <array>

class QComboBox;
class QLabel;
class Dialogs;

// Maps COM1 to COM4 to serial devices. Each port's box lists its default /dev/ttyS(n-1) and the
// serial devices present, with their description, and takes a typed path as well. OK keeps the
// choices, which the port uses the next time it opens; ORVIK_COMn, when set, still wins, and
// the window says so. Choices that cannot be kept between runs (the settings file cannot be
// written) still hold for this run, and the operator is told why.
class Frm_Devices : public QWidget
{
    Q_OBJECT

public:
    static constexpr int PortCount = 4;

    explicit Frm_Devices(Dialogs &dialogs, QWidget *parent = nullptr);

    // The device port n's box names: the chosen item's device, or the path typed.
    QString deviceShown(int port) const;

    // Lists the devices present again, keeping what each box names.
    void Btn_Refresh_Devices_Click();
    void Btn_Ok_Devices_Click();

private:
    void listDevices(int port, const QList<QSerialPortInfo> &present, const QString &shown);

    Dialogs &m_dialogs;
    std::array<QComboBox *, PortCount> m_devices{};
    std::array<QLabel *, PortCount> m_overrides{};
};
