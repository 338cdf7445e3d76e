#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString output; // standard output and error
};

Run run(const QString &program, const QStringList &arguments, int timeout = 60000,
        const QString &folder = QStringLiteral(ORVIK_BUILD_DIR))
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(folder);
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

// The source tree as a copy of it would hold it: everything but the build folders and git's.
bool copySources(const QDir &from, const QDir &to)
{
    QDirIterator it(from.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry = it.nextFileInfo();
        const QString path = from.relativeFilePath(entry.filePath());
        const QString top = path.section(u'/', 0, 0);
        if (top.startsWith(QStringLiteral("build")) || top == QStringLiteral(".git") || entry.isSymLink())
            continue;
        if (entry.isDir() ? !to.mkpath(path) : !QFile::copy(entry.filePath(), to.filePath(path)))
            return false;
    }
    return true;
}

} // namespace

class tst_Packaging : public QObject
{
    Q_OBJECT

    QTemporaryDir m_packageDir;
    QString m_deb;
    // The package as make package builds it, built once for the tests that read it.
    QString package()
    {
        if (m_deb.isEmpty()) {
            const Run cpack = run(QStringLiteral(ORVIK_CPACK),
                                  {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), m_packageDir.path()},
                                  300000);
            const QStringList debs = QDir(m_packageDir.path()).entryList({QStringLiteral("*.deb")});
            if (cpack.exitCode != 0 || debs.size() != 1)
                qWarning("%s", qPrintable(cpack.output));
            else
                m_deb = QDir(m_packageDir.path()).filePath(debs.first());
        }
        return m_deb;
    }

private slots:
    void installPutsEverythingWhereTheProgramLooks();
    void manPageDocumentsEveryOption_data();
    void manPageDocumentsEveryOption();
    void debianPackageNamesItsQtDependencies();
    void debianPackageHoldsManPagesCopyrightAndChangelog();
    void lintianFindsNoErrorWarningOrHardeningGap();
    void copiedTreeConfiguresItsOwnBuild();
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

void tst_Packaging::manPageDocumentsEveryOption_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("page");
    QTest::newRow("orvik") << QStringLiteral(ORVIK_PATH) << QStringLiteral(ORVIK_MAN_DIR "/orvik.1");
    QTest::newRow("orvik-sim") << QStringLiteral(ORVIK_SIM_PATH) << QStringLiteral(ORVIK_MAN_DIR "/orvik-sim.1");
}

