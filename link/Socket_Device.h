#pragma once

#include "link/Line_Device.h"
#include "link/Telnet_Com_Port.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

class QSocketNotifier;
class QTcpSocket;

// Lets another thread give up a connection in progress: the connecting thread waits on it
// beside the socket.
class Connect_Abort
{
public:
    Connect_Abort();
    ~Connect_Abort();
    Connect_Abort(const Connect_Abort &) = delete;
    Connect_Abort &operator=(const Connect_Abort &) = delete;

    void abort();  // any thread
    void reset();  // before the next connection
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// A serial line served over the network (by ser2net on the robot's computer): tcp://HOST:PORT
// carries the line's bytes as they are, with the server's line settings; rfc2217://HOST:PORT
// speaks Telnet with the COM port option, and the program's settings set the remote line.
//
// Written through the socket's descriptor, as the serial port is: the socket keeps a small send
// buffer, and once what it still holds (SIOCOUTQ) comes to half a second of line time it takes
// no more, so a server that stops reading backs the writes up as a robot that stops reading
// does. Lives on the line's thread, as every Line_Device.
class Socket_Device : public Line_Device
{
    Q_OBJECT

public:
    enum class Protocol { Raw, Rfc2217 };
    struct Address
    {
        Protocol protocol = Protocol::Raw;
        QString host;
        quint16 port = 0;
        QString hostAndPort() const; // "HOST:PORT", as the operator is told
    };
    // A device name that starts with tcp:// or rfc2217://.
    static bool isNetworkName(const QString &name);
    // HOST is a name, an IPv4 address or an IPv6 address in brackets; PORT is 1 to 65535.
    static std::optional<Address> parse(const QString &name, QString *why);

    // How long connecting may take before the program gives up.
    static constexpr int ConnectTimeoutMs = 5000;
    // The socket's send buffer: the kernel doubles it and keeps a floor of its own.
    static constexpr int SendBufferSize = 2048;
    // What is taken from the socket and unescaped, waiting for read().
    static constexpr qint64 ReadBufferLimit = 4096;

    explicit Socket_Device(const Address &address, const Connect_Abort *abort = nullptr, QObject *parent = nullptr);
    ~Socket_Device() override;

    // Connects, waiting up to ConnectTimeoutMs (or until aborted) without an event loop.
    bool open(const Line_Settings &settings, QString *why) override;
    void close() override;
    // Over RFC 2217, sends the settings to the server; a raw connection keeps the server's.
    bool applySettings(const Line_Settings &settings, QString *why) override;

    // Takes data bytes without waiting: how many, 0 when the socket takes none now, -1 when
    // the connection is gone.
    qint64 write(const char *data, qint64 size) override;
    bool waitWritable(int msecs) override;
    void setWritableNotice(bool on) override;
    // Bytes taken that have not reached the server yet: the socket's queue (SIOCOUTQ) and
    // what waits here for it.
    qint64 heldBelow() const override;
    // Received bytes waiting, an upper bound: Telnet commands among them are not data.
    qint64 bytesAvailable() const override;
    QByteArray read(qint64 maxSize) override;

private:
    // What the socket may hold before it takes no more: half a second of line time.
    qint64 holdLimit() const;
    bool connectSocket(QString *why);
    // Sends what waits of Telnet's own bytes; false when the connection is gone. Inside a call
    // from the line (write, waitWritable) a failure only closes: the line reports it.
    enum class Failure { Raise, Quiet };
    bool flushControl(Failure failure = Failure::Raise);
    // Takes and unescapes what the socket holds, up to ReadBufferLimit; true when data came.
    bool takeReceived();
    void lose(const QString &reason);
    bool hasRoom() const;
    // Watches for room while the line wants it or Telnet's own bytes wait.
    void updateNotice();
    void onWritable();
    int fd() const;

    Address m_address;
    const Connect_Abort *m_abort;
    QTcpSocket *m_socket = nullptr;
    QSocketNotifier *m_writable = nullptr;
    class QTimer *m_recheck = nullptr;
    Telnet_Com_Port m_telnet;
    QByteArray m_control; // Telnet's own bytes (answers, settings), sent before more data
    QByteArray m_data;    // received data bytes, unescaped, not read yet
    bool m_wantWritable = false;
    qint32 m_baudRate = 9600;
};
