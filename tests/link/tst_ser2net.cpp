#include "link/Com.h"
#include "link/Telnet_Com_Port.h"
#include "support/PtyPeer.h"
#include "support/Ser2Net.h"

#include <QTcpSocket>
#include <QTest>

using Telnet = Telnet_Com_Port;

namespace {

// A client of the real server at the byte level: the socket, and the Telnet reading of what
// comes in when the server speaks RFC 2217.
class Client
{
public:
    explicit Client(Ser2Net::Mode mode) : m_telnet(mode == Ser2Net::Mode::Rfc2217) {}

    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        if (!m_socket.waitForConnected(5000))
            return false;
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] { take(); });
        if (m_telnet)
            m_socket.write(m_protocol.start());
        return true;
    }
    void send(QByteArrayView data) { m_socket.write(m_telnet ? Telnet::escape(data) : data.toByteArray()); }
    void sendRaw(const QByteArray &bytes) { m_socket.write(bytes); }
    // Waits until count data bytes came, and returns them.
    QByteArray data(qsizetype count)
    {
        (void)QTest::qWaitFor([&] { return m_data.size() >= count; }, 5000);
        return m_data;
    }
    // Waits for the server's answer to a COM port command.
    std::optional<quint32> reported(Telnet::ComPortCommand command)
    {
        std::optional<quint32> value;
        (void)QTest::qWaitFor([&] {
            for (const Telnet::Command &c : std::as_const(m_commands))
                if (const auto report = Telnet::comPortReport(c); report && report->command == command)
                    value = report->value;
            return value.has_value();
        }, 5000);
        return value;
    }
    const Telnet_Com_Port &protocol() const { return m_protocol; }

private:
    void take()
    {
        const QByteArray bytes = m_socket.readAll();
        if (!m_telnet) {
            m_data += bytes;
            return;
        }
        const Telnet::Received got = m_protocol.receive(bytes);
        m_data += got.data;
        m_commands += got.commands;
        if (!got.answer.isEmpty())
            m_socket.write(got.answer);
    }

    bool m_telnet;
    QTcpSocket m_socket;
    Telnet_Com_Port m_protocol;
    QByteArray m_data;
    QList<Telnet::Command> m_commands;
};

} // namespace

// The Telnet side of the program against ser2net itself, in front of a pseudo-terminal.
class tst_Ser2Net : public QObject
{
    Q_OBJECT

private slots:
    void bytesPassBothWaysUnchanged_data();
    void bytesPassBothWaysUnchanged();
    void settingsReachTheFarEnd_data();
    void settingsReachTheFarEnd();
};

void tst_Ser2Net::bytesPassBothWaysUnchanged_data()
{
    QTest::addColumn<Ser2Net::Mode>("mode");
    QTest::newRow("raw") << Ser2Net::Mode::Raw;
    QTest::newRow("RFC 2217") << Ser2Net::Mode::Rfc2217;
}

void tst_Ser2Net::bytesPassBothWaysUnchanged()
{
    QFETCH(Ser2Net::Mode, mode);
    PtyPeer robot;
    QVERIFY(robot.isValid());
    Ser2Net server(robot.device(), mode);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Client client(mode);
    QVERIFY(client.connectTo(server.port()));

    // Every byte value, 255 among them, twice and side by side; and a frame of 255s.
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    const QByteArray frame = QByteArray::fromHex("6d6562ffff0aff") + all + all;
    client.send(frame);
    QCOMPARE(robot.read(frame.size()).toHex(' '), frame.toHex(' '));

    const QByteArray reply = QByteArray::fromHex("676176 01ffff 6777730d") + all;
    QVERIFY(robot.write(reply));
    QCOMPARE(client.data(reply.size()).toHex(' '), reply.toHex(' '));
    if (mode == Ser2Net::Mode::Rfc2217) {
        QVERIFY(client.protocol().clientWill(Telnet::ComPort));
        QVERIFY(client.protocol().clientWill(Telnet::Binary));
        QVERIFY(client.protocol().serverWill(Telnet::Binary));
    }
}

void tst_Ser2Net::settingsReachTheFarEnd_data()
{
    QTest::addColumn<QString>("settings");
    QTest::newRow("115200,n,8,1") << "115200,n,8,1";
    QTest::newRow("9600,e,7,2") << "9600,e,7,2";
    QTest::newRow("300,o,8,1") << "300,o,8,1";
}

void tst_Ser2Net::settingsReachTheFarEnd()
{
    QFETCH(QString, settings);
    const std::optional<Com::LineSettings> line = Com::LineSettings::parse(settings);
    QVERIFY(line);
    PtyPeer robot;
    QVERIFY(robot.isValid());
    Ser2Net server(robot.device(), Ser2Net::Mode::Rfc2217);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Client client(Ser2Net::Mode::Rfc2217);
    QVERIFY(client.connectTo(server.port()));
    // The server set its own settings on connecting.
    QTRY_COMPARE_WITH_TIMEOUT(robot.baudRate(), 57600, 5000);

    client.sendRaw(Telnet::setLine(line->baudRate, line->dataBits, line->parity, line->stopBits));
    QCOMPARE(client.reported(Telnet::SetBaudRate), std::optional<quint32>(line->baudRate));
    QCOMPARE(client.reported(Telnet::SetDataSize), std::optional<quint32>(line->dataBits));
    QCOMPARE(client.reported(Telnet::SetStopSize), std::optional<quint32>(line->stopBits == QSerialPort::TwoStop ? 2 : 1));
    // The far end's line runs at the program's speed. (Data size and parity are what the server
    // reports: a pseudo-terminal may refuse to keep them.)
    QTRY_COMPARE_WITH_TIMEOUT(robot.baudRate(), line->baudRate, 5000);
}

QTEST_GUILESS_MAIN(tst_Ser2Net)
#include "tst_ser2net.moc"
