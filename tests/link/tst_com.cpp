#include "link/Com.h"
#include "support/PtyPeer.h"

#include <QSignalSpy>
#include <QTest>

class tst_Com : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void startsClosedOnPort1At9600();
    void settingsText_data();
    void settingsText();
    void everyBaudRateAndFramingOpens_data();
    void everyBaudRateAndFramingOpens();
    void everyByteValuePassesUnchangedBothWays();
    void receiveNotificationRepeatsWhileBytesWait();
    void portNumberMapsToDevice();
    void portNumberCannotChangeWhileOpen();
    void farEndHangingUpClosesThePortOnce();

private:
    bool openOn(Com &com, PtyPeer &peer, const QString &settings = QStringLiteral("57600,n,8,1"));
};

void tst_Com::init()
{
    qunsetenv("ORVIK_COM1");
    qunsetenv("ORVIK_COM2");
}

bool tst_Com::openOn(Com &com, PtyPeer &peer, const QString &settings)
{
    qputenv("ORVIK_COM1", peer.device().toLocal8Bit());
    return peer.isValid() && com.setCommPort(1) && com.setSettings(settings) && com.setInputLen(1) &&
           com.setRThreshold(1) && com.setPortOpen(true);
}

void tst_Com::startsClosedOnPort1At9600()
{
    Com com;
    QCOMPARE(com.CommPort(), short(1));
    QCOMPARE(com.Settings(), QStringLiteral("9600,n,8,1"));
    QVERIFY(!com.PortOpen());
    QCOMPARE(com.InBufferCount(), 0);
}

void tst_Com::settingsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("readBack"); // empty: refused

    QTest::newRow("plain") << "9600,n,8,1" << "9600,n,8,1";
    QTest::newRow("with blanks") << "57600, n, 8, 1" << "57600,n,8,1";
    QTest::newRow("blanks everywhere") << " 115200 ,E, 7 , 2 " << "115200,e,7,2";
    QTest::newRow("three fields") << "57600,n,8" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("odd baud rate") << "57601,n,8,1" << "";
    QTest::newRow("unknown parity") << "57600,x,8,1" << "";
    QTest::newRow("nine data bits") << "57600,n,9,1" << "";
    QTest::newRow("three stop bits") << "57600,n,8,3" << "";
    QTest::newRow("blank field") << "57600,,8,1" << "";
}

void tst_Com::settingsText()
{
    QFETCH(QString, text);
    QFETCH(QString, readBack);
    Com com;
    const bool accepted = com.setSettings(text);
    QCOMPARE(accepted, !readBack.isEmpty());
    if (accepted) {
        QCOMPARE(com.Settings(), readBack);
    } else {
        // A refused text leaves the settings in force and says what was wrong.
        QCOMPARE(com.Settings(), QStringLiteral("9600,n,8,1"));
        QVERIFY2(com.errorDescription().contains(QStringLiteral("COM1 (/dev/ttyS0)")), qPrintable(com.errorDescription()));
        QVERIFY2(com.errorDescription().contains(text), qPrintable(com.errorDescription()));
    }
}

void tst_Com::everyBaudRateAndFramingOpens_data()
{
    QTest::addColumn<QString>("settings");
    for (const char *baud : {"600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200"})
        QTest::newRow(baud) << QStringLiteral("%1,n,8,1").arg(QLatin1StringView(baud));
    QTest::newRow("even parity") << "57600,e,8,1";
    QTest::newRow("odd parity") << "57600,o,8,1";
    QTest::newRow("seven data bits") << "57600,n,7,1";
    QTest::newRow("two stop bits") << "57600,n,8,2";
}

void tst_Com::everyBaudRateAndFramingOpens()
{
    QFETCH(QString, settings);
    PtyPeer peer;
    Com com;
    QVERIFY2(openOn(com, peer, settings), qPrintable(com.errorDescription()));
    QCOMPARE(com.Settings(), settings);
    QVERIFY(com.Output("gbv"));
    QCOMPARE(peer.read(3), QByteArray("gbv"));
}

void tst_Com::everyByteValuePassesUnchangedBothWays()
{
    PtyPeer peer;
    Com com;
    QVERIFY2(openOn(com, peer), qPrintable(com.errorDescription()));

    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    QVERIFY(com.Output(all));
    QCOMPARE(peer.read(all.size()), all);

    QByteArray received;
    connect(&com, &Com::OnComm, this, [&] {
        const QByteArray one = com.Input();
        QCOMPARE(one.size(), 1); // InputLen 1: one byte per read
        received += one;
    });
    QVERIFY(peer.write(all));
    QTRY_COMPARE(received.size(), all.size());
    QCOMPARE(received, all);
}

void tst_Com::receiveNotificationRepeatsWhileBytesWait()
{
    PtyPeer peer;
    Com com;
    QVERIFY2(openOn(com, peer), qPrintable(com.errorDescription()));
    int notifications = 0;
    connect(&com, &Com::OnComm, this, [&] {
        ++notifications;
        com.Input();
    });
    // All five bytes arrive together; each one still gets its own notification.
    QVERIFY(peer.write("gav\x01\x02"));
    QTRY_COMPARE(notifications, 5);
    QCOMPARE(com.InBufferCount(), 0);
}

void tst_Com::portNumberMapsToDevice()
{
    QCOMPARE(Com::deviceFor(1), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(Com::deviceFor(4), QStringLiteral("/dev/ttyS3"));
    qputenv("ORVIK_COM2", "/dev/ttyUSB0");
    QCOMPARE(Com::deviceFor(2), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(Com::deviceFor(1), QStringLiteral("/dev/ttyS0"));
}

void tst_Com::portNumberCannotChangeWhileOpen()
{
    PtyPeer peer;
    Com com;
    QVERIFY2(openOn(com, peer), qPrintable(com.errorDescription()));
    QVERIFY(!com.setCommPort(2));
    QCOMPARE(com.CommPort(), short(1));
    QVERIFY(com.PortOpen());
    QVERIFY(com.setPortOpen(false));
    QVERIFY(com.setCommPort(2));
    QVERIFY(!com.setCommPort(0));
    QVERIFY(!com.setCommPort(-3));
    QCOMPARE(com.CommPort(), short(2));
}

void tst_Com::farEndHangingUpClosesThePortOnce()
{
    PtyPeer peer;
    Com com;
    QVERIFY2(openOn(com, peer), qPrintable(com.errorDescription()));
    auto *port = com.findChild<QSerialPort *>();
    QVERIFY(port);
    QSignalSpy errors(port, &QSerialPort::errorOccurred);

    peer.hangUp();
    QTRY_VERIFY(!com.PortOpen());
    QVERIFY2(com.errorDescription().startsWith(QStringLiteral("COM1 (%1): ").arg(peer.device())),
             qPrintable(com.errorDescription()));
    // Left open, the port would report the same error again on every turn of the event loop.
    errors.wait(200);
    QVERIFY2(errors.count() <= 3, qPrintable(QString::number(errors.count())));
    QVERIFY(!com.Output("gbv"));
}

QTEST_GUILESS_MAIN(tst_Com)
#include "tst_com.moc"
