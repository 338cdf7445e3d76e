#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString Pdf = QStringLiteral(ORVIK_USER_GUIDE_PDF);

// The standard output of one of poppler's tools.
QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        qWarning("%s failed: %s", qPrintable(program), qPrintable(process.errorString() + process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The text of one page, its ligatures ("ﬁ") back to their letters.
QString pageText(int page)
{
    return run(QStringLiteral("pdftotext"),
               {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"), QString::number(page),
                QStringLiteral("-layout"), Pdf, QStringLiteral("-")})
        .normalized(QString::NormalizationForm_KC);
}

// The chapters and sections of the guide's source, and the pictures it shows.
struct Source
{
    QStringList headings;
    QStringList pictures;
};

Source readSource()
{
    QFile file(QStringLiteral(ORVIK_USER_GUIDE_MD));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    Source source;
    bool code = false;
    static const QRegularExpression picture(QStringLiteral(R"(!\[[^\]]*\]\(([^)]+)\))"));
    for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (line.startsWith(QLatin1String("```")))
            code = !code;
        else if (!code && (line.startsWith(QLatin1String("## ")) || line.startsWith(QLatin1String("### "))))
            source.headings << line.section(u' ', 1).trimmed();
        else if (const QRegularExpressionMatch match = picture.match(line); !code && match.hasMatch())
            source.pictures << match.captured(1);
    }
    return source;
}

} // namespace

class tst_User_Guide : public QObject
{
    Q_OBJECT

private slots:
    void contentsGiveThePageOfEveryHeading();
    void showsAPictureOfEveryWindow();
    void picturesLeaveTheUsersFilesAlone();
};

// Each chapter and section is listed in the contents with a page number, and stands on that
// page, whose foot numbers it.
void tst_User_Guide::contentsGiveThePageOfEveryHeading()
{
    const Source source = readSource();
    QVERIFY(source.headings.size() > 10);
    const int pages = run(QStringLiteral("pdfinfo"), {Pdf}).section(QStringLiteral("Pages:"), 1).section(u'\n', 0, 0).toInt();
    QVERIFY2(pages >= 10, qPrintable(QString::number(pages)));
    const QString contents = pageText(2) + pageText(3);

    for (const QString &heading : source.headings) {
        const QRegularExpression line(QStringLiteral("^ *") + QRegularExpression::escape(heading) + QStringLiteral(R"( +(\d+)$)"),
                                      QRegularExpression::MultilineOption);
        const QRegularExpressionMatch listed = line.match(contents);
        QVERIFY2(listed.hasMatch(), qPrintable(heading + QStringLiteral(" is not in the contents")));
        const int page = listed.captured(1).toInt();
        QVERIFY(page > 2 && page <= pages);
        const QStringList lines = pageText(page).split(u'\n');
        QVERIFY2(std::any_of(lines.begin(), lines.end(), [&](const QString &l) { return l.trimmed() == heading; }),
                 qPrintable(heading + QStringLiteral(" is not on page ") + QString::number(page)));
        QVERIFY(lines.join(u'\n').contains(QStringLiteral("Page %1 of %2").arg(page).arg(pages)));
    }
}

// Every picture the build takes is in the guide, and the PDF holds them all and the icon.
void tst_User_Guide::showsAPictureOfEveryWindow()
{
    const Source source = readSource();
    const QStringList taken = QDir(QStringLiteral(ORVIK_PICTURES_DIR)).entryList({QStringLiteral("*.png")});
    QVERIFY(taken.size() >= 6);
    for (const QString &picture : taken)
        QVERIFY2(source.pictures.contains(picture), qPrintable(picture + QStringLiteral(" is not in the guide")));

    // pdfimages lists two header lines, then one line per image drawn, with its object.
    QStringList images = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), Pdf}).trimmed().split(u'\n').mid(2);
    for (QString &image : images)
        image = image.simplified().section(u' ', 10, 10);
    images.removeDuplicates();
    QCOMPARE(images.size(), source.pictures.size() + 1);
}

// Taking the pictures (every build does) writes nothing into the home of whoever builds.
void tst_User_Guide::picturesLeaveTheUsersFilesAlone()
{
    QTemporaryDir home;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        environment.remove(QLatin1StringView(name));
    process.setProcessEnvironment(environment);
    QTemporaryDir output;
    process.start(QStringLiteral(ORVIK_TAKE_PICTURES), {output.path(), QStringLiteral(ORVIK_EXAMPLES_DIR)});
    QVERIFY2(process.waitForFinished(90000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             qPrintable(process.readAllStandardError()));
    QDirIterator left(home.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    QVERIFY2(!left.hasNext(), qPrintable(left.hasNext() ? left.next() : QString()));
}

QTEST_GUILESS_MAIN(tst_User_Guide)
#include "tst_user_guide.moc"

