#include "scripts/Sys_INI_File.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_Sys_INI_File : public QObject
{
    Q_OBJECT

private slots:
    void readValue_data();
    void readValue();
    void missingFileGivesEmpty();
};

void tst_Sys_INI_File::readValue_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    const QByteArray script = "[GENERAL]\r\nsoftware=ORVIK\r\nName=Greeting\r\n[COMMANDS]\r\nnb_action=1\r\naction_1=end;0\r\n";
    QTest::newRow("plain") << script << "GENERAL" << "Name" << "Greeting";
    QTest::newRow("names in any letter case") << script << "general" << "NAME" << "Greeting";
    QTest::newRow("blanks around the asked names") << script << " COMMANDS " << " nb_action" << "1";
    QTest::newRow("blanks around names in the file")
        << QByteArray("  [ Main ]\n\t key \t=x\n") << "main" << "KEY" << "x";
    QTest::newRow("value after the first =, blanks removed")
        << QByteArray("[s]\nk = a = b \t\n") << "s" << "k" << "a = b";
    QTest::newRow("empty value") << QByteArray("[s]\nk=\n") << "s" << "k" << "";
    QTest::newRow("cut to 149 characters")
        << "[s]\nk=" + QByteArray(149, 'v') + "XYZ\n" << "s" << "k" << QString(149, u'v');
    QTest::newRow("first key wins") << QByteArray("[s]\nk=1\nK=2\n") << "s" << "k" << "1";
    QTest::newRow("first section wins") << QByteArray("[s]\na=1\n[S]\nk=2\n") << "s" << "k" << "";
    QTest::newRow("key of another section") << script << "GENERAL" << "nb_action" << "";
    QTest::newRow("missing section") << script << "OTHER" << "Name" << "";
    QTest::newRow("missing key") << script << "GENERAL" << "date" << "";
    QTest::newRow("comment line") << QByteArray("[s]\n;k=1\nk=2\n") << "s" << "k" << "2";
    QTest::newRow("key before any section") << QByteArray("k=1\n[s]\n") << "s" << "k" << "";
    QTest::newRow("Windows-1252 text") << QByteArray("[s]\nk=Gr\xFC\xDF\x65\n") << "s" << "k" << QStringLiteral("Grüße");
}

void tst_Sys_INI_File::readValue()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("values.ini"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();
    QCOMPARE(Read_INI_Value(section, key, path), value);
}

void tst_Sys_INI_File::missingFileGivesEmpty()
{
    QTemporaryDir dir;
    QCOMPARE(Read_INI_Value(QStringLiteral("GENERAL"), QStringLiteral("Name"), dir.filePath(QStringLiteral("none.sct"))),
             QString());
    QCOMPARE(Read_INI_Value(QStringLiteral("GENERAL"), QStringLiteral("Name"), dir.path()), QString());
}

QTEST_GUILESS_MAIN(tst_Sys_INI_File)
#include "tst_sys_ini_file.moc"
