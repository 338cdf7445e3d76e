#include "scripts/Profile_Text.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace Profile_Text {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80 to 0x9F; its five unassigned bytes there
// keep their C1 code points, as Windows itself maps them.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString fromWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char c : bytes) {
        const auto b = uchar(c);
        *out++ = (b >= 0x80 && b < 0xA0) ? QChar(Cp1252High[b - 0x80]) : QChar(b);
    }
    return text;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

bool readFile(const QString &fileName, QByteArray &bytes, QString *why)
{
    auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    const QFileInfo info(fileName);
    if (!info.exists())
        return fail(QStringLiteral("the file does not exist"));
    // A folder, a pipe or a device is never a script, and a pipe would block the reader.
    if (!info.isFile())
        return fail(QStringLiteral("not a regular file"));
    if (info.size() > MaxFileSize)
        return fail(QStringLiteral("the file is larger than %1 MB").arg(MaxFileSize >> 20));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    bytes = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    if (bytes.size() > MaxFileSize)
        return fail(QStringLiteral("the file is larger than %1 MB").arg(MaxFileSize >> 20));
    return true;
}

QString decode(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    // Only the one mark before the first line is dropped; a second one belongs to the text.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return fromWindows1252(bytes);
}

QStringView trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QStringView value(QStringView raw)
{
    QStringView text = trimBlanks(raw);
    if (text.size() > MaxValueLength) {
        qsizetype length = MaxValueLength;
        if (text[length - 1].isHighSurrogate() && text[length].isLowSurrogate())
            --length;
        text = trimBlanks(text.first(length));
    }
    return text;
}

bool Line_Reader::next(Line &line)
{
    if (m_done)
        return false;
    qsizetype end = 0;
    while (end < m_rest.size() && m_rest[end] != u'\n' && m_rest[end] != u'\r')
        ++end;
    const QStringView text = m_rest.first(end);
    if (end == m_rest.size()) {
        m_done = true;
    } else {
        qsizetype skip = 1;
        if (m_rest[end] == u'\r' && end + 1 < m_rest.size() && m_rest[end + 1] == u'\n')
            skip = 2;
        m_rest = m_rest.sliced(end + skip);
        // A last line ended by its break is not followed by an empty one.
        m_done = m_rest.isEmpty();
    }

    line = Line{};
    const QStringView content = trimBlanks(text);
    if (content.isEmpty() || content.front() == u';')
        return true;
    if (content.front() == u'[') {
        const qsizetype close = content.lastIndexOf(u']');
        if (close > 0) {
            line.kind = Line::Section;
            line.name = trimBlanks(content.sliced(1, close - 1));
            return true;
        }
    }
    const qsizetype equals = content.indexOf(u'=');
    if (equals >= 0) {
        line.kind = Line::Key;
        line.name = trimBlanks(content.first(equals));
        line.value = content.sliced(equals + 1);
    }
    return true;
}

} // namespace Profile_Text
