#include "link/Socket_Device.h"

#include <QTest>

using Address = Socket_Device::Address;
using Protocol = Socket_Device::Protocol;

Q_DECLARE_METATYPE(Protocol)

class tst_Socket_Device : public QObject
{
    Q_OBJECT

private slots:
    void deviceNames_data();
    void deviceNames();
};

void tst_Socket_Device::deviceNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("network");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");

    QTest::newRow("raw") << "tcp://127.0.0.1:2000" << true << true << Protocol::Raw << "127.0.0.1" << 2000;
    QTest::newRow("RFC 2217 by name") << "rfc2217://robot-pi.local:3001" << true << true << Protocol::Rfc2217 << "robot-pi.local" << 3001;
    QTest::newRow("scheme in capitals") << "TCP://bench:1" << true << true << Protocol::Raw << "bench" << 1;
    QTest::newRow("IPv6 in brackets") << "rfc2217://[::1]:65535" << true << true << Protocol::Rfc2217 << "::1" << 65535;
    QTest::newRow("no port") << "tcp://bench" << true << false << Protocol::Raw << "" << 0;
    QTest::newRow("port 0") << "tcp://bench:0" << true << false << Protocol::Raw << "" << 0;
    QTest::newRow("port above 65535") << "tcp://bench:65536" << true << false << Protocol::Raw << "" << 0;
    QTest::newRow("port not a number") << "tcp://bench:telnet" << true << false << Protocol::Raw << "" << 0;
    QTest::newRow("no host") << "rfc2217://:2000" << true << false << Protocol::Raw << "" << 0;
    QTest::newRow("a path after the port") << "tcp://bench:2000/ttyS0" << true << false << Protocol::Raw << "" << 0;
    QTest::newRow("IPv6 without brackets") << "tcp://::1:2000" << true << false << Protocol::Raw << "" << 0;
    QTest::newRow("another scheme") << "udp://bench:2000" << false << false << Protocol::Raw << "" << 0;
    QTest::newRow("a serial device") << "/dev/ttyUSB0" << false << false << Protocol::Raw << "" << 0;
}

void tst_Socket_Device::deviceNames()
{
    QFETCH(QString, name);
    QFETCH(bool, network);
    QFETCH(bool, valid);
    QCOMPARE(Socket_Device::isNetworkName(name), network);
    QString why;
    const std::optional<Address> address = Socket_Device::parse(name, &why);
    QCOMPARE(address.has_value(), valid);
    if (!valid) {
        QCOMPARE(why, QStringLiteral("a network device is named tcp://HOST:PORT or rfc2217://HOST:PORT"));
        return;
    }
    QTEST(address->protocol, "protocol");
    QTEST(address->host, "host");
    QTEST(int(address->port), "port");
}

QTEST_GUILESS_MAIN(tst_Socket_Device)
#include "tst_socket_device.moc"
