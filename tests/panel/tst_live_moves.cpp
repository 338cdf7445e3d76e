#include "panel/Frm_Main.h"
#include "panel/Send_Throttle.h"
#include "support/PtyPeer.h"
#include "support/ScriptedDialogs.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

namespace {

constexpr int Neck = 2; // body part, as the throttle counts them
const QByteArray Eyebrows = QByteArray::fromHex("6d65622d002d00");

QByteArray neckFrame(int yaw)
{
    return QByteArray("mrn") + char(90) + char(0) + char(yaw) + char(0);
}

// The main window on a pseudo-terminal, with the live moves' clock in the test's hands.
struct Rig
{
    PtyPeer peer;
    Frm_Main w;
    ScriptedDialogs *dialogs = nullptr;
    Send_Throttle *throttle = nullptr;
    qint64 now = 1000;

    Rig()
    {
        qputenv("ORVIK_COM1", peer.device().toLocal8Bit());
        dialogs = ScriptedDialogs::install(w);
        throttle = w.findChild<Send_Throttle *>();
        throttle->setClock([this] { return now; });
    }
    QAction *live() { return w.findChild<QAction *>(QStringLiteral("mnu_live_moves")); }
    QSlider *yaw() { return w.findChild<QSlider *>(QStringLiteral("Slide(5)")); }
    QString panel() { return w.findChild<QLabel *>(QStringLiteral("Panels(4)"))->text(); }
    // Nothing reached the line before this known frame.
    bool nothingBefore()
    {
        w.findChild<QPushButton *>(QStringLiteral("Btn_Send_Eyebrows"))->click();
        return peer.read(Eyebrows.size()) == Eyebrows;
    }
};

} // namespace

class tst_Live_Moves : public QObject
{
    Q_OBJECT

private slots:
    void throttleSendsFirstAtOnceAndLastAtTheEnd_data();
    void throttleSendsFirstAtOnceAndLastAtTheEnd();
    void sliderMovesSendOneFrameNowAndTheLastWhenTheIntervalEnds();
    void nothingIsSentUntickedOrWithThePortClosed_data();
    void nothingIsSentUntickedOrWithThePortClosed();
    void untickingDropsWhatWaits();
    void refusedSpeedIsShownNotSent();
};

void tst_Live_Moves::throttleSendsFirstAtOnceAndLastAtTheEnd_data()
{
    QTest::addColumn<QString>("steps"); // c<key>@<ms>: change, e<key>@<ms>: interval end, s@<ms>: stop
    QTest::addColumn<QString>("sends"); // key@ms of each send

    QTest::newRow("burst: first now, last at the end") << "c0@0 c0@10 c0@20 c0@49 e0@50" << "0@0 0@50";
    QTest::newRow("quiet spell: each at once") << "c0@0 c0@50 c0@120" << "0@0 0@50 0@120";
    QTest::newRow("timer early: waits for the clock") << "c0@0 c0@10 e0@45 e0@50" << "0@0 0@50";
    QTest::newRow("nothing waiting: nothing at the end") << "c0@0 e0@50" << "0@0";
    QTest::newRow("a late send opens an interval") << "c0@0 c0@10 e0@70 c0@80 e0@120" << "0@0 0@70 0@120";
    QTest::newRow("keys apart") << "c0@0 c1@5 c0@10 e0@50" << "0@0 1@5 0@50";
    QTest::newRow("stop drops, then at once") << "c0@0 c0@10 s@20 e0@50 c0@51" << "0@0 0@51";
}

void tst_Live_Moves::throttleSendsFirstAtOnceAndLastAtTheEnd()
{
    QFETCH(QString, steps);
    QFETCH(QString, sends);

    qint64 now = 0;
    QStringList sent;
    Send_Throttle throttle(2, [&](int key) { sent << QStringLiteral("%1@%2").arg(key).arg(now); });
    throttle.setClock([&] { return now; });
    for (const QString &step : steps.split(u' ')) {
        now = step.section(u'@', 1).toLongLong();
        const int key = step.mid(1, step.indexOf(u'@') - 1).toInt();
        if (step.startsWith(u'c'))
            throttle.changed(key);
        else if (step.startsWith(u'e'))
            throttle.intervalEnded(key);
        else
            throttle.stop();
    }
    QCOMPARE(sent.join(u' '), sends);
}

void tst_Live_Moves::sliderMovesSendOneFrameNowAndTheLastWhenTheIntervalEnds()
{
    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    QVERIFY(rig.panel().isEmpty());
    rig.live()->trigger();
    QVERIFY(rig.live()->isChecked());
    QCOMPARE(rig.panel(), QStringLiteral("Live"));

    for (int yaw = 100; yaw <= 110; ++yaw)
        rig.yaw()->setValue(yaw);
    QCOMPARE(rig.peer.read(7), neckFrame(100));
    QVERIFY(rig.throttle->waiting(Neck));
    // The interval's own timer sends the last position once the clock says the interval is over.
    rig.now += Send_Throttle::Interval;
    QCOMPARE(rig.peer.read(7), neckFrame(110));
    QVERIFY(!rig.throttle->waiting(Neck));
    QVERIFY(rig.nothingBefore());
    QVERIFY(rig.dialogs->shown.isEmpty());
}

void tst_Live_Moves::nothingIsSentUntickedOrWithThePortClosed_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<bool>("portOpen");
    QTest::newRow("unticked") << false << true;
    QTest::newRow("port closed") << true << false;
}

void tst_Live_Moves::nothingIsSentUntickedOrWithThePortClosed()
{
    QFETCH(bool, ticked);
    QFETCH(bool, portOpen);
    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    rig.live()->setChecked(ticked);
    rig.w.com().setPortOpen(portOpen);
    rig.yaw()->setValue(120);
    rig.yaw()->setValue(121);
    QVERIFY(!rig.throttle->waiting(Neck));

    QVERIFY(rig.w.Open_Serial(1));
    QVERIFY(rig.nothingBefore());
    QVERIFY(rig.dialogs->shown.isEmpty());
}

void tst_Live_Moves::untickingDropsWhatWaits()
{
    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    rig.live()->trigger();
    rig.yaw()->setValue(100);
    rig.yaw()->setValue(101);
    QCOMPARE(rig.peer.read(7), neckFrame(100));
    rig.live()->trigger();
    QVERIFY(!rig.throttle->waiting(Neck));
    QVERIFY(rig.panel().isEmpty());
    rig.now += Send_Throttle::Interval;
    rig.throttle->intervalEnded(Neck);
    QVERIFY(rig.nothingBefore());

    // Ticked again, the first move goes at once.
    rig.live()->trigger();
    rig.yaw()->setValue(102);
    QCOMPARE(rig.peer.read(7), neckFrame(102));
}

void tst_Live_Moves::refusedSpeedIsShownNotSent()
{
    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    rig.live()->trigger();
    rig.w.findChild<QLineEdit *>(QStringLiteral("Txt_Speed(5)"))->setText(QStringLiteral("fast"));
    rig.yaw()->setValue(100);
    QVERIFY2(rig.panel().contains(QStringLiteral("\"fast\"")), qPrintable(rig.panel()));
    QVERIFY(rig.nothingBefore());
    QVERIFY(rig.dialogs->shown.isEmpty());
}

QTEST_MAIN(tst_Live_Moves)
#include "tst_live_moves.moc"
