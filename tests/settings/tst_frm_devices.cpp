#include "settings/Frm_Devices.h"

#include "link/Com.h"
#include "support/ScriptedDialogs.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The devices window's OK with the settings file as each case leaves it: a choice that cannot
// be kept between runs still holds for this one, and the operator is told why.
class tst_Frm_Devices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Orvik"));
        QCoreApplication::setApplicationName(QStringLiteral("orvik"));
        qunsetenv("ORVIK_COM2");
    }

    void choiceThatCannotBeKeptHoldsForThisRun_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("why"); // %1: the settings folder; "": kept in the file
        QTest::addColumn<bool>("rootWrites");

        QTest::newRow("file can be written") << "" << "" << true;
        QTest::newRow("file is a folder") << "folder" << "it is a directory, not a regular file" << false;
        QTest::newRow("folder is a file") << "folder is a file" << "%1 is not a folder" << false;
        QTest::newRow("read-only file") << "read-only file" << "it is read-only" << true;
        QTest::newRow("read-only folder") << "read-only folder" << "the folder %1 is read-only" << true;
    }

    void choiceThatCannotBeKeptHoldsForThisRun()
    {
        QFETCH(QString, how);
        QFETCH(QString, why);
        QFETCH(bool, rootWrites);
        if (rootWrites && ::geteuid() == 0) // permissions stop nothing for root
            why.clear();

        QTemporaryDir home;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
        const QString folder = home.filePath(QStringLiteral("Orvik"));
        const QString file = folder + QStringLiteral("/orvik.conf");
        QCOMPARE(QSettings().fileName(), file);
        const QByteArray before = "[Devices]\nCOM1=/dev/ttyUSB0\n";
        const QString kept = how == u"folder is a file" ? folder : file; // what holds the bytes before
        QVERIFY(how == u"folder is a file" || QDir().mkpath(how == u"folder" ? file : folder));
        QVERIFY(how == u"folder" || how == u"read-only folder" || writeFile(kept, before));
        QVERIFY(how != u"read-only file" || QFile::setPermissions(file, QFile::ReadOwner));
        QVERIFY(how != u"read-only folder" || QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        auto writable = qScopeGuard([&] { QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner
                                                                           | QFile::ExeOwner); });

        ScriptedDialogs dialogs;
        Frm_Devices window(dialogs);
        window.show();
        window.findChild<QComboBox *>(QStringLiteral("Cmb_Device(2)"))->setEditText(QStringLiteral("/dev/ttyUSB7"));
        window.findChild<QPushButton *>(QStringLiteral("Btn_Ok_Devices"))->click();

        QVERIFY(!window.isVisible());
        QCOMPARE(Com::deviceFor(2), QStringLiteral("/dev/ttyUSB7"));
        if (why.isEmpty()) {
            QCOMPARE(dialogs.shown.size(), 0);
            QVERIFY2(contents(file).contains("COM2=/dev/ttyUSB7"), contents(file).constData());
            return;
        }
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].text,
                 QStringLiteral("The devices chosen hold for this run only: they cannot be kept in \"%1\" (%2).")
                     .arg(file, QString(why).replace(QStringLiteral("%1"), folder)));
        QCOMPARE(dialogs.shown[0].icon, QMessageBox::Warning);
        if (QFileInfo(kept).isFile())
            QCOMPARE(contents(kept), before);
    }
};

QTEST_MAIN(tst_Frm_Devices)
#include "tst_frm_devices.moc"
