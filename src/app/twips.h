#pragma once

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

} // namespace kibro
