#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <optional>
#include <random>

// Faults put on the line on purpose, to see how the panel copes with a bad cable, a noisy
// adapter or a controller that hangs:
//
//   drop=P          each byte the robot sends is lost with probability P (0 to 1, or 1%)
//   duplicate=P     each byte is sent twice with probability P
//   corrupt=P       each byte is sent with other bits with probability P
//   garbage=EVERY   a burst of 1 to 16 random bytes between two replies, every EVERY
//   stop-reading=EVERY:FOR   stop reading the panel's frames for FOR, every EVERY
//   hangup=EVERY:FOR         hang the line up for FOR, every EVERY; it comes back on the
//                            same link, a new device behind it
//
// Times are a number with ms, s or min (2s, 200ms); a bare number is seconds; 0 (or 0s,
// 0ms) turns a timed fault off, as a share of 0 does a byte fault. The robot counts whole
// milliseconds: a time is rounded to one, and a time above zero but below one is refused
// rather than taken as 0. Periodic faults first strike EVERY after they were set, and EVERY
// after each recovery.
//
// --seed repeats a run: each kind of random choice (what happens to each byte sent, the bits
// a corrupted byte gets, the garbage bursts) draws from a generator of its own, seeded from
// the seed and the kind, so the n-th choice of each kind is the same in every run with the
// same seed however the timed faults fall between the replies.
//
// Each reply the robot sends is counted, and so is each reply a fault may have cost the panel:
// a byte fault costs at most the reply it lands in and the next one (whose head a shortened
// reply takes as its data); a garbage burst at most the reply after it; a hang-up the replies
// the panel had not read, the last one it had read (it may still wait in the panel), and the
// first one after the line is back. This holds while no reading's bytes spell a reply
// mnemonic, as with the default readings.
class LineFaults : public QObject
{
    Q_OBJECT

public:
    struct Periodic
    {
        int every = 0;  // ms; 0: never
        int length = 0; // ms
    };

    struct Settings
    {
        double drop = 0;
        double duplicate = 0;
        double corrupt = 0;
        int garbageEvery = 0; // ms; 0: never
        Periodic stopReading;
        Periodic hangup;
    };

    struct Counts
    {
        qint64 replies = 0;
        qint64 repliesHit = 0;
        qint64 dropped = 0;
        qint64 duplicated = 0;
        qint64 corrupted = 0;
        qint64 garbageBursts = 0;
        qint64 garbageBytes = 0;
        qint64 stops = 0;
        qint64 hangups = 0;
    };

    static constexpr int MaxGarbage = 16;

    // Reads one fault (drop=0.01, hangup=10s:2s) into settings; returns what was wrong, or "".
    static QString parse(const QString &text, Settings &settings);
    // "12s", "250ms", "1.5s" in whole milliseconds, or none when the text is not a time the
    // robot can count; tooShort, when given, says whether it was above zero but below 1 ms.
    static std::optional<int> milliseconds(const QString &text, bool *tooShort = nullptr);
    // What a line command or an option says of such a time.
    static QString tooShortMessage(const QString &text);

    explicit LineFaults(quint32 seed, QObject *parent = nullptr);

    // Replaces the settings; periodic faults start counting from now. A fault under way ends
    // when its time is up.
    void setSettings(const Settings &settings);
    const Settings &settings() const { return m_settings; }

    // The bytes to send for one reply frame, with the byte faults applied.
    QByteArray reply(const QByteArray &frame);
    // The line hung up with `unread` bytes the panel had not read: count what that cost.
    void lineHungUp(qint64 unread);
    // The garbage timer's work: one burst on the line now.
    void sendGarbage();

    // Stops reading, or hangs up, now for `length` ms; one under way ends `length` ms from now
    // instead (0: at once).
    void stopReadingFor(int length);
    void hangUpFor(int length);

    const Counts &counts() const { return m_counts; }
    quint32 seed() const { return m_seed; }
    bool reading() const { return !m_stopped; }
    bool lineUp() const { return !m_hungUp; }

    // "replies=… hit=… dropped=… …": the counts as the line command reports them.
    QString summary() const;

signals:
    void garbage(const QByteArray &bytes);
    void readingChanged(bool reading);
    void lineChanged(bool up);
    // One fault applied, for the log: drop, duplicate, corrupt, garbage, stop-reading,
    // reading, hangup, back; bytes are what went on the line where that says something.
    void injected(const QString &what, const QByteArray &bytes);

private:
    struct Sent
    {
        qint64 end = 0; // offset just past its last byte in everything sent
        bool hit = false;
    };

    void hit(Sent &sent);
    void startStop(int length);
    void startHangup(int length);

    Settings m_settings;
    quint32 m_seed;
    std::mt19937 m_byteRandom;    // what happens to each byte sent
    std::mt19937 m_corruptRandom; // the bits a corrupted byte gets
    std::mt19937 m_garbageRandom; // the length and bytes of each burst
    Counts m_counts;
    std::deque<Sent> m_recent; // the latest replies, enough to cover what a line can hold
    qint64 m_offset = 0;
    bool m_hitNext = false;
    bool m_stopped = false;
    bool m_hungUp = false;
    QTimer m_garbageTimer;
    QTimer m_stopTimer;   // next stop, or the end of the one under way
    QTimer m_hangupTimer; // next hang-up, or the end of the one under way
};
