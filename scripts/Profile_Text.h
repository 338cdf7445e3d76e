#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Line-level reading of private-profile (INI) text, shared by Read_INI_Value and the script
// reader so that both follow the same rules.
namespace Profile_Text {

inline constexpr qsizetype MaxValueLength = 149;
// Far beyond any script (32767 actions take about 5 MB); a bigger file is not read at all.
inline constexpr qint64 MaxFileSize = qint64(64) << 20;

// Reads a whole regular file of at most MaxFileSize bytes; false with the reason otherwise.
bool readFile(const QString &fileName, QByteArray &bytes, QString *why = nullptr);

// UTF-8 when the bytes are valid UTF-8, else Windows-1252; one UTF-8 byte-order mark before
// the first line is dropped.
QString decode(QByteArrayView bytes);

QStringView trimBlanks(QStringView text);
bool sameName(QStringView a, QStringView b);

// The value as read: blanks around it removed, cut to MaxValueLength characters (never inside
// a surrogate pair), and blanks the cut left at its end removed as well.
QStringView value(QStringView raw);

struct Line
{
    enum Kind { Other, Section, Key };
    Kind kind = Other;
    QStringView name;  // section or key name, blanks around it removed
    QStringView value; // everything after the first "=", as it stands
};

// Splits text at LF, CR LF or a lone CR. "[name]" opens a section, a line with "=" is a key,
// anything else (a line starting with ";" included) is ignored.
class Line_Reader
{
public:
    explicit Line_Reader(QStringView text) : m_rest(text) {}
    bool next(Line &line);

private:
    QStringView m_rest;
    bool m_done = false;
};

} // namespace Profile_Text
