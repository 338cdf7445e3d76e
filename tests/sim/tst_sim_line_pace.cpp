#include "sim/LinePace.h"

#include <QTest>

#include <climits>

class TestLinePace : public QObject
{
    Q_OBJECT

private slots:
    void allowsTheBytesTheLineCarries_data();
    void allowsTheBytesTheLineCarries();
    void pausesForATickAndAtLeastAByte_data();
    void pausesForATickAndAtLeastAByte();
};

void TestLinePace::allowsTheBytesTheLineCarries_data()
{
    // At each step the speed is set, the allowance read at that moment and all of it taken.
    QTest::addColumn<QList<int>>("bauds");
    QTest::addColumn<QList<int>>("atMs");
    QTest::addColumn<QList<qint64>>("allowed"); // -1: no bound

    QTest::newRow("57600 baud: a burst, then ten bits a byte")
        << QList<int>{57600, 57600, 57600, 57600} << QList<int>{0, 0, 10, 20} << QList<qint64>{288, 0, 57, 58};
    QTest::newRow("an idle line builds up no more than the burst")
        << QList<int>{57600, 57600} << QList<int>{0, 1000} << QList<qint64>{288, 288};
    QTest::newRow("9600 baud") << QList<int>{9600, 9600, 9600} << QList<int>{0, 25, 50} << QList<qint64>{48, 24, 24};
    QTest::newRow("a new speed counts at the next read")
        << QList<int>{9600, 57600} << QList<int>{0, 10} << QList<qint64>{48, 57};
    QTest::newRow("a line too slow for a byte in a burst still passes one")
        << QList<int>{50, 50, 50, 50} << QList<int>{0, 100, 200, 300} << QList<qint64>{1, 0, 1, 0};
    QTest::newRow("0: no pace") << QList<int>{0, 0} << QList<int>{0, 0} << QList<qint64>{-1, -1};
}

void TestLinePace::allowsTheBytesTheLineCarries()
{
    QFETCH(QList<int>, bauds);
    QFETCH(QList<int>, atMs);
    QFETCH(QList<qint64>, allowed);

    LinePace pace;
    QList<qint64> got;
    for (qsizetype step = 0; step < bauds.size(); ++step) {
        pace.setBaud(bauds[step]);
        const qint64 allowance = pace.allowance(qint64(atMs[step]) * 1'000'000);
        got.append(allowance == LLONG_MAX ? -1 : allowance);
        pace.take(allowance);
    }
    QCOMPARE(got, allowed);
}

void TestLinePace::pausesForATickAndAtLeastAByte_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<qint64>("pauseNs"); // after everything allowed was taken

    QTest::newRow("57600 baud: 57 bytes") << 57600 << qint64(10'000'000);
    QTest::newRow("9600 baud: 9 bytes") << 9600 << qint64(10'000'000);
    QTest::newRow("50 baud: one byte") << 50 << qint64(200'000'000);
    QTest::newRow("no pace") << 0 << qint64(0);
}

void TestLinePace::pausesForATickAndAtLeastAByte()
{
    QFETCH(int, baud);
    QFETCH(qint64, pauseNs);

    LinePace pace;
    pace.setBaud(baud);
    pace.take(pace.allowance(0));
    QCOMPARE(pace.pause(0), pauseNs);
}

QTEST_GUILESS_MAIN(TestLinePace)
#include "tst_sim_line_pace.moc"
