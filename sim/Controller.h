#pragma once

#include "sim/FrameReader.h"
#include "sim/ServoBank.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>

// What the robot's controller board knows and does: it answers the two queries with its
// battery and analogue readings, reports its whiskers whenever they change, and drives the
// servos towards the positions that move frames send it. Moves are never answered.
class Controller : public QObject
{
    Q_OBJECT

public:
    static constexpr int BatteryCount = 2;
    static constexpr int AnalogueCount = 4;
    static constexpr int WhiskerCount = 4;
    static constexpr int MotionInterval = 20; // ms between two steps of the servos

    explicit Controller(QObject *parent = nullptr);

    // One frame as FrameReader cut it; bad runs are ignored.
    void handle(const FrameReader::Event &frame);

    // k is 1-based throughout, as the panel numbers them.
    quint8 battery(int k) const { return m_batteries[size_t(k - 1)]; }
    void setBattery(int k, quint8 tenths);
    quint16 analogue(int channel) const { return m_analogues[size_t(channel - 1)]; }
    void setAnalogue(int channel, quint16 reading);
    quint8 whiskers() const { return m_whiskers; } // bit k - 1: whisker k closed
    bool whisker(int k) const { return m_whiskers & (1u << (k - 1)); }
    void setWhiskers(quint8 bits);
    void setWhisker(int k, bool closed);

    const ServoBank &servos() const { return m_servos; }

signals:
    // A reply frame for the panel, whole.
    void reply(const QByteArray &frame);
    void sensorsChanged();
    void servosMoved();
    // A frame the controller did not act on, with the reason (an unknown servo number).
    void ignored(const FrameReader::Event &frame, const QString &why);

private:
    void move(const FrameReader::Event &frame);
    void step();

    std::array<quint8, BatteryCount> m_batteries{72, 73};
    std::array<quint16, AnalogueCount> m_analogues{100, 200, 300, 400};
    quint8 m_whiskers = 0;
    int m_nextChannel = 0; // 0-based: which channel the next "gav" reports
    ServoBank m_servos;
    QTimer m_motion;
    QElapsedTimer m_sinceStep;
};
