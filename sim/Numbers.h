#pragma once

#include <QString>

#include <optional>

namespace Numbers {

// A whole number written in decimal, or with 0x (hexadecimal) or 0b (binary) before it,
// that lies in minimum to maximum; anything else gives none.
inline std::optional<int> whole(const QString &text, int minimum, int maximum)
{
    const QString t = text.trimmed();
    bool ok = false;
    int value = 0;
    if (t.startsWith(u"0x", Qt::CaseInsensitive))
        value = t.sliced(2).toInt(&ok, 16);
    else if (t.startsWith(u"0b", Qt::CaseInsensitive))
        value = t.sliced(2).toInt(&ok, 2);
    else
        value = t.toInt(&ok, 10);
    if (!ok || value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

} // namespace Numbers
