#pragma once

#include <QSerialPort>
#include <QString>

#include <optional>

// Line settings as the settings text spells them: "57600,n,8,1".
struct Line_Settings
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // Fields may carry blanks around them; parity is one of n, e, o, m, s in either case.
    static std::optional<Line_Settings> parse(const QString &text, QString *why = nullptr);
    QString text() const;
};
