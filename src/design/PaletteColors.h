#pragma once

#include "design/ZephylPalette.h"

#include <QColor>

// Palette members as QColors, resolved at the moment of drawing.
namespace PaletteColors {
QColor color(ZephylPalette::Color member, Appearance appearance);
// For the current appearance of the application.
QColor color(ZephylPalette::Color member);
} // namespace PaletteColors
