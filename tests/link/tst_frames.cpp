#include "link/Frames.h"

#include <QTest>

#include <optional>

class tst_Frames : public QObject
{
    Q_OBJECT

private slots:
    void frameIsMnemonicThenDataUnchanged();
    void textToByte_data();
    void textToByte();
    void textToInt32_data();
    void textToInt32();
};

void tst_Frames::frameIsMnemonicThenDataUnchanged()
{
    QCOMPARE(Frames::frame(Frames::BatteriesQuery), QByteArray::fromHex("676276"));
    QCOMPARE(Frames::frame(Frames::AnalogueQuery), QByteArray::fromHex("676176"));
    // Zero, "g" and 0xFF are ordinary data bytes: nothing is escaped or terminated.
    QCOMPARE(Frames::frame(Frames::Eyebrows, QByteArray::fromHex("2d00670a")), QByteArray::fromHex("6d65622d00670a"));
    QCOMPARE(Frames::frame(Frames::SingleServo, QByteArray::fromHex("122dff")), QByteArray::fromHex("6d7373122dff"));
}

void tst_Frames::textToByte_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("byte"); // -1: no byte

    const QString c = QStringLiteral("C");
    const QString fr = QStringLiteral("fr_FR");
    QTest::newRow("zero") << c << "0" << 0;
    QTest::newRow("top") << c << "255" << 255;
    QTest::newRow("blanks around") << c << "  12 " << 12;
    QTest::newRow("half to even down") << c << "2.5" << 2;
    QTest::newRow("half to even up") << c << "3.5" << 4;
    QTest::newRow("0.5 to zero") << c << "0.5" << 0;
    QTest::newRow("254.5 stays in range") << c << "254.5" << 254;
    QTest::newRow("nearest above half") << c << "44.6" << 45;
    QTest::newRow("small negative rounds to zero") << c << "-0.4" << 0;
    QTest::newRow("minus half rounds to zero") << c << "-0.5" << 0;
    QTest::newRow("exponent") << c << "1e2" << 100;
    QTest::newRow("255.5 rounds out of range") << c << "255.5" << -1;
    QTest::newRow("256") << c << "256" << -1;
    QTest::newRow("minus one") << c << "-1" << -1;
    QTest::newRow("empty") << c << "" << -1;
    QTest::newRow("letters") << c << "abc" << -1;
    QTest::newRow("trailing letters") << c << "12abc" << -1;
    QTest::newRow("two numbers") << c << "1 2" << -1;
    QTest::newRow("infinity") << c << "inf" << -1;
    QTest::newRow("not a number") << c << "nan" << -1;
    QTest::newRow("regional comma") << fr << "44,5" << 44;
    QTest::newRow("regional comma up") << fr << "45,5" << 46;
    QTest::newRow("foreign point refused") << fr << "2.5" << -1;
}

void tst_Frames::textToByte()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(int, byte);
    const std::optional<quint8> result = Frames::textToByte(text, QLocale(locale));
    QCOMPARE(result.has_value(), byte >= 0);
    if (byte >= 0)
        QCOMPARE(int(*result), byte);
}

void tst_Frames::textToInt32_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint32>("value");

    QTest::newRow("above a byte") << "300" << true << 300;
    QTest::newRow("negative") << " -7 " << true << -7;
    QTest::newRow("half to even") << "-2.5" << true << -2;
    QTest::newRow("largest") << "2147483647" << true << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << true << qint32(-2147483648LL);
    QTest::newRow("half below the smallest rounds into range") << "-2147483648.5" << true << qint32(-2147483648LL);
    QTest::newRow("one above the largest") << "2147483648" << false << 0;
    QTest::newRow("half above the largest rounds out") << "2147483647.5" << false << 0;
    QTest::newRow("one below the smallest") << "-2147483649" << false << 0;
    QTest::newRow("huge exponent") << "1e300" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("letters") << "x1" << false << 0;
}

void tst_Frames::textToInt32()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(qint32, value);
    const std::optional<qint32> result = Frames::textToInt32(text, QLocale::c());
    QCOMPARE(result.has_value(), valid);
    if (valid)
        QCOMPARE(*result, value);
}

QTEST_GUILESS_MAIN(tst_Frames)
#include "tst_frames.moc"
