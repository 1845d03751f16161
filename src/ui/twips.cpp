#include "twips.h"

#include <QWidget>

#include <cmath>

namespace kibro {

int twipsToPixelsX(const QWidget* widget, double twips)
{
    return static_cast<int>(std::lround(twips * widget->logicalDpiX() / kTwipsPerInch));
}

int twipsToPixelsY(const QWidget* widget, double twips)
{
    return static_cast<int>(std::lround(twips * widget->logicalDpiY() / kTwipsPerInch));
}

double pixelsToTwipsX(const QWidget* widget, int pixels)
{
    return static_cast<double>(pixels) * kTwipsPerInch / widget->logicalDpiX();
}

double pixelsToTwipsY(const QWidget* widget, int pixels)
{
    return static_cast<double>(pixels) * kTwipsPerInch / widget->logicalDpiY();
}

QRect twipsRect(const QWidget* widget, int left, int top, int width, int height)
{
    const int x = twipsToPixelsX(widget, left);
    const int y = twipsToPixelsY(widget, top);
    // Edges are converted, not sizes, so neighbours never overlap through rounding.
    return {x, y, twipsToPixelsX(widget, left + width) - x,
            twipsToPixelsY(widget, top + height) - y};
}

QSize twipsSize(const QWidget* widget, int width, int height)
{
    return {twipsToPixelsX(widget, width), twipsToPixelsY(widget, height)};
}

QFont gothicFont(int pointSize)
{
    QFont font;
    // fontconfig seldom knows the Windows name; the Gothics Debian and others ship follow.
    font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                      QStringLiteral("IPAGothic"), QStringLiteral("IPAゴシック"),
                      QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("VL Gothic"),
                      QStringLiteral("TakaoGothic")});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(pointSize);
    font.setWeight(QFont::Normal);
    return font;
}

} // namespace kibro
