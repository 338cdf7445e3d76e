#include "panel/Frm_Traffic.h"

#include "link/Frame_Text.h"
#include "panel/Frm_Main.h"
#include "support/PtyPeer.h"
#include "support/ScriptedDialogs.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// The monitor opened from the main window, watching its port on a pseudo-terminal.
class TestFrmTraffic : public QObject
{
    Q_OBJECT

    struct Rig
    {
        PtyPeer peer;
        Frm_Main main;
        ScriptedDialogs *dialogs = nullptr;
        Frm_Traffic *traffic = nullptr;

        Rig()
        {
            qputenv("ORVIK_COM1", peer.device().toLocal8Bit());
            dialogs = ScriptedDialogs::install(main);
            if (!main.Open_Serial(1))
                qFatal("the port did not open");
            main.findChild<QAction *>(QStringLiteral("mnu_traffic"))->trigger();
            traffic = main.findChild<Frm_Traffic *>(QStringLiteral("Frm_Traffic"));
        }
        template <class T> T *child(const QString &name) { return traffic->findChild<T *>(name); }
        QStringList lines()
        {
            traffic->T_Refresh_Timer();
            QStringList shown;
            const QAbstractItemModel *model = child<QListView>(QStringLiteral("L_Traffic"))->model();
            for (int row = 0; row < model->rowCount(); ++row)
                shown << model->index(row, 0).data().toString();
            return shown;
        }
    };

private slots:
    void sentFramesAndRepliesAppearDecoded_data()
    {
        QTest::addColumn<QByteArray>("reply"); // sent by the robot; none: the neck's SEND is pressed
        QTest::addColumn<QStringList>("lines"); // what follows "<ms> ms  "
        QTest::newRow("neck") << QByteArray() << QStringList{"out  6D 72 6E 60 14 6C 14   "
                                                              "neck: pitch 96 speed 20, yaw 108 speed 20"};
        QTest::newRow("batteries") << QByteArray::fromHex("6762764849")
                                   << QStringList{"in   67 62 76 48 49   battery 1 7.2 V, battery 2 7.3 V"};
        QTest::newRow("garbage then whiskers")
            << QByteArray("xyz\x67\x77\x73\x05", 7)
            << QStringList{"in   78 79 7A   discarded", "in   67 77 73 05   whiskers: 1 on, 2 off, 3 on, 4 off"};
    }
    void sentFramesAndRepliesAppearDecoded()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, lines);
        Rig rig;
        if (reply.isEmpty()) {
            rig.main.findChild<QSlider *>(QStringLiteral("Slide(5)"))->setValue(108);
            rig.main.findChild<QSlider *>(QStringLiteral("Slide(6)"))->setValue(96);
            for (const char *speed : {"Txt_Speed(5)", "Txt_Speed(6)"})
                rig.main.findChild<QLineEdit *>(QLatin1StringView(speed))->setText(QStringLiteral("20"));
            rig.main.findChild<QPushButton *>(QStringLiteral("Btn_Send_Neck"))->click();
        } else {
            QVERIFY(rig.peer.write(reply));
        }
        QStringList shown;
        QTRY_COMPARE((shown = rig.lines()).size(), lines.size());
        for (qsizetype k = 0; k < lines.size(); ++k) {
            const QString text = shown[k].section(QStringLiteral(" ms  "), 1).replace(QRegularExpression(" {3,}"), "   ");
            QCOMPARE(text, lines[k]);
        }
    }

    void meaning_data()
    {
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("meaning");
        QTest::newRow("arm") << true << QByteArray::fromHex("6d6c610a015a03b402")
                             << "left arm: elbow 10 speed 1, shoulder yaw 90 speed 3, shoulder pitch 180 speed 2";
        QTest::newRow("mouth") << true << QByteArray::fromHex("6d726d150d170f160e1810")
                               << "mouth: left up 21 speed 13, left bottom 23 speed 15, right up 22 speed 14, "
                                  "right bottom 24 speed 16";
        QTest::newRow("servo") << true << QByteArray::fromHex("6d7373122d00")
                               << "servo 18 (right eyebrow): position 45 speed 0";
        QTest::newRow("no such servo") << true << QByteArray::fromHex("6d7373132d00")
                                       << "servo 19 (unknown): position 45 speed 0";
        QTest::newRow("short move") << true << QByteArray("meb\x01", 4) << "unknown frame";
        QTest::newRow("analogue") << false << QByteArray::fromHex("67617602 01f4") << "analogue 2: 500";
    }
    void meaning()
    {
        QFETCH(bool, sent);
        QFETCH(QByteArray, frame);
        QFETCH(QString, meaning);
        QCOMPARE(sent ? Frame_Text::sent(frame) : Frame_Text::received(frame), meaning);
    }

    void keepsTheLastLinesOnly()
    {
        Rig rig;
        constexpr int Extra = 50;
        for (int k = 0; k < Frm_Traffic::MaxLines + Extra; ++k)
            rig.traffic->replyTaken(QByteArray("gav\x01", 4) + char(k >> 8) + char(k & 0xff));
        const QStringList shown = rig.lines();
        QCOMPARE(shown.size(), Frm_Traffic::MaxLines);
        QVERIFY2(shown.front().endsWith(QStringLiteral("analogue 1: %1").arg(Extra)), qPrintable(shown.front()));
    }

    void pauseHoldsTheListAndClearEmptiesIt()
    {
        Rig rig;
        rig.child<QPushButton>(QStringLiteral("Btn_Pause"))->click();
        rig.traffic->replyTaken(QByteArray::fromHex("6762764849"));
        QVERIFY(rig.lines().isEmpty());
        rig.child<QPushButton>(QStringLiteral("Btn_Pause"))->click();
        QCOMPARE(rig.lines().size(), 1);
        rig.child<QPushButton>(QStringLiteral("Btn_Clear"))->click();
        QVERIFY(rig.lines().isEmpty());
    }

    // A frame is "out" once it left the program; what a close drops unwritten gets a line.
    void listsWrittenFramesAndThoseNotSent()
    {
        Rig rig;
        QElapsedTimer sinceMonitorOpened; // started after the monitor's own clock
        sinceMonitorOpened.start();
        const QByteArray mouth = QByteArray("mrm") + QByteArray::fromHex("2d002d002d002d00");
        // Until a frame is refused and the line takes no more: the kernel moves bytes between the
        // terminal's two ends a little later.
        int accepted = 0;
        for (qint64 waiting = -1; waiting != rig.main.com().OutBufferCount();) {
            while (rig.main.com().Output(mouth))
                ++accepted;
            waiting = rig.main.com().OutBufferCount();
            rig.main.com().writeOut(100);
        }
        const int queued = rig.main.com().queuedFrames();
        QCOMPARE(rig.lines().size(), accepted - queued);

        QVERIFY(rig.main.Open_Serial(1));
        const int received = int(rig.peer.drain().size() / mouth.size());
        const QStringList shown = rig.lines();
        QCOMPARE(shown.size(), received + 1);
        QVERIFY2(shown.back().endsWith(QStringLiteral("  ---  %1 moves not sent: the robot was not reading").arg(accepted - received)),
                 qPrintable(shown.back()));
        // Reopening the port never sends the times back.
        const qint64 earliest = sinceMonitorOpened.elapsed();
        QVERIFY(rig.main.com().Output(QByteArray("gbv")));
        const QStringList after = rig.lines();
        QCOMPARE(after.size(), shown.size() + 1);
        QVERIFY2(after.back().section(u'm', 0, 0).trimmed().toLongLong() >= earliest, qPrintable(after.back()));
    }

    // The file holds the lines the filter shows, and a failed save says so and keeps the old file;
    // a named pipe is no file to save over.
    void savingWritesWhatIsShown()
    {
        Rig rig;
        QTemporaryDir dir;
        rig.main.com().Output(QByteArray("gbv"));
        rig.main.findChild<QPushButton *>(QStringLiteral("Btn_Send_Eyebrows"))->click();
        rig.child<QCheckBox>(QStringLiteral("Chk_Queries"))->setChecked(false);
        const QStringList shown = rig.lines();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].contains(QStringLiteral("eyebrows:")));

        const QString pipe = dir.filePath(QStringLiteral("pipe"));
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        rig.dialogs->fileNames << dir.filePath(QStringLiteral("traffic.txt")) << dir.filePath(QStringLiteral("no/such"))
                               << pipe;
        rig.child<QPushButton>(QStringLiteral("Btn_Save"))->click();
        QFile file(dir.filePath(QStringLiteral("traffic.txt")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), shown.join(u'\n') + u'\n');
        rig.child<QPushButton>(QStringLiteral("Btn_Save"))->click();
        QCOMPARE(rig.dialogs->shown.size(), 1);
        QVERIFY(rig.dialogs->shown[0].text.startsWith(QStringLiteral("The traffic could not be saved")));
        rig.child<QPushButton>(QStringLiteral("Btn_Save"))->click();
        QCOMPARE(rig.dialogs->shown.size(), 2);
        QCOMPARE(rig.dialogs->shown[1].text,
                 QStringLiteral("The traffic could not be saved to \"%1\": it is a named pipe, not a regular file.")
                     .arg(pipe));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(pipe).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
    }
};

QTEST_MAIN(TestFrmTraffic)
#include "tst_frm_traffic.moc"
