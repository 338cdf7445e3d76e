#include "ui/Save_Target.h"

#include "link/File_Kind.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>


QString Save_Target::refusal(const QString &path)
{
    const QString kind = File_Kind::at(path);
    if (kind.isEmpty() || kind == u"a regular file")
        return {};
    return QStringLiteral("it is %1, not a regular file").arg(kind);
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
