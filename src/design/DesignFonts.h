#pragma once

#include <QFont>
#include <QSizeF>
#include <QStringList>

// Fonts are given as on the design's canvas: a size in points that equal logical
// pixels, so text keeps its proportion to the fixed heights around it.
//
// The faces are packaged ones that carry every weight the design uses: Inter
// for Latin and Cyrillic text, Linux Libertine for the serif titles, the Noto
// faces for Arabic (its naskh style standing for the serif) and Hebrew, and
// Noto Color Emoji. A glyph a face lacks comes from the next face of its list.
// The application's default font becomes the sans list as soon as the
// application object exists, so every window uses it, drawn text included.
namespace DesignFonts {
enum class Weight { regular, medium, semibold, bold, heavy };

QFont system(double size, Weight weight);
QFont serif(double size, Weight weight);
// The design's rounded face; the sans stands in for it.
QFont rounded(double size, Weight weight);
// Letter spacing in points on top of a font (0 leaves it unchanged).
QFont tracked(QFont font, double tracking);

// The height and natural width of one line of `text` as the engine lays it
// out: a script the first face lacks comes from a taller or wider face, which
// the first face's own metrics do not tell. The height is never below the
// first face's line spacing.
QSizeF lineExtent(const QFont &font, const QString &text);

// Makes the sans list the application's default font; done by itself when the
// application object is made.
void installApplicationFont();

// The face lists, first choice first.
QStringList sansFamilies();
QStringList serifFamilies();
} // namespace DesignFonts
