#include "ui/Save_Target.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// What a path names that is not a regular file, "" for a regular file or nothing at all.
QString kindOtherThanFile(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return {};
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("a named pipe");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("a device");
    return QStringLiteral("something else");
}

} // namespace

QString Save_Target::refusal(const QString &path)
{
    const QString kind = kindOtherThanFile(path);
    return kind.isEmpty() ? QString() : QStringLiteral("it is %1, not a regular file").arg(kind);
}

QString Save_Target::whyNotWritable(const QString &path)
{
    if (const QString why = refusal(path); !why.isEmpty())
        return why;
    const QFileInfo file(path);
    if (file.exists())
        return file.isWritable() ? QStringLiteral("it cannot be written") : QStringLiteral("it is read-only");
    // The nearest folder that exists is where the file or its missing folders would be made.
    QFileInfo folder(file.absolutePath());
    while (!folder.exists() && !folder.isRoot() && folder.absoluteFilePath() != folder.absolutePath())
        folder.setFile(folder.absolutePath());
    const QString shown = QDir::toNativeSeparators(folder.absoluteFilePath());
    if (!folder.isDir())
        return QStringLiteral("%1 is not a folder").arg(shown);
    if (!folder.isWritable())
        return QStringLiteral("the folder %1 is read-only").arg(shown);
    return QStringLiteral("it cannot be written");
}
