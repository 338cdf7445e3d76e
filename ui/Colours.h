#pragma once

#include <QColor>
#include <QWidget>

// Colours as 24-bit values red + 256 x green + 65536 x blue: 255 is pure red, 65280 pure green.
namespace Colours {

inline constexpr int Black = 0;
inline constexpr int Red = 255;
inline constexpr int Green = 65280;

inline QColor fromValue(int value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

inline int value(const QColor &colour)
{
    return colour.red() + 256 * colour.green() + 65536 * colour.blue();
}

inline void setBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

inline int background(const QWidget *widget)
{
    return value(widget->palette().color(QPalette::Window));
}

} // namespace Colours