// The pages are written by hand: an option the program gains must reach its page too.
void tst_Packaging::manPageDocumentsEveryOption()
{
    QFETCH(QString, program);
    QFETCH(QString, page);
    const Run help = run(program, {QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    const QString text = QString::fromUtf8(contents(page)).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    QVERIFY2(text.startsWith(QStringLiteral(".TH ")), qPrintable(page));
    static const QRegularExpression option(QStringLiteral("^\\s+(?:-\\w, )?(--[\\w-]+)"),
                                           QRegularExpression::MultilineOption);
    int options = 0;
    for (const QRegularExpressionMatch &match : option.globalMatch(help.output)) {
        ++options;
        QVERIFY2(text.contains(match.captured(1)), qPrintable(match.captured(1) + QStringLiteral(" is not in ") + page));
    }
    QVERIFY2(options >= 5, qPrintable(help.output));
}

void tst_Packaging::debianPackageNamesItsQtDependencies()
{
#ifdef ORVIK_NO_PACKAGE
    QSKIP("the package is built and checked from the main build only");
#endif
    const QString deb = package();
    QVERIFY(!deb.isEmpty());

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

void tst_Packaging::debianPackageHoldsManPagesCopyrightAndChangelog()
{
#ifdef ORVIK_NO_PACKAGE
    QSKIP("the package is built and checked from the main build only");
#endif
    const QString deb = package();
    QVERIFY(!deb.isEmpty());
    QTemporaryDir unpacked;
    const Run extract = run(QStringLiteral("dpkg-deb"), {QStringLiteral("--extract"), deb, unpacked.path()});
    QVERIFY2(extract.exitCode == 0, qPrintable(extract.output));
    const QDir root(unpacked.path());

    for (const char *page : {"usr/share/man/man1/orvik.1.gz", "usr/share/man/man1/orvik-sim.1.gz"})
        QVERIFY2(contents(root.filePath(QLatin1StringView(page))).startsWith("\x1f\x8b"), page);

    // Machine-readable, and pointing at the licence's text every Debian system has.
    const QByteArray copyright = contents(root.filePath(QStringLiteral("usr/share/doc/orvik/copyright")));
    QVERIFY2(copyright.startsWith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"),
             copyright.constData());
    for (const char *line : {"\nFiles: *\n", "\nLicense: GPL-3+\n", "\"/usr/share/common-licenses/GPL-3\""})
        QVERIFY2(copyright.contains(line), line);

    // The changelog's latest entry is this version, by the package's maintainer.
    const Run changelog =
        run(QStringLiteral("dpkg-parsechangelog"),
            {QStringLiteral("-l"), root.filePath(QStringLiteral("usr/share/doc/orvik/changelog.gz"))});
    QVERIFY2(changelog.exitCode == 0, qPrintable(changelog.output));
    auto field = [&deb](const QString &name) {
        return run(QStringLiteral("dpkg-deb"), {QStringLiteral("--field"), deb, name}).output.trimmed();
    };
    QVERIFY2(changelog.output.contains(QStringLiteral("\nVersion: ") + field(QStringLiteral("Version")) + u'\n'),
             qPrintable(changelog.output));
    const QString maintainer = field(QStringLiteral("Maintainer"));
    QCOMPARE(maintainer, QStringLiteral("Orvik Serial Interface developers <orvik@example.org>"));
    QVERIFY2(changelog.output.contains(QStringLiteral("\nMaintainer: ") + maintainer + u'\n'), qPrintable(changelog.output));
}

void tst_Packaging::lintianFindsNoErrorWarningOrHardeningGap()
{
#ifdef ORVIK_NO_PACKAGE
    QSKIP("the package is built and checked from the main build only");
#endif
    const QString deb = package();
    QVERIFY(!deb.isEmpty());
    // As root, as CI runs; information tags shown too, for the hardening ones.
    const Run lintian = run(QStringLiteral("lintian"),
                            {QStringLiteral("--allow-root"), QStringLiteral("--fail-on"), QStringLiteral("error,warning"),
                             QStringLiteral("--display-info"), deb},
                            300000);
    QVERIFY2(lintian.exitCode == 0, qPrintable(lintian.output));
    QVERIFY2(!lintian.output.contains(QStringLiteral(" hardening-")), qPrintable(lintian.output));
}

// A source tree copied with its build folder: the copied cache still names the original
// folders, and make package there must not build or package the original.
void tst_Packaging::copiedTreeConfiguresItsOwnBuild()
{
#ifdef ORVIK_NO_PACKAGE
    QSKIP("checked from the main build only");
#endif
    QTemporaryDir copy;
    const QDir tree(copy.path());
    QVERIFY(copySources(QDir(QStringLiteral(ORVIK_SOURCE_DIR)), tree));
    QVERIFY(tree.mkdir(QStringLiteral("build")));
    for (const char *file : {"CMakeCache.txt", "CPackConfig.cmake", "build.ninja"})
        QVERIFY(QFile::copy(QDir(QStringLiteral(ORVIK_BUILD_DIR)).filePath(QLatin1StringView(file)),
                            tree.filePath(QStringLiteral("build/")) + QLatin1StringView(file)));

    const Run configure = run(QStringLiteral("make"), {QStringLiteral("configure")}, 300000, tree.path());
    QVERIFY2(configure.exitCode == 0, qPrintable(configure.output));
    const QByteArray cpack = contents(tree.filePath(QStringLiteral("build/CPackConfig.cmake")));
    QVERIFY2(cpack.contains("set(CPACK_INSTALL_CMAKE_PROJECTS \"" + QFile::encodeName(tree.filePath(QStringLiteral("build")))),
             cpack.constData());
    QVERIFY(!cpack.contains(ORVIK_BUILD_DIR));
}

QTEST_GUILESS_MAIN(tst_Packaging)
#include "tst_packaging.moc"
