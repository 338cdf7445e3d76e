#include "link/Robot_Profile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

using Edit = std::function<void(QJsonObject &)>;

// The built-in profile's file with one edit made to its JSON.
QByteArray edited(const Edit &edit)
{
    QJsonObject root = QJsonDocument::fromJson(Robot_Profile::builtIn().toJson()).object();
    edit(root);
    return QJsonDocument(root).toJson();
}

Edit servoKey(int entry, const QString &key, const QJsonValue &value)
{
    return [=](QJsonObject &root) {
        QJsonArray servos = root[QStringLiteral("servos")].toArray();
        QJsonObject servo = servos[entry].toObject();
        if (value.isUndefined())
            servo.remove(key);
        else
            servo[key] = value;
        servos[entry] = servo;
        root[QStringLiteral("servos")] = servos;
    };
}

Edit rootKey(const QString &key, const QJsonValue &value)
{
    return [=](QJsonObject &root) {
        if (value.isUndefined())
            root.remove(key);
        else
            root[key] = value;
    };
}

Robot_Profile narrowed()
{
    Robot_Profile profile = Robot_Profile::builtIn();
    profile.setLimits(true);
    Robot_Profile::Servo eyebrow = profile.servo(0); // servo 18, slot 2 of "meb"
    eyebrow.low = 20;
    eyebrow.high = 40;
    eyebrow.home = 30;
    profile.setServo(0, eyebrow);
    return profile;
}

} // namespace

class tst_Robot_Profile : public QObject
{
    Q_OBJECT

private slots:
    void builtInWritesAndReadsBackAsAnOwnProfile()
    {
        QString why;
        const std::optional<Robot_Profile> read = Robot_Profile::parse(Robot_Profile::builtIn().toJson(), &why);
        QVERIFY2(read, qPrintable(why));
        QVERIFY(read->limits());
        Robot_Profile expected = Robot_Profile::builtIn();
        expected.setLimits(true);
        QCOMPARE(*read, expected);
        // Without a level the file stays as it was before levels were kept in it.
        QVERIFY(!Robot_Profile::builtIn().toJson().contains("lowBattery"));
    }

    void editedFileIsReadAsWritten()
    {
        Robot_Profile profile = narrowed();
        profile.setSafeSpeed(17);
        profile.setDegreesPerSecond(2.5);
        profile.setLowBatteryTenths(1, 61);
        Robot_Profile::Servo neck = profile.servo(16);
        neck.name = QStringLiteral("Nacken ↔");
        profile.setServo(16, neck);
        const std::optional<Robot_Profile> read = Robot_Profile::parse(profile.toJson());
        QVERIFY(read);
        QCOMPARE(*read, profile);
    }

    void badFileIsRefusedWhole_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("why");

