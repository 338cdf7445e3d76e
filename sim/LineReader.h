#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// Reads text lines from a file descriptor (standard input) as they arrive, without ever
// blocking the event loop and without changing the descriptor's flags, which it shares
// with the shell that started the simulator.
class LineReader : public QObject
{
    Q_OBJECT

public:
    explicit LineReader(int fd, QObject *parent = nullptr);

    // Starts watching; false when the descriptor is not open at all.
    bool start();

signals:
    void lineReceived(const QString &line);
    void endOfInput();

private:
    void readSome();

    int m_fd;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_buffer;
};
