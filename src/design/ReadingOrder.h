#pragma once

#include <QList>

class QWidget;

// Tab goes through the controls of a view in the order they read, whatever
// order they were made in. The toolkit puts a control made later at the end of
// its window's Tab order: a part of a view made again (a card's rows once an
// account is connected, a list filled anew) would come after everything else.
namespace ReadingOrder {
// The controls below `root` that Tab stops at, shown or not, in the order
// their layouts place them (a leading column before a trailing one, a row
// before the one under it), one container after another.
QList<QWidget *> controls(const QWidget *root);
// Puts the Tab order of the controls below `root` in that order, now and
// again after each event that adds a widget below it.
void keep(QWidget *root);
} // namespace ReadingOrder
