#include "ui/Program_Files.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Tests run as root, for whom permissions stop nothing: the immutable attribute stands in for
// the folder of an installed program, which the operator cannot write.
bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

} // namespace

class tst_Program_Files : public QObject
{
    Q_OBJECT

private slots:
    void saveStartsHomeWhenTheFolderCannotBeWritten_data();
    void saveStartsHomeWhenTheFolderCannotBeWritten();
};

void tst_Program_Files::saveStartsHomeWhenTheFolderCannotBeWritten_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("home");
    QTest::newRow("writable") << "writable" << false;
    QTest::newRow("read-only") << "immutable" << true;
    QTest::newRow("missing") << "missing" << true;
    QTest::newRow("a file") << "file" << true;
}

void tst_Program_Files::saveStartsHomeWhenTheFolderCannotBeWritten()
{
    QFETCH(QString, folder);
    QFETCH(bool, home);

    QTemporaryDir dir;
    const QString path = dir.filePath(folder);
    if (folder == QLatin1String("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (folder != QLatin1String("missing")) {
        QVERIFY(QDir(dir.path()).mkdir(folder));
    }
    if (folder == QLatin1String("immutable") && !setImmutable(path, true))
        QSKIP("the immutable attribute cannot be set here");
    auto mutableAgain = qScopeGuard([&] { setImmutable(path, false); });

    QCOMPARE(Program_Files::saveFolder(path), home ? QDir::homePath() : path);
}

QTEST_GUILESS_MAIN(tst_Program_Files)
#include "tst_program_files.moc"
