#include "sensors/Sensor_Watch.h"

#include <QSettings>

#include <cmath>

namespace {

const QString LowKey = QStringLiteral("Sensors/LowBattery%1");
const QString MarginKey = QStringLiteral("Sensors/LowBatteryMargin");

} // namespace

Battery_Thresholds Battery_Thresholds::load()
{
    const QSettings settings;
    Battery_Thresholds thresholds;
    for (size_t k = 0; k < thresholds.tenths.size(); ++k)
        thresholds.tenths[k] = tenthsFromVolts(settings.value(LowKey.arg(k + 1), 0.0).toDouble()).value_or(0);
    thresholds.marginTenths = tenthsFromVolts(settings.value(MarginKey, DefaultMarginTenths / 10.0).toDouble())
                                  .value_or(DefaultMarginTenths);
    return thresholds;
}

void Battery_Thresholds::save() const
{
    QSettings settings;
    for (size_t k = 0; k < tenths.size(); ++k)
        settings.setValue(LowKey.arg(k + 1), tenths[k] / 10.0);
    settings.setValue(MarginKey, marginTenths / 10.0);
}

std::optional<int> Battery_Thresholds::tenthsFromVolts(double volts)
{
    if (!std::isfinite(volts) || volts < 0 || volts > 25.5)
        return std::nullopt;
    return int(std::lround(volts * 10));
}

QString batteryVolts(int tenths, const QLocale &locale)
{
    return locale.toString(tenths / 10.0, 'f', tenths % 10 == 0 ? 0 : 1);
}

QString Sensor_Event::text(const QLocale &locale) const
{
    if (kind == WhiskerClosed)
        return QStringLiteral("whisker %1 closed").arg(number);
    return QStringLiteral("battery %1 low: %2 V").arg(number).arg(batteryVolts(tenths, locale));
}

void Sensor_Watch::setThresholds(const Battery_Thresholds &thresholds)
{
    m_thresholds = thresholds;
    for (size_t k = 0; k < m_below.size(); ++k) {
        if (thresholds.tenths[k] <= 0)
            m_below[k] = m_warned[k] = false;
    }
}

void Sensor_Watch::reset()
{
    m_whiskers = 0;
}

QList<Sensor_Event> Sensor_Watch::take(const Sys_Project::Reply &reply)
{
    QList<Sensor_Event> events;
    if (reply.kind == Sys_Project::ReplyKind::Whiskers) {
        const quint8 closing = reply.data[0] & ~m_whiskers & 0x0F;
        m_whiskers = reply.data[0] & 0x0F;
        for (int k = 0; k < 4; ++k) {
            if (closing & (1u << k))
                events.append({Sensor_Event::WhiskerClosed, k + 1, 0});
        }
    } else if (reply.kind == Sys_Project::ReplyKind::Batteries) {
        for (size_t k = 0; k < m_below.size(); ++k) {
            const int threshold = m_thresholds.tenths[k];
            const int reading = reply.data[k];
            m_below[k] = threshold > 0 && reading < threshold;
            if (m_below[k] && !m_warned[k]) {
                m_warned[k] = true;
                events.append({Sensor_Event::BatteryLow, int(k) + 1, quint8(reading)});
            } else if (reading > threshold + m_thresholds.marginTenths) {
                m_warned[k] = false;
            }
        }
    }
    return events;
}

bool Pause_Rule::pausesOn(const Sensor_Event &event) const
{
    if (event.kind == Sensor_Event::BatteryLow)
        return onLowBattery;
    return event.number >= 1 && event.number <= 4 && (whiskers & (1u << (event.number - 1)));
}
