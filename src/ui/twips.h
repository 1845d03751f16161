#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace kibro {

// Layout is designed in twips (1/1440 inch) and converted through the screen's logical
// DPI, so it keeps its proportions on a high-DPI screen.
constexpr int kTwipsPerInch = 1440;

[[nodiscard]] int twipsToPixelsX(const QWidget* widget, double twips);
[[nodiscard]] int twipsToPixelsY(const QWidget* widget, double twips);
[[nodiscard]] double pixelsToTwipsX(const QWidget* widget, int pixels);
[[nodiscard]] double pixelsToTwipsY(const QWidget* widget, int pixels);
[[nodiscard]] QRect twipsRect(const QWidget* widget, int left, int top, int width, int height);
[[nodiscard]] QSize twipsSize(const QWidget* widget, int width, int height);

// The design's fixed-pitch "ＭＳ ゴシック" at a point size, or the installed Japanese Gothic
// that stands in for it. Points go through the same logical DPI as the twips.
[[nodiscard]] QFont gothicFont(int pointSize);

} // namespace kibro
