#include "settings/Frm_Robot_Profile.h"
#include "settings/Robot_Profile_Model.h"
#include "support/ScriptedDialogs.h"

#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class tst_Frm_Robot_Profile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<Frm_Robot_Profile> m_window;
    QList<std::pair<Robot_Profile, QString>> m_used;

    Robot_Profile_Model *model() { return m_window->model(); }
    bool edit(int row, int column, const QVariant &value)
    {
        return model()->setData(model()->index(row, column), value);
    }
    QString checkText() { return m_window->findChild<QLabel *>(QStringLiteral("Lbl_Profile_Check"))->text(); }
    QString file(const char *name) { return m_dir.filePath(QLatin1StringView(name)); }

private slots:
    void init()
    {
        m_used.clear();
        m_dialogs = std::make_unique<ScriptedDialogs>();
        m_window = std::make_unique<Frm_Robot_Profile>(
            Robot_Profile::builtIn(), QString(), *m_dialogs,
            [this](const Robot_Profile &profile, const QString &file) { m_used.append({profile, file}); });
    }

    void editsAreCheckedAsTyped_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("tip"); // of the edited cell
        QTest::addColumn<QString>("check");
        using M = Robot_Profile_Model;
        QTest::newRow("narrower") << int(M::Low) << QVariant(20) << true << "" << "";
        QTest::newRow("low above high") << int(M::Low) << QVariant(61) << true << "low (61) is above high (60)"
                                        << "Cannot be used: servo 18: low (61) is above high (60).";
        QTest::newRow("home outside") << int(M::Home) << QVariant(5) << true
                                      << "home (5) is not between low and high (10 to 60)"
                                      << "Cannot be used: servo 18: home (5) is not between low and high (10 to 60).";
        QTest::newRow("wider") << int(M::High) << QVariant(61) << true << "Wider than the built-in range (10 to 60)"
                               << "";
        QTest::newRow("no position") << int(M::High) << QVariant(256) << false << "" << "";
        QTest::newRow("not a number") << int(M::Low) << QVariant("x") << false << "" << "";
        QTest::newRow("empty name") << int(M::Name) << QVariant(" ") << true << "the name is empty"
                                    << "Cannot be used: servo 18: the name is empty.";
        QTest::newRow("built-in stays") << int(M::BuiltInHigh) << QVariant(100) << false << "" << "";
    }
    void editsAreCheckedAsTyped()
    {
        QFETCH(int, column);
        QFETCH(QVariant, value);
        QFETCH(bool, taken);
        QFETCH(QString, tip);
        QFETCH(QString, check);
        const QVariant before = model()->index(0, column).data();
        QCOMPARE(edit(0, column, value), taken);
        if (!taken)
            QCOMPARE(model()->index(0, column).data(), before);
        QCOMPARE(model()->index(0, column).data(Qt::ToolTipRole).toString(), tip);
        QCOMPARE(checkText(), check);
    }

    void saveRefusesAProfileThatCannotBeUsed()
    {
        edit(0, Robot_Profile_Model::Low, 61);
        m_dialogs->fileNames << file("bad.json");
        QVERIFY(!m_window->Btn_Save_Click());
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(m_dialogs->shown[0].text,
                 QStringLiteral("The profile cannot be used: servo 18: low (61) is above high (60)."));
        QVERIFY(!QFile::exists(file("bad.json")));
        QVERIFY(m_used.isEmpty());
    }

    void widerRangeAsksFirst_data()
    {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::newRow("no") << QMessageBox::No;
        QTest::newRow("yes") << QMessageBox::Yes;
    }
    void widerRangeAsksFirst()
    {
        QFETCH(QMessageBox::StandardButton, answer);
        const QString target = file("wide.json");
        QFile::remove(target);
        edit(0, Robot_Profile_Model::High, 70);
        m_dialogs->answers << answer;
        m_dialogs->fileNames << target;
        QCOMPARE(m_window->Btn_Save_Click(), answer == QMessageBox::Yes);
        QCOMPARE(m_dialogs->shown.size(), 1);
        QVERIFY2(m_dialogs->shown[0].text.startsWith(
                     QStringLiteral("The range of Right eyebrow (servo 18) is wider than the built-in one")),
                 qPrintable(m_dialogs->shown[0].text));
        QCOMPARE(QFile::exists(target), answer == QMessageBox::Yes);
        QCOMPARE(m_used.size(), answer == QMessageBox::Yes ? 1 : 0);
        if (answer == QMessageBox::Yes) {
            QCOMPARE(m_used[0].second, target);
            QVERIFY(m_used[0].first.limits());
            QCOMPARE(m_used[0].first.servo(0).high, 70);
            QCOMPARE(*Robot_Profile::load(target), m_used[0].first);
        }
    }

    void savedProfileIsUsedAndSavedThereAgain()
    {
        const QString target = file("robot.json");
        edit(15, Robot_Profile_Model::High, 100);
        m_window->findChild<QDoubleSpinBox *>(QStringLiteral("Spn_Low_Battery(1)"))->setValue(6.5);
        m_dialogs->fileNames << target;
        QVERIFY(m_window->Btn_Save_Click()); // asks where the first time
        edit(15, Robot_Profile_Model::High, 99);
        QVERIFY(m_window->Btn_Save_Click()); // then saves there
        QCOMPARE(m_used.size(), 2);
        QCOMPARE(m_used[1].second, target);
        QCOMPARE(Robot_Profile::load(target)->servo(15).high, 99);
        QCOMPARE(Robot_Profile::load(target)->lowBatteryTenths(1), 65);
    }

    void openRefusesABadFileWhole()
    {
        edit(0, Robot_Profile_Model::Low, 20);
        QFile bad(file("bad.json"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("{\n\"format\": \"Orvik robot profile\",\n\"version\": 1,\n\"servos\": [}\n");
        bad.close();
        m_dialogs->fileNames << bad.fileName();
        m_window->Btn_Open_Click();
        QCOMPARE(m_dialogs->shown.size(), 1);
        QVERIFY2(m_dialogs->shown[0].text.startsWith(
                     QStringLiteral("The profile \"%1\" cannot be opened: line 4: ").arg(bad.fileName())),
                 qPrintable(m_dialogs->shown[0].text));
        QVERIFY(m_used.isEmpty());
        QCOMPARE(model()->index(0, Robot_Profile_Model::Low).data().toInt(), 20);
    }

    void openRevertAndResetChooseWhatIsUsed()
    {
        Robot_Profile narrow = Robot_Profile::builtIn();
        narrow.setServo(0, {QStringLiteral("Brow"), 20, 40, 30});
        QVERIFY(narrow.save(file("narrow.json")));
        m_dialogs->fileNames << file("narrow.json");
        m_window->Btn_Open_Click();
        QCOMPARE(m_used.size(), 1);
        QCOMPARE(m_used[0].second, file("narrow.json"));
        QCOMPARE(model()->index(0, Robot_Profile_Model::Name).data().toString(), QStringLiteral("Brow"));

        edit(0, Robot_Profile_Model::High, 35);
        m_window->Btn_Revert_Click();
        QCOMPARE(model()->index(0, Robot_Profile_Model::High).data().toInt(), 40);
        QCOMPARE(m_used.size(), 1);

        // The built-in profile's levels are the ones the main window keeps.
        Robot_Profile builtIn = Robot_Profile::builtIn();
        builtIn.setLowBatteryTenths(0, 70);
        m_window->setBuiltIn(builtIn);
        m_window->Btn_Reset_Click();
        QCOMPARE(m_window->findChild<QDoubleSpinBox *>(QStringLiteral("Spn_Low_Battery(0)"))->value(), 7.0);
        QCOMPARE(m_used.size(), 2);
        QCOMPARE(m_used[1].second, QString());
        QVERIFY(!m_used[1].first.limits());
        QCOMPARE(model()->index(0, Robot_Profile_Model::High).data().toInt(), 60);
        QVERIFY(QFile::exists(file("narrow.json")));
    }
};

QTEST_MAIN(tst_Frm_Robot_Profile)
#include "tst_frm_robot_profile.moc"
