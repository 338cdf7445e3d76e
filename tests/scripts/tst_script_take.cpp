#include "scripts/Script_File.h"
#include "scripts/Script_Take.h"

#include <QTest>

namespace {

QString words(const QList<Script_Action> &list)
{
    return Format_Action_Lines(list).trimmed().replace(u'\n', u' ');
}

} // namespace

class tst_Script_Take : public QObject
{
    Q_OBJECT

private slots:
    void actionsFromFrames_data();
    void actionsFromFrames();
};

void tst_Script_Take::actionsFromFrames_data()
{
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QList<qint64>>("atUs"); // when each frame was sent, in microseconds
    QTest::addColumn<qint32>("room");
    QTest::addColumn<QString>("taken");
    QTest::addColumn<bool>("full");

    const QByteArray a("mrn\x5a\x00\x5a\x00", 7);
    const QByteArray b("mrn\x64\x0a\x32\x05", 7);
    const QByteArray single("mss\x08\x14\x00", 6);
    const QString aw = QStringLiteral("mrn;90;0;90;0");
    const QString bw = QStringLiteral("mrn;100;10;50;5");

    QTest::newRow("first frame at once") << QList<QByteArray>{a} << QList<qint64>{5000000} << 10 << aw << false;
    QTest::newRow("gap less the move's step") << QList<QByteArray>{a, b} << QList<qint64>{0, 520000} << 10
                                              << aw + " wait;500 " + bw << false;
    QTest::newRow("rounded to the millisecond") << QList<QByteArray>{a, b, a} << QList<qint64>{0, 520499, 1040500}
                                                << 10 << aw + " wait;500 " + bw + " wait;501 " + aw << false;
    QTest::newRow("gap of 20 ms: no wait") << QList<QByteArray>{a, b} << QList<qint64>{0, 20000} << 10
                                           << aw + " " + bw << false;
    QTest::newRow("gap of 21 ms") << QList<QByteArray>{a, b} << QList<qint64>{0, 21000} << 10
                                  << aw + " wait;1 " + bw << false;
    // Frames closer than the step are played a step apart; the wait after them catches up.
    QTest::newRow("a burst catches up") << QList<QByteArray>{a, b, a, b} << QList<qint64>{0, 5000, 10000, 100000} << 10
                                        << aw + " " + bw + " " + aw + " wait;40 " + bw << false;
    QTest::newRow("gap over 65535 ms") << QList<QByteArray>{a, b} << QList<qint64>{0, 200000000} << 10
                                       << aw + " wait;65535 wait;65535 wait;65535 wait;3375 " + bw << false;
    QTest::newRow("gap of exactly 65555 ms") << QList<QByteArray>{a, b} << QList<qint64>{0, 65555000} << 10
                                             << aw + " wait;65535 " + bw << false;
    QTest::newRow("queries are left out") << QList<QByteArray>{"gbv", a, "gav", single}
                                          << QList<qint64>{0, 1000, 2000, 31000} << 10
                                          << aw + " wait;10 mss;8;20;0" << false;
    QTest::newRow("a frame cut short is left out") << QList<QByteArray>{a.left(5), a} << QList<qint64>{0, 1000} << 10
                                                   << aw << false;
    // The move and its wait go in together or not at all.
    QTest::newRow("full: the wait does not fit") << QList<QByteArray>{a, b, a} << QList<qint64>{0, 20000, 500000} << 3
                                                 << aw + " " + bw << true;
    QTest::newRow("full at the last place") << QList<QByteArray>{a, b, a} << QList<qint64>{0, 20000, 40000} << 2
                                            << aw + " " + bw << true;
    QTest::newRow("no room at all") << QList<QByteArray>{a} << QList<qint64>{0} << 0 << "" << true;
}

void tst_Script_Take::actionsFromFrames()
{
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QList<qint64>, atUs);
    QFETCH(qint32, room);
    QFETCH(QString, taken);
    QFETCH(bool, full);

    Script_Take take(room);
    bool stopped = false;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const bool added = take.add(frames[i], atUs[i] * 1000);
        QVERIFY(!stopped || !added); // nothing is taken once the take is full
        stopped = stopped || !added;
    }
    QCOMPARE(words(take.actions()), taken);
    QCOMPARE(take.isFull(), full);
    QCOMPARE(stopped, full);
    QVERIFY(take.actions().size() <= room);
}

QTEST_GUILESS_MAIN(tst_Script_Take)
#include "tst_script_take.moc"