        QTest::newRow("not JSON") << QByteArray("{\n  \"format\": \"Orvik robot profile\",\n  oops\n}")
                                  << "line 3: ";
        QTest::newRow("empty") << QByteArray() << "line 1: ";
        QTest::newRow("a list") << QByteArray("[]") << "no profile object";
        QTest::newRow("other format") << edited(rootKey("format", "something else")) << "\"format\"";
        QTest::newRow("no version") << edited(rootKey("version", QJsonValue::Undefined)) << "\"version\"";
        QTest::newRow("newer version") << edited(rootKey("version", 2)) << "\"version\" is 2";
        QTest::newRow("unknown key") << edited(rootKey("speed", 5)) << "\"speed\" is no key";
        QTest::newRow("safe speed 0") << edited(rootKey("safeSpeed", 0)) << "\"safeSpeed\"";
        QTest::newRow("safe speed 256") << edited(rootKey("safeSpeed", 256)) << "\"safeSpeed\"";
        QTest::newRow("safe speed text") << edited(rootKey("safeSpeed", "5")) << "\"safeSpeed\"";
        QTest::newRow("degrees 0") << edited(rootKey("degreesPerSecond", 0)) << "\"degreesPerSecond\"";
        QTest::newRow("degrees negative") << edited(rootKey("degreesPerSecond", -4)) << "\"degreesPerSecond\"";
        const QString levels = QStringLiteral("\"lowBattery\" is not a list of 2 volts from 0 to 25.5");
        QTest::newRow("low battery alone") << edited(rootKey("lowBattery", 6.5)) << levels;
        QTest::newRow("low battery one level") << edited(rootKey("lowBattery", QJsonArray{6.5})) << levels;
        QTest::newRow("low battery three") << edited(rootKey("lowBattery", QJsonArray{6.5, 6, 6})) << levels;
        QTest::newRow("low battery text") << edited(rootKey("lowBattery", QJsonArray{"6.5", 0})) << levels;
        QTest::newRow("low battery negative") << edited(rootKey("lowBattery", QJsonArray{-0.1, 0})) << levels;
        QTest::newRow("low battery 25.6") << edited(rootKey("lowBattery", QJsonArray{0, 25.6})) << levels;
        QTest::newRow("no servos") << edited(rootKey("servos", QJsonValue::Undefined)) << "\"servos\" is not a list";
        QTest::newRow("servo missing") << edited([](QJsonObject &root) {
            QJsonArray servos = root["servos"].toArray();
            servos.removeLast();
            root["servos"] = servos;
        }) << "servo 8 (Neck Yaw) is missing";
        QTest::newRow("servo twice") << edited(servoKey(1, "number", 18)) << "entry 2: servo 18 is listed twice";
        QTest::newRow("unknown servo") << edited(servoKey(0, "number", 19)) << "entry 1: \"number\"";
        QTest::newRow("low above 255") << edited(servoKey(0, "low", 256)) << "entry 1 (servo 18): \"low\"";
        QTest::newRow("high negative") << edited(servoKey(2, "high", -1)) << "entry 3 (servo 17): \"high\"";
        QTest::newRow("home not whole") << edited(servoKey(0, "home", 45.5)) << "\"home\"";
        QTest::newRow("home missing") << edited(servoKey(0, "home", QJsonValue::Undefined)) << "\"home\"";
        QTest::newRow("low above high") << edited(servoKey(0, "low", 61)) << "low (61) is above high (60)";
        QTest::newRow("home outside") << edited(servoKey(0, "home", 5)) << "home (5) is not between low and high";
        QTest::newRow("empty name") << edited(servoKey(0, "name", " ")) << "the name is empty";
        QTest::newRow("name not text") << edited(servoKey(0, "name", 3)) << "\"name\" is not a text";
        QTest::newRow("name with newline") << edited(servoKey(0, "name", "a\nb")) << "control character";
        QTest::newRow("unknown servo key") << edited(servoKey(0, "speed", 3)) << "\"speed\" is no key of a servo";
        QTest::newRow("too large") << QByteArray(Robot_Profile::MaxFileSize + 1, ' ') << "larger than";
    }

    void badFileIsRefusedWhole()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, why);
        QString reason;
        QVERIFY(!Robot_Profile::parse(file, &reason));
        QVERIFY2(reason.contains(why), qPrintable(reason));
    }

    void lowBatteryLevelsAreReadToTheTenth_data()
    {
        QTest::addColumn<QJsonArray>("volts");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::newRow("one battery") << QJsonArray{6.5, 0} << 65 << 0;
        QTest::newRow("rounded") << QJsonArray{6.54, 12} << 65 << 120;
        QTest::newRow("highest") << QJsonArray{0.1, 25.5} << 1 << 255;
    }

    void lowBatteryLevelsAreReadToTheTenth()
    {
        QFETCH(QJsonArray, volts);
        QFETCH(int, first);
        QFETCH(int, second);
        QString why;
        const std::optional<Robot_Profile> read = Robot_Profile::parse(edited(rootKey("lowBattery", volts)), &why);
        QVERIFY2(read, qPrintable(why));
        QCOMPARE(read->lowBatteryTenths(0), first);
        QCOMPARE(read->lowBatteryTenths(1), second);
        QCOMPARE(Robot_Profile::parse(read->toJson()), read);
    }

    void movesOutsideAnOwnProfileAreRefused_data()
    {
        QTest::addColumn<QString>("mnemonic");
        QTest::addColumn<QList<qint32>>("values");
        QTest::addColumn<bool>("limits");
        QTest::addColumn<QString>("refusal");

        const QString eyebrow = QStringLiteral("Right eyebrow (servo 18) may only go from 20 to 40, not to %1");
        QTest::newRow("eyebrows inside") << "meb" << QList<qint32>{45, 0, 40, 0} << true << "";
        QTest::newRow("eyebrows above") << "meb" << QList<qint32>{45, 0, 41, 0} << true << eyebrow.arg(41);
        QTest::newRow("eyebrows below") << "meb" << QList<qint32>{45, 0, 19, 0} << true << eyebrow.arg(19);
        // The speed byte of the slot is no position.
        QTest::newRow("speed not checked") << "meb" << QList<qint32>{45, 0, 30, 200} << true << "";
        QTest::newRow("other servo's range") << "meb" << QList<qint32>{61, 0, 30, 0} << true
                                              << "Left eyebrow (servo 20) may only go from 10 to 60, not to 61";
        QTest::newRow("single servo inside") << "mss" << QList<qint32>{18, 20, 0} << true << "";
        QTest::newRow("single servo outside") << "mss" << QList<qint32>{18, 50, 0} << true << eyebrow.arg(50);
        QTest::newRow("unlisted number") << "mss" << QList<qint32>{30, 250, 0} << true << "";
        QTest::newRow("neck pitch") << "mrn" << QList<qint32>{120, 0, 90, 0} << true
                                     << "Neck Pitch (servo 9) may only go from 67 to 113, not to 120";
        QTest::newRow("built-in limits nothing") << "meb" << QList<qint32>{255, 0, 0, 0} << false << "";
        QTest::newRow("wrong count left to the length check") << "meb" << QList<qint32>{255, 0} << true << "";
    }

    void movesOutsideAnOwnProfileAreRefused()
    {
        QFETCH(QString, mnemonic);
        QFETCH(QList<qint32>, values);
        QFETCH(bool, limits);
        QFETCH(QString, refusal);
        Robot_Profile profile = narrowed();
        profile.setLimits(limits);
        const Frames::Kind *kind = nullptr;
        for (const Frames::Kind &k : Frames::Moves)
            if (QLatin1StringView(k.mnemonic.data(), qsizetype(k.mnemonic.size())) == mnemonic)
                kind = &k;
        QVERIFY(kind);
        QCOMPARE(profile.moveRefusal(*kind, values), refusal);
    }

    void widerThanBuiltInIsMarked()
    {
        Robot_Profile profile = narrowed();
        QVERIFY(!profile.widens(0));
        Robot_Profile::Servo eyebrow = profile.servo(0);
        eyebrow.high = 61;
        profile.setServo(0, eyebrow);
        QVERIFY(profile.widens(0));
        QVERIFY(!profile.widens(1));
    }

    void saveAndLoadKeepTheProfile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("robot.json"));
        QVERIFY(narrowed().save(file));
        const std::optional<Robot_Profile> read = Robot_Profile::load(file);
        QVERIFY(read);
        QCOMPARE(*read, narrowed());

        QString why;
        QVERIFY(!Robot_Profile::load(dir.path(), &why));
        QCOMPARE(why, QStringLiteral("it is not a regular file"));
        QVERIFY(!Robot_Profile::load(dir.filePath(QStringLiteral("none.json")), &why));
        QCOMPARE(why, QStringLiteral("the file does not exist"));
    }
};

QTEST_GUILESS_MAIN(tst_Robot_Profile)
#include "tst_robot_profile.moc"
