#include "scripts/Script_Recovery.h"

#include "scripts/Profile_Text.h"
#include "scripts/Script_File.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

namespace {

const QString Suffix = QStringLiteral(".recovery");

QString newName()
{
    return QStringLiteral("script-%1-%2")
               .arg(QDateTime::currentMSecsSinceEpoch())
               .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))
           + Suffix;
}

// The writer refuses a title it could not read back whole; a record keeps what it can of it.
QString writable(const QString &text)
{
    QString kept = text;
    kept.replace(u'\r', u' ').replace(u'\n', u' ');
    return kept.left(Profile_Text::MaxValueLength);
}

} // namespace

Script_Recovery::Script_Recovery(const QString &folder)
    : m_folder(folder.isEmpty()
                   ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/recovery")
                   : folder)
    , m_name(newName())
{
}

QString Script_Recovery::currentFile() const
{
    return m_folder + u'/' + m_name;
}

QByteArray Script_Recovery::format(const Script_Content &content)
{
    QByteArray bytes;
    if (!Format_Script(writable(content.title), writable(content.date), content.actions, bytes))
        Format_Script(writable(content.title), writable(content.date), Action_List{}, bytes);
    // The path may hold any character a file name can: kept percent-encoded on one line.
    bytes += "[RECOVERY]\r\npath=" + QUrl::toPercentEncoding(content.path) + "\r\n";
    return bytes;
}

bool Script_Recovery::parse(QByteArrayView bytes, Script_Content &content)
{
    Script_Content read;
    Script_Header header;
    if (!Parse_Script(bytes, read.actions, header))
        return false;
    read.title = header.Script_Name;
    read.date = header.Script_Date;
    read.editable = true;
    const QString text = Profile_Text::decode(bytes);
    Profile_Text::Line_Reader reader(text);
    Profile_Text::Line line;
    bool inRecovery = false;
    while (reader.next(line)) {
        if (line.kind == Profile_Text::Line::Section)
            inRecovery = Profile_Text::sameName(line.name, u"RECOVERY");
        else if (inRecovery && line.kind == Profile_Text::Line::Key && Profile_Text::sameName(line.name, u"path"))
            read.path = QUrl::fromPercentEncoding(Profile_Text::trimBlanks(line.value).toLatin1());
    }
    content = std::move(read);
    return true;
}

bool Script_Recovery::keep(const Script_Content &content, QString *why)
{
    if (!QDir().mkpath(m_folder)) {
        if (why)
            *why = QStringLiteral("%1: the folder cannot be made").arg(QDir::toNativeSeparators(m_folder));
        return false;
    }
    QSaveFile file(currentFile());
    const QByteArray bytes = format(content);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(currentFile()), file.errorString());
        return false;
    }
    return true;
}

void Script_Recovery::forget()
{
    QFile::remove(currentFile());
}

void Script_Recovery::startNext()
{
    m_name = newName();
}

void Script_Recovery::adopt(const Entry &entry)
{
    m_name = QFileInfo(entry.file).fileName();
}

QList<Script_Recovery::Entry> Script_Recovery::entries() const
{
    QList<Entry> found;
    const QDateTime now = QDateTime::currentDateTime();
    const QFileInfoList files =
        QDir(m_folder).entryInfoList({QStringLiteral("*") + Suffix}, QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : files) {
        if (info.lastModified().secsTo(now) > KeptForSeconds) {
            QFile::remove(info.filePath());
            continue;
        }
        if (info.fileName() == m_name)
            continue;
        QFile file(info.filePath());
        Entry entry{info.filePath(), info.lastModified(), {}};
        // A record of another program's making, or half a disk's worth, is left where it is.
        if (info.size() > Profile_Text::MaxFileSize || !file.open(QIODevice::ReadOnly)
            || !parse(file.readAll(), entry.content))
            continue;
        found.append(std::move(entry));
    }
    std::stable_sort(found.begin(), found.end(), [](const Entry &a, const Entry &b) { return a.kept > b.kept; });
    return found;
}
