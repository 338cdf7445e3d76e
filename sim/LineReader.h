#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// Reads text lines from a file descriptor (standard input) as they arrive, without ever
// blocking the event loop and without changing the descriptor's flags, which it shares
// with the shell that started the simulator. A line longer than MaxLine is not kept: it is
// reported once and skipped up to its end, so that input that never ends a line costs
// neither memory nor time.
class LineReader : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype MaxLine = 4096; // bytes before the end of line

    explicit LineReader(int fd, QObject *parent = nullptr);

    // Starts watching; false when the descriptor is not open at all.
    bool start();

signals:
    void lineReceived(const QString &line);
    void endOfInput();
    // A line longer than MaxLine began; it is skipped up to its end.
    void lineTooLong();

private:
    void readSome();
    void takeLine(qsizetype start, qsizetype end);

    int m_fd;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_buffer;   // the unfinished line
    qsizetype m_scanned = 0; // bytes of it already searched for an end of line
    bool m_skipping = false; // inside a line that was too long
};
