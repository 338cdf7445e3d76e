#pragma once

#include "link/Line_Settings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// What the line's thread needs of the device at the far end of the line: a serial port today.
// Created, used and deleted on the line's thread only. Reasons are worded for the operator.
class Line_Device : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool open(const Line_Settings &settings, QString *why) = 0;
    // Closes at once; what the device has not sent yet is lost.
    virtual void close() = 0;
    virtual bool applySettings(const Line_Settings &settings, QString *why) = 0;

    // Writes what the device takes now without waiting: the number of bytes taken, 0 when it
    // takes none now (writable() comes when it does), -1 when the line is gone.
    virtual qint64 write(const char *data, qint64 size) = 0;
    // Waits up to msecs, without an event loop, until the device takes more; false when it
    // does not, or the line is gone.
    virtual bool waitWritable(int msecs) = 0;
    virtual void setWritableNotice(bool on) = 0;
    // Bytes the device took that have not left it for the line yet; 0 when unknown.
    virtual qint64 heldBelow() const = 0;

    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray read(qint64 maxSize) = 0;

signals:
    void readable();
    void writable();
    // The line went away while open (cable pulled, far end gone); the device is closed.
    void gone(const QString &reason);
};

// The serial port behind the line: a QSerialPort on the device's path, locked against every
// other program that opens the same device, written through its descriptor without
// QSerialPort's own write buffer.
class Serial_Device : public Line_Device
{
    Q_OBJECT

public:
    explicit Serial_Device(const QString &path, QObject *parent = nullptr);
    ~Serial_Device() override;

    bool open(const Line_Settings &settings, QString *why) override;
    void close() override;
    bool applySettings(const Line_Settings &settings, QString *why) override;
    qint64 write(const char *data, qint64 size) override;
    bool waitWritable(int msecs) override;
    void setWritableNotice(bool on) override;
    qint64 heldBelow() const override;
    qint64 bytesAvailable() const override;
    QByteArray read(qint64 maxSize) override;

private:
    void handleError(QSerialPort::SerialPortError error);
    void apply(const Line_Settings &settings);

    QString m_path;
    QSerialPort *m_port = nullptr;
    class QSocketNotifier *m_writable = nullptr;
};
