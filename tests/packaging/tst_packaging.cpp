#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString output; // standard output and error
};

Run run(const QString &program, const QStringList &arguments, int timeout = 60000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(QStringLiteral(ORVIK_BUILD_DIR));
    process.start(program, arguments);
    const bool done = process.waitForFinished(timeout);
    Run result{done && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               QString::fromLocal8Bit(process.readAll())};
    if (!done)
        result.output += process.errorString();
    return result;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_Packaging : public QObject
{
    Q_OBJECT

private slots:
    void installPutsEverythingWhereTheProgramLooks();
    void debianPackageNamesItsQtDependencies();
};

void tst_Packaging::installPutsEverythingWhereTheProgramLooks()
{
    QTemporaryDir prefix;
    const Run install = run(QStringLiteral(ORVIK_CMAKE),
                            {QStringLiteral("--install"), QStringLiteral("."), QStringLiteral("--prefix"), prefix.path()});
    QVERIFY2(install.exitCode == 0, qPrintable(install.output));
    const QDir root(prefix.path());
    const QDir folder(root.filePath(QStringLiteral("lib/orvik")));

    // bin/ holds links: the program finds its guide and examples beside where they lead.
    for (const char *program : {"orvik", "orvik-sim"}) {
        const QFileInfo link(root.filePath(QStringLiteral("bin/") + QLatin1StringView(program)));
        QVERIFY2(link.isSymLink(), program);
        QCOMPARE(link.canonicalFilePath(), QFileInfo(folder.filePath(QLatin1StringView(program))).canonicalFilePath());
        QVERIFY(link.isExecutable());
    }
    QCOMPARE(contents(folder.filePath(QStringLiteral("Files/User_Guide.pdf"))), contents(QStringLiteral(ORVIK_USER_GUIDE_PDF)));
    QCOMPARE(QDir(folder.filePath(QStringLiteral("examples"))).entryList(QDir::Files),
             (QStringList{"greeting.sct", "look_around.sct", "nod.sct"}));

    const QString entry = root.filePath(QStringLiteral("share/applications/orvik.desktop"));
    const Run validate = run(QStringLiteral("desktop-file-validate"), {entry});
    QVERIFY2(validate.exitCode == 0 && validate.output.trimmed().isEmpty(), qPrintable(validate.output));
    QSettings desktop(entry, QSettings::IniFormat);
    desktop.beginGroup(QStringLiteral("Desktop Entry"));
    QVERIFY(QFileInfo::exists(root.filePath(QStringLiteral("bin/")) + desktop.value(QStringLiteral("Exec")).toString()));
    const QString icon = desktop.value(QStringLiteral("Icon")).toString();
    for (const QString &size : {QStringLiteral("scalable/apps/%1.svg"), QStringLiteral("48x48/apps/%1.png"),
                                QStringLiteral("256x256/apps/%1.png")})
        QVERIFY2(QFileInfo::exists(root.filePath(QStringLiteral("share/icons/hicolor/") + size.arg(icon))),
                 qPrintable(size.arg(icon)));
}

void tst_Packaging::debianPackageNamesItsQtDependencies()
{
#ifdef ORVIK_NO_PACKAGE
    QSKIP("the package is built and checked from the main build only");
#endif
    QTemporaryDir output;
    const Run cpack = run(QStringLiteral(ORVIK_CPACK),
                          {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), output.path()}, 300000);
    QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.output));
    const QStringList debs = QDir(output.path()).entryList({QStringLiteral("*.deb")});
    QCOMPARE(debs.size(), 1);
    const QString deb = QDir(output.path()).filePath(debs.first());

    // Derived from the libraries the programs link, with the versions they need.
    const Run depends = run(QStringLiteral("dpkg-deb"), {QStringLiteral("--field"), deb, QStringLiteral("Depends")});
    for (const char *library : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6serialport6", "libc6"})
        QVERIFY2(depends.output.contains(QLatin1StringView(library) + QStringLiteral(" (>=")), qPrintable(depends.output));

    const Run listing = run(QStringLiteral("dpkg-deb"), {QStringLiteral("--contents"), deb});
    QVERIFY2(listing.exitCode == 0, qPrintable(listing.output));
    for (const char *path : {"./usr/lib/orvik/orvik", "./usr/lib/orvik/orvik-sim", "./usr/lib/orvik/Files/User_Guide.pdf",
                             "./usr/lib/orvik/examples/greeting.sct", "./usr/share/applications/orvik.desktop",
                             "./usr/bin/orvik -> ../lib/orvik/orvik", "./usr/bin/orvik-sim -> ../lib/orvik/orvik-sim"})
        QVERIFY2(listing.output.contains(QLatin1StringView(path)), path);
}

QTEST_GUILESS_MAIN(tst_Packaging)
#include "tst_packaging.moc"
