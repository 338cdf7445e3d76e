#include "ui/Program_Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Program_Files {

QString version()
{
    return QStringLiteral(ORVIK_VERSION);
}

QString programFolder()
{
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    return QFileInfo(program).absolutePath();
}

QString userGuidePath()
{
    return QDir(programFolder()).filePath(QStringLiteral("Files/User_Guide.pdf"));
}

QString examplesFolder()
{
    return QDir(programFolder()).filePath(QStringLiteral("examples"));
}

QString saveFolder(const QString &folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable() ? folder : QDir::homePath();
}

} // namespace Program_Files
