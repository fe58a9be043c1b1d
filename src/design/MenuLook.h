#pragma once

#include <QPoint>

class QAction;
class QMenu;

// Every menu of the application (a row's or a tile's, the tray's, the window's,
// a text field's own) in the palette's colours as the appearance changes, its
// dividers drawn where they can be seen and an entry that destroys in the
// attention colour. Menus take this look by themselves, once the application
// object exists; what a menu's owner adds is the destructive mark, and opening
// it through `popup` or `exec`.
namespace MenuLook {

// Marks `action` as one that destroys what it acts on (deletes, removes).
void markDestructive(QAction *action);
bool isDestructive(const QAction *action);

// Opens `menu` at `at` (global pixels), reaching from the point toward the
// side the language reads to: leftward in a right-to-left layout, rightward
// otherwise, wherever the point is (under the pointer or, from the keyboard,
// on a control), as far as the screen leaves room.
void popup(QMenu *menu, const QPoint &at);
QAction *exec(QMenu *menu, const QPoint &at);

} // namespace MenuLook
