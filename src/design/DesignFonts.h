#pragma once

#include <QFont>

// Fonts are given as on the design's canvas: a size in points that equal logical
// pixels, so text keeps its proportion to the fixed heights around it.
namespace DesignFonts {
enum class Weight { regular, medium, semibold, bold };

QFont system(double size, Weight weight);
QFont serif(double size, Weight weight);
// Letter spacing in points on top of a font (0 leaves it unchanged).
QFont tracked(QFont font, double tracking);
} // namespace DesignFonts
