#include "link/Com.h"
#include "support/PtyPeer.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// An eleven-byte frame, the longest the robot takes.
const QByteArray Frame = QByteArray("mrn") + QByteArray::fromHex("6000006c00000000");

// Offers frames to a robot that does not read until one is refused and the line takes no
// more (the kernel moves bytes between the terminal's two ends a little later); returns how
// many were taken.
int fillUntilRefused(Com &com)
{
    int taken = 0;
    for (;;) {
        while (com.Output(Frame))
            ++taken;
        const qint64 waiting = com.OutBufferCount();
        com.writeOut(100);
        if (com.OutBufferCount() == waiting)
            return taken;
    }
}

bool openOn(Com &com, PtyPeer &peer, const QString &settings = QStringLiteral("57600,n,8,1"))
{
    qputenv("ORVIK_COM1", peer.device().toLocal8Bit());
    return peer.isValid() && com.setCommPort(1) && com.setSettings(settings) && com.setInputLen(1) &&
           com.setRThreshold(1) && com.setPortOpen(true);
}

} // namespace

class tst_Com : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qunsetenv("ORVIK_COM1");
        qunsetenv("ORVIK_COM2");
    }

    void settingsText_data()
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

    void settingsText()
    {
        QFETCH(QString, text);
        QFETCH(QString, readBack);
        Com com;
        QVERIFY(!com.PortOpen());
        const bool accepted = com.setSettings(text);
        QCOMPARE(accepted, !readBack.isEmpty());
        if (accepted) {
            QCOMPARE(com.Settings(), readBack);
        } else {
            // A refused text leaves the settings in force (9600 baud on COM1 at first) and says what was wrong.
            QCOMPARE(com.Settings(), QStringLiteral("9600,n,8,1"));
            QVERIFY2(com.errorDescription().contains(QStringLiteral("COM1 (/dev/ttyS0)")), qPrintable(com.errorDescription()));
            QVERIFY2(com.errorDescription().contains(text), qPrintable(com.errorDescription()));
        }
    }

    void everyBaudRateAndFramingOpens_data()
    {
        QTest::addColumn<QString>("settings");
        for (const char *baud : {"600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200"})
            QTest::newRow(baud) << QStringLiteral("%1,n,8,1").arg(QLatin1StringView(baud));
        QTest::newRow("even parity") << "57600,e,8,1";
        QTest::newRow("odd parity") << "57600,o,8,1";
        QTest::newRow("seven data bits") << "57600,n,7,1";
        QTest::newRow("two stop bits") << "57600,n,8,2";
    }

    void everyBaudRateAndFramingOpens()
    {
        QFETCH(QString, settings);
        PtyPeer peer;
        Com com;
        QVERIFY2(openOn(com, peer, settings), qPrintable(com.errorDescription()));
        QCOMPARE(com.Settings(), settings);
        QVERIFY(com.Output("gbv"));
        QCOMPARE(peer.read(3), QByteArray("gbv"));
    }

    void everyByteValuePassesUnchangedBothWays()
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
        // All arrive together; each byte still gets its own notification.
        QVERIFY(peer.write(all));
        QTRY_COMPARE(received.size(), all.size());
        QCOMPARE(received, all);
        QCOMPARE(com.InBufferCount(), 0);
    }

    void portNumberMapsToDevice()
    {
        QCOMPARE(Com::deviceFor(1), QStringLiteral("/dev/ttyS0"));
        QCOMPARE(Com::deviceFor(4), QStringLiteral("/dev/ttyS3"));
        qputenv("ORVIK_COM2", "/dev/ttyUSB0");
        QCOMPARE(Com::deviceFor(2), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(Com::deviceFor(1), QStringLiteral("/dev/ttyS0"));
    }

    void portNumberCannotChangeWhileOpen()
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

    void farEndHangingUpClosesThePortOnce()
    {
        PtyPeer peer;
        Com com;
        QVERIFY2(openOn(com, peer), qPrintable(com.errorDescription()));
        peer.hangUp();
        QTRY_VERIFY(!com.PortOpen());
        QVERIFY2(com.errorDescription().startsWith(QStringLiteral("COM1 (%1): ").arg(peer.device())),
                 qPrintable(com.errorDescription()));
        // Left open, the port would report the same error again on every turn of the line's event
        // loop and spin a core.
        const auto cpuMs = [] {
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
                   (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
        };
        const long cpuBefore = cpuMs();
        QTest::qWait(500);
        QVERIFY2(cpuMs() - cpuBefore < 250, qPrintable(QString::number(cpuMs() - cpuBefore)));
        QVERIFY(!com.Output("gbv"));
    }

    void queuedFramesAreWrittenOrCounted_data()
    {
        QTest::addColumn<bool>("hangUp"); // else the port is closed while the robot does not read
        QTest::addColumn<QString>("reason");
        QTest::newRow("closed") << false << "the robot was not reading";
        QTest::newRow("hung up") << true << "the robot's line was closed";
    }

    void queuedFramesAreWrittenOrCounted()
    {
        QFETCH(bool, hangUp);
        QFETCH(QString, reason);
        PtyPeer peer;
        Com com;
        QVERIFY2(openOn(com, peer), qPrintable(com.errorDescription()));
        int written = 0;
        connect(&com, &Com::written, this, [&](const QByteArray &frame) {
            QCOMPARE(frame, Frame);
            ++written;
        });
        QSignalSpy notSent(&com, &Com::notSent);

        const int taken = fillUntilRefused(com);
        QVERIFY(com.OutputStalled());
        // A frame counts as sent once it left the program, not when it was taken.
        QCOMPARE(written + com.queuedFrames(), taken);
        QVERIFY(com.queuedFrames() > 0);
        QVERIFY(com.OutBufferCount() > (com.queuedFrames() - 1) * Frame.size());
        QVERIFY(com.OutBufferCount() <= com.queuedFrames() * Frame.size());

        if (hangUp) {
            const int queued = com.queuedFrames();
            peer.hangUp();
            QTRY_VERIFY(!com.PortOpen());
            QVERIFY2(com.errorDescription().endsWith(reason), qPrintable(com.errorDescription()));
            QCOMPARE(notSent.count(), 1);
            QCOMPARE(notSent.at(0).at(0).toInt(), queued);
        } else {
            QVERIFY(com.setPortOpen(false));
            QCOMPARE(notSent.count(), 1);
            // What the robot gets later is what was written, and at most the start of the frame the
            // line stopped in; that one and the rest were counted.
            const QByteArray arrived = peer.drain();
            QCOMPARE(arrived.size() / Frame.size(), written);
            QCOMPARE(arrived, Frame.repeated(written) + Frame.left(arrived.size() % Frame.size()));
            QCOMPARE(notSent.at(0).at(0).toInt(), taken - written);
        }
        QCOMPARE(notSent.at(0).at(1).toString(), reason);
        QCOMPARE(com.queuedFrames(), 0);
        QVERIFY(!com.OutputStalled());
    }

    void discardingKeepsFramesWhole_data()
    {
        QTest::addColumn<bool>("atOnce");
        QTest::newRow("finishing the started frame first") << false;
        QTest::newRow("at once, the started frame left queued") << true;
    }

    void discardingKeepsFramesWhole()
    {
        QFETCH(bool, atOnce);
        PtyPeer peer;
        Com com;
        QVERIFY2(openOn(com, peer), qPrintable(com.errorDescription()));
        int written = 0;
        connect(&com, &Com::written, this, [&] { ++written; });
        const int taken = fillUntilRefused(com);
        // The robot reads a little, so the line takes part of a frame; then the queue is dropped.
        const QByteArray first = peer.read(5, 200);
        com.writeOut(0);
        const int dropped = atOnce ? com.discardWaiting() : com.discardQueued();
        QCOMPARE(com.queuedFrames(), atOnce ? com.queuedFrames() : 0);
        QVERIFY(com.queuedFrames() <= 1);
        const QByteArray arrived = first + peer.drain();
        QCOMPARE(com.queuedFrames(), 0);
        QCOMPARE(written + dropped, taken);
        QCOMPARE(arrived, Frame.repeated(arrived.size() / Frame.size()));
        QCOMPARE(arrived.size() / Frame.size(), written);
        // The port stays usable.
        QVERIFY(com.Output("gbv"));
        QCOMPARE(peer.read(3), QByteArray("gbv"));
    }

    void deviceNamesLeadToPaths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path"); // "CWD/" stands for the current folder

        QTest::newRow("bare name under /dev") << "ttyUSB0" << "/dev/ttyUSB0";
        QTest::newRow("absolute") << "/dev/ttyACM0" << "/dev/ttyACM0";
        QTest::newRow("from the current folder") << "./robot" << "CWD/robot";
        QTest::newRow("with a folder") << "links/robot" << "CWD/links/robot";
        QTest::newRow("bare name that exists here") << "myrobot" << "CWD/myrobot";
        QTest::newRow("network device") << "tcp://bench:2000" << "tcp://bench:2000";
    }

    void deviceNamesLeadToPaths()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QTemporaryDir dir;
        const QString before = QDir::currentPath();
        QDir::setCurrent(dir.path());
        QFile(QStringLiteral("myrobot")).open(QIODevice::WriteOnly);
        const QString resolved = Com::devicePath(name);
        QDir::setCurrent(before);
        QCOMPARE(resolved, QString(path).replace(QStringLiteral("CWD/"), QDir(dir.path()).canonicalPath() + u'/'));
    }

    void whatIsNotASerialDeviceIsRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("regular file") << "file" << "a regular file is not a serial device";
        QTest::newRow("directory") << "dir" << "a directory is not a serial device";
        QTest::newRow("named pipe") << "fifo" << "a named pipe is not a serial device";
        QTest::newRow("character device that is no terminal") << "null" << "it is not a serial device";
    }

    void whatIsNotASerialDeviceIsRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString device = dir.filePath(QStringLiteral("robot"));
        if (kind == u"file")
            QVERIFY(QFile(device).open(QIODevice::WriteOnly));
        else if (kind == u"dir")
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("robot")));
        else if (kind == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(device).constData(), 0600), 0);
        else
            device = QStringLiteral("/dev/null");
        qputenv("ORVIK_COM1", device.toLocal8Bit());
        Com com;
        QVERIFY(!com.setPortOpen(true));
        QCOMPARE(com.errorDescription(), QStringLiteral("COM1 (%1): %2").arg(device, reason));
    }

    void secondOpenOfTheSameDeviceIsRefused()
    {
        // The simulator's link and the terminal it points to are one robot; root passes TIOCEXCL,
        // so the lock must hold for root too.
        PtyPeer peer;
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("robot"));
        QVERIFY(QFile::link(peer.device(), link));
        Com first;
        QVERIFY2(openOn(first, peer), qPrintable(first.errorDescription()));
        qputenv("ORVIK_COM2", link.toLocal8Bit());
        Com second;
        QVERIFY(second.setCommPort(2));
        QVERIFY(!second.setPortOpen(true));
        QCOMPARE(second.errorDescription(), QStringLiteral("COM2 (%1): the device is in use by another program").arg(link));
        // Once the first lets go, the robot is free.
        QVERIFY(first.setPortOpen(false));
        QVERIFY2(second.setPortOpen(true), qPrintable(second.errorDescription()));
    }

    // A script's steps write from the line's thread while the operator sends from the window's:
    // every frame reaches the robot whole, each thread's in its order.
    void framesFromTheLineAndTheWindowStayWhole()
    {
        PtyPeer peer;
        Com com;
        QVERIFY(openOn(com, peer));
        constexpr int Each = 300;
        const auto frame = [](char who, int k) { return QByteArray("mss").append(who).append(char(k >> 8)).append(char(k)); };

        QObject line;
        com.adopt(&line);
        int lineTaken = 0;
        QMetaObject::invokeMethod(&line, [&] {
            for (int k = 0; k < Each; ++k)
                lineTaken += com.Output(frame('L', k)) ? 1 : 0;
        });
        int windowTaken = 0;
        for (int k = 0; k < Each; ++k)
            windowTaken += com.Output(frame('W', k)) ? 1 : 0;
        // A script's object is the line's until it goes; this one goes with the test.
        QMetaObject::invokeMethod(&line, [&] { line.moveToThread(QCoreApplication::instance()->thread()); },
                                  Qt::BlockingQueuedConnection);
        QCOMPARE(windowTaken, Each);
        QCOMPARE(lineTaken, Each);
        QVERIFY(com.writeOut(5000));

        const QByteArray received = peer.read(2 * Each * 6);
        QCOMPARE(received.size(), 2 * Each * 6);
        int next[2] = {0, 0};
        for (qsizetype at = 0; at < received.size(); at += 6) {
            const QByteArray got = received.mid(at, 6);
            const int who = got[3] == 'L' ? 0 : 1;
            QCOMPARE(got, frame(who == 0 ? 'L' : 'W', next[who]++));
        }
    }
};

QTEST_GUILESS_MAIN(tst_Com)
#include "tst_com.moc"
