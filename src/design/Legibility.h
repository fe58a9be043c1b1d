#pragma once

#include "design/ZephylPalette.h"

// How far two colours stand apart, as WCAG 2.1 measures it, and the palette's
// answer where a tone colour would not stand out from the fill it sits on.
namespace ZephylPalette {

// Words need 4.5:1 against their ground; large words, symbols and the edges
// of a control 3:1.
constexpr double kTextContrast = 4.5;
constexpr double kShapeContrast = 3.0;

// Relative luminance of an opaque sRGB value (0xRRGGBB), 0 to 1.
double luminance(quint32 rgb);
// (lighter + 0.05) / (darker + 0.05): 1 for one colour twice, 21 for black on white.
double contrastRatio(quint32 a, quint32 b);
// The member to draw `ink` in on `ground`: `ink` itself where it reaches
// `need`; otherwise `text`, the palette's strongest ink, where that reads better.
// On the translucent `line`, `ink` as it is.
Color legibleOn(Color ink, Color ground, Appearance appearance, double need = kTextContrast);

} // namespace ZephylPalette
