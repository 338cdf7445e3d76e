#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The far end of a serial line in a test: a pseudo-terminal in raw mode whose device the
// program opens as its serial port, while the test reads and writes the other side.
class PtyPeer
{
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString device() const { return m_device; }

    // Waits, running the event loop, until count bytes arrived or the timeout passed;
    // returns what arrived.
    QByteArray read(int count, int timeoutMs = 3000);
    // What has arrived by now, without waiting.
    QByteArray readAvailable();
    // One read of at most count bytes, without waiting.
    QByteArray readAtMost(int count);
    bool write(QByteArrayView bytes);
    // Writes what the line takes now and drops the rest, as a sender that ignores the baud
    // rate overruns a serial line; returns how many bytes were taken.
    qsizetype offer(QByteArrayView bytes);
    // Reads until nothing more arrives for quietMs.
    QByteArray drain(int quietMs = 300);
    // The baud rate the line is set to now (by whoever holds the device), 0 when unknown.
    int baudRate() const;
    // The far end goes away, as when the cable is pulled.
    void hangUp();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_device;
};
