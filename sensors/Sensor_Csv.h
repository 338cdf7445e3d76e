#pragma once

#include "sensors/Sensor_Readings.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <memory>

class QIODevice;

// The readings as CSV: a fixed header, then one row per sample, each column holding its
// latest value (empty until the first reading), times in seconds from the record's start.
// Numbers are written with a dot for decimals whatever the operator's language.
namespace Sensor_Csv {

inline constexpr char Header[] = "time_s,battery1_v,battery2_v,analogue1,analogue2,analogue3,analogue4,"
                                 "whisker1,whisker2,whisker3,whisker4,action\n";

QByteArray row(const Sensor_Sample &sample, qint64 originMs);
// The header and every sample, times from the first; false with the reason when a write failed.
bool write(QIODevice &device, const std::deque<Sensor_Sample> &samples, QString *why);

} // namespace Sensor_Csv

// Writes samples to a file as they arrive. Each row goes straight to the file, so a record
// stopped by a failure (a full disk) keeps every row written before it whole and readable.
class Sensor_Recorder
{
public:
    Sensor_Recorder();
    ~Sensor_Recorder();

    // Starts a record in the file (replacing a regular file, nothing else) with times from
    // originMs; false with the reason.
    bool start(const QString &path, qint64 originMs, QString *why);
    // The same on a device already open for writing (tests give one that fails on cue).
    bool start(std::unique_ptr<QIODevice> device, qint64 originMs, QString *why);
    // Appends the sample's row; on a failure the record stops and why says what happened.
    bool append(const Sensor_Sample &sample, QString *why);
    void stop();

    bool isRecording() const { return m_device != nullptr; }
    QString fileName() const { return m_fileName; }
    qint64 rows() const { return m_rows; }

private:
    bool put(const QByteArray &bytes, QString *why);

    std::unique_ptr<QIODevice> m_device;
    QString m_fileName;
    qint64 m_originMs = 0;
    qint64 m_rows = 0;
};
