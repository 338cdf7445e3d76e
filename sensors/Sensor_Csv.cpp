#include "sensors/Sensor_Csv.h"

#include "ui/Save_Target.h"

#include <QFile>
#include <QIODevice>

namespace Sensor_Csv {

QByteArray row(const Sensor_Sample &sample, qint64 originMs)
{
    // QByteArray::number ignores the locale: the decimal separator is always a dot.
    QByteArray text = QByteArray::number(double(sample.ms - originMs) / 1000.0, 'f', 3);
    for (const std::optional<quint8> &tenths : sample.batteries) {
        text += ',';
        if (tenths)
            text += QByteArray::number(*tenths / 10.0, 'f', 1);
    }
    for (const std::optional<quint16> &reading : sample.analogues) {
        text += ',';
        if (reading)
            text += QByteArray::number(*reading);
    }
    for (int k = 0; k < 4; ++k) {
        text += ',';
        if (const std::optional<bool> closed = sample.whisker(k))
            text += *closed ? '1' : '0';
    }
    text += ',';
    if (sample.action > 0)
        text += QByteArray::number(sample.action);
    text += '\n';
    return text;
}

bool write(QIODevice &device, const std::deque<Sensor_Sample> &samples, QString *why)
{
    QByteArray text(Header);
    const qint64 origin = samples.empty() ? 0 : samples.front().ms;
    for (const Sensor_Sample &sample : samples)
        text += row(sample, origin);
    if (device.write(text) == text.size())
        return true;
    if (why)
        *why = device.errorString();
    return false;
}

} // namespace Sensor_Csv

Sensor_Recorder::Sensor_Recorder() = default;
Sensor_Recorder::~Sensor_Recorder() = default;

bool Sensor_Recorder::start(const QString &path, qint64 originMs, QString *why)
{
    if (const QString refusal = Save_Target::refusal(path); !refusal.isEmpty()) {
        if (why)
            *why = refusal;
        return false;
    }
    // Unbuffered: a row is on the disk as soon as it is written, not when a buffer fills.
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        if (why)
            *why = file->errorString();
        return false;
    }
    if (!start(std::move(file), originMs, why))
        return false;
    m_fileName = path;
    return true;
}

bool Sensor_Recorder::start(std::unique_ptr<QIODevice> device, qint64 originMs, QString *why)
{
    stop();
    m_device = std::move(device);
    m_originMs = originMs;
    m_rows = 0;
    return put(QByteArray(Sensor_Csv::Header), why);
}

bool Sensor_Recorder::append(const Sensor_Sample &sample, QString *why)
{
    if (!m_device)
        return false;
    if (!put(Sensor_Csv::row(sample, m_originMs), why))
        return false;
    ++m_rows;
    return true;
}

bool Sensor_Recorder::put(const QByteArray &bytes, QString *why)
{
    if (m_device->write(bytes) == bytes.size())
        return true;
    if (why) {
        *why = m_device->errorString();
        if (why->isEmpty() || *why == u"Unknown error")
            *why = QStringLiteral("not all of it could be written");
    }
    stop();
    return false;
}

void Sensor_Recorder::stop()
{
    m_device.reset();
}
