#include "link/Frames.h"

#include <cmath>

namespace Frames {

QByteArray frame(const Kind &kind, QByteArrayView data)
{
    QByteArray bytes(kind.mnemonic.data(), qsizetype(kind.mnemonic.size()));
    bytes.append(data);
    return bytes;
}

namespace {

std::optional<double> textToWhole(const QString &text, const QLocale &locale)
{
    bool ok = false;
    const double value = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    // Halves go to the even neighbour, whatever rounding mode the process runs in.
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    return whole;
}

} // namespace

std::optional<quint8> textToByte(const QString &text, const QLocale &locale)
{
    const std::optional<double> whole = textToWhole(text, locale);
    if (!whole || *whole < 0.0 || *whole > 255.0)
        return std::nullopt;
    return quint8(*whole);
}

std::optional<qint32> textToInt32(const QString &text, const QLocale &locale)
{
    const std::optional<double> whole = textToWhole(text, locale);
    if (!whole || *whole < -2147483648.0 || *whole > 2147483647.0)
        return std::nullopt;
    return qint32(*whole);
}

} // namespace Frames
