#include "scripts/Sys_INI_File.h"

#include "scripts/Profile_Text.h"

QString Read_INI_Value(const QString &Section, const QString &Key, const QString &File_Name)
{
    QByteArray bytes;
    if (!Profile_Text::readFile(File_Name, bytes))
        return QString();
    const QString text = Profile_Text::decode(bytes);
    const QStringView section = Profile_Text::trimBlanks(Section);
    const QStringView key = Profile_Text::trimBlanks(Key);

    // Only the first section of that name is searched: a later one of the same name is never seen.
    bool inside = false;
    Profile_Text::Line_Reader reader(text);
    Profile_Text::Line line;
    while (reader.next(line)) {
        if (line.kind == Profile_Text::Line::Section) {
            if (inside)
                break;
            inside = Profile_Text::sameName(line.name, section);
        } else if (inside && line.kind == Profile_Text::Line::Key && Profile_Text::sameName(line.name, key)) {
            return Profile_Text::value(line.value).toString();
        }
    }
    return QString();
}
