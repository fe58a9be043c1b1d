#pragma once

// Measures a window's picture as WCAG 2.1 asks: text against its ground at
// least 4.5:1 (3:1 when large), the symbol of a button and the edge of a
// button known by its fill 3:1, the drawn cat's edge 3:1 against what is
// behind it. Each shortfall is one line naming the element and its ratio.

#include <QColor>
#include <QImage>
#include <QRgb>
#include <QString>
#include <QStringList>

#include <optional>

class QMenu;
class QWidget;

namespace contrastcheck {

// Worked out here from the formula, apart from the code under test.
double contrast(QRgb a, QRgb b);

// The window as grabbed, laid over `desk` where it is translucent.
QImage picture(QWidget &window, std::optional<QColor> desk = std::nullopt);
// The drawn cat in `area`: along what it casts (soft shadow included), within
// five pixels, it stands out from the ground by 3:1 nearly all the way round.
std::optional<QString> catShortfall(const QImage &image, const QRect &area, const QString &where);
QStringList shortfalls(QWidget &window, const QImage &image);
// `where: shortfall` lines for the window's picture.
QStringList measure(QWidget &window, const QString &where, std::optional<QColor> desk = std::nullopt);
// A shortfall when most of the widget is drawn in another colour than
// `expected`, more than a shade away (a style lifts a menu's ground a little).
QStringList measureGround(QWidget &widget, QRgb expected, const QString &where);
// A menu's enabled entries, each against the ground it is drawn on.
QStringList measureMenu(QMenu &menu, const QString &where);

} // namespace contrastcheck
