#include "app/Command_Line.h"

#include "sim/SimProcess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <csignal>

// orvik's console uses, run in-process as main() runs them, and once as the program itself
// where a signal is what the test sends.
class TestCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_out, m_err;

    QString script(const QString &name, const QStringList &actions)
    {
        QByteArray text = "[GENERAL]\r\nsoftware=ORVIK\r\nName=Test\r\nDate=06-12-2026\r\n[COMMANDS]\r\nnb_action=" +
                          QByteArray::number(actions.size()) + "\r\n";
        for (qsizetype k = 0; k < actions.size(); ++k)
            text += "action_" + QByteArray::number(k + 1) + '=' + actions[k].toLatin1() + "\r\n";
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }
    int run(const QStringList &arguments)
    {
        m_out.clear();
        m_err.clear();
        QTextStream out(&m_out), err(&m_err);
        return Command_Line::run(QStringList{QStringLiteral("orvik")} + arguments, out, err);
    }

private slots:
    void check_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("clean") << QStringList{"meb;120;10;130;10", "wait;500", "end;0"} << 0 << "check.sct: ok\n";
        QTest::newRow("problems") << QStringList{"mss;19;90;0", "end;0", "wait;0"} << 1
                                  << "check.sct: action 1: no servo has the number 19\n"
                                     "check.sct: action 2: \"end\" before the last action does nothing\n"
                                     "check.sct: action 3: a wait of 0 ms is not between 1 and 65535; "
                                     "the script does not end with \"end\"\n";
        QTest::newRow("refused") << QStringList{"meb;120;10;130;10", "end;"} << 1
                                 << "check.sct: cannot be opened: ";
    }
    void check()
    {
        QFETCH(QStringList, actions);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        const QString file = script(QStringLiteral("check.sct"), actions);
        QCOMPARE(run({QStringLiteral("--check"), file}), exitCode);
        QVERIFY2(m_out.startsWith(output.replace(QStringLiteral("check.sct"), file)), qPrintable(m_out));
    }

    void play_refusesWhatItCannotPlay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QString good = QStringLiteral("@good");
        QTest::newRow("missing device") << QStringList{"--play", good, "--device", "/nonexistent/tty"} << 1
                                        << "orvik: cannot open the port: COM1 (/nonexistent/tty): ";
        QTest::newRow("missing file") << QStringList{"--play", "/nonexistent/x.sct"} << 1
                                      << "orvik: the script \"/nonexistent/x.sct\" does not exist";
        QTest::newRow("refused file") << QStringList{"--play", "@refused"} << 1 << "orvik: the script \"@refused\" "
                                                                                   "cannot be opened: ";
        QTest::newRow("bad port") << QStringList{"--play", good, "--port", "5"} << 2
                                  << "orvik: --port takes 1 to 4, not \"5\"";
        QTest::newRow("check and play") << QStringList{"--check", "--play", good} << 2 << "orvik: give either";
    }
    void play_refusesWhatItCannotPlay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const QString good = script(QStringLiteral("good.sct"), {"meb;120;10;130;10", "end;0"});
        const QString refused = script(QStringLiteral("refused.sct"), {"meb;120;10;130;10", "wait;x"});
        arguments.replaceInStrings(QStringLiteral("@good"), good);
        arguments.replaceInStrings(QStringLiteral("@refused"), refused);
        message.replace(QStringLiteral("@refused"), refused);
        QCOMPARE(run(arguments), exitCode);
        QVERIFY2(m_err.startsWith(message), qPrintable(m_err));
        QVERIFY(m_out.isEmpty());
    }

    // The nod example played to orvik-sim: every move arrives whole, in order, and as far
    // after the first as the script's waits say.
    void play_sendsTheScriptToTheVirtualRobot()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        const QString example = QStringLiteral(ORVIK_EXAMPLES "/nod.sct");
        QCOMPARE(run({QStringLiteral("--play"), example, QStringLiteral("--device"), sim.link()}), 0);
        QVERIFY2(m_err.isEmpty(), qPrintable(m_err));
        QVERIFY(m_out.startsWith(QStringLiteral("1 mrn-90-20-90-20\n2 wait-300\n3 mrn-110-30-90-20\n")));
        QVERIFY(m_out.endsWith(QStringLiteral("11 end-0\n")));

        const QList<std::pair<QByteArray, qint64>> expected{
            {QByteArray::fromHex("6d726e5a145a14"), 0},    {QByteArray::fromHex("6d726e6e1e5a14"), 320},
            {QByteArray::fromHex("6d726e461e5a14"), 690},  {QByteArray::fromHex("6d726e6e1e5a14"), 1060},
            {QByteArray::fromHex("6d726e5a145a14"), 1430},
        };
        QList<SimProcess::LoggedFrame> received;
        QTRY_VERIFY((received = sim.loggedFrames(QStringLiteral("rx"))).size() >= expected.size());
        QCOMPARE(received.size(), expected.size());
        const qint64 firstUs = received[0].us;
        for (qsizetype k = 0; k < received.size(); ++k) {
            QCOMPARE(received[k].bytes.toHex(' '), expected[k].first.toHex(' '));
            // Never early but for the timer's whole milliseconds and the robot's own reading, which a
            // busy machine may hold up on the first frame; late only as a shared machine makes it.
            const qint64 atMs = (received[k].us - firstUs) / 1000;
            QVERIFY2(atMs >= expected[k].second - 10 && atMs <= expected[k].second + 250,
                     qPrintable(QStringLiteral("move %1 at %2 ms, due at %3 ms").arg(k).arg(atMs).arg(expected[k].second)));
        }
    }

    // The program itself, looping a script without a display, stopped as a terminal stops it.
    void play_stopsCleanlyOnCtrlC()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        QProcess orvik;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        orvik.setProcessEnvironment(environment);
        orvik.start(QStringLiteral(ORVIK_PATH), {QStringLiteral("--play"), QStringLiteral(ORVIK_EXAMPLES "/nod.sct"),
                                                 QStringLiteral("--device"), sim.link(), QStringLiteral("--loop")});
        // Past the end once: looping, not finished.
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += orvik.readAllStandardOutput()).contains("11 end-0\n1 mrn"), 20000);
        ::kill(pid_t(orvik.processId()), SIGINT);
        QVERIFY(orvik.waitForFinished(10000));
        QCOMPARE(orvik.exitStatus(), QProcess::NormalExit);
        QCOMPARE(orvik.exitCode(), Command_Line::Interrupted);
        QCOMPARE(orvik.readAllStandardError(), QByteArray("orvik: stopped\n"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
