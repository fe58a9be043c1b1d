#pragma once

#include <QColor>
#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;

// A small set of line icons drawn with QPainter, standing in for the system symbols
// the screens name ("checkmark.circle", "camera", ...). Each icon is drawn in the
// largest square centred in `rect`.
namespace Icons {
// False, drawing nothing, for a name the set does not hold. Directional icons
// (the chevrons) are mirrored in a right-to-left layout, as the system's are.
bool paint(QPainter &painter, const QString &name, const QRectF &rect, const QColor &color,
           Qt::LayoutDirection direction = Qt::LeftToRight);
bool isDirectional(const QString &name);
bool has(const QString &name);
QStringList names();
// The icon box for a symbol shown at a font size, so icons sit like glyphs.
double boxForFontSize(double size);
} // namespace Icons
