#include "design/MenuLook.h"

#include "design/AppearanceService.h"
#include "design/Controls.h"
#include "design/EventTargets.h"
#include "design/Legibility.h"
#include "design/PaletteColors.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleOptionMenuItem>

#include <algorithm>
#include <optional>
#include <utility>

using ZephylPalette::Color;

namespace {
const char *const kDestructive = "zkDestructive";
// Where the owner asked the menu to open, until it is shown there.
const char *const kAnchor = "zkMenuAnchor";

// The toolkit's menu with the palette's dividers and destructive entries. Its
// own divider is a shadow blended into the ground, which vanishes on a dark one.
class MenuStyle final : public QProxyStyle {
public:
    static MenuStyle *shared()
    {
        // Lives as long as the application, like the menus that use it.
        static MenuStyle *style = [] {
            auto *s = new MenuStyle;
            s->setParent(qApp);
            return s;
        }();
        return style;
    }

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        // An entry that cannot be chosen is drawn fainter, not embossed in a
        // light colour that stands out on a dark ground.
        if (hint == SH_EtchDisabledText)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    QSize sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                           const QWidget *widget) const override
    {
        const QSize base = QProxyStyle::sizeFromContents(type, option, size, widget);
        const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
        if (type == CT_MenuItem && item && item->menuItemType == QStyleOptionMenuItem::Separator &&
            item->text.isEmpty())
            return {base.width(), kDividerHeight};
        return base;
    }

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
        if (element != CE_MenuItem || !item) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        if (item->menuItemType == QStyleOptionMenuItem::Separator && item->text.isEmpty()) {
            painter->fillRect(item->rect, item->palette.window());
            // The text colour at 30 %: plainly seen on either ground (2:1 and
            // more), lighter than any word.
            QColor ink = PaletteColors::color(Color::text);
            ink.setAlphaF(0.3f);
            const QRect r = item->rect;
            painter->fillRect(QRect(r.left() + kDividerInset, r.top() + r.height() / 2, r.width() - 2 * kDividerInset, 1),
                              ink);
            return;
        }
        const auto *menu = qobject_cast<const QMenu *>(widget);
        const QAction *action = menu ? menu->actionAt(item->rect.center()) : nullptr;
        if (!action || !MenuLook::isDestructive(action) || !(item->state & State_Enabled)) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        // The attention colour, as the editor's Delete has it, legible on the
        // ground and under the pointer's soft accent alike.
        const Appearance appearance = AppearanceService::shared().appearance();
        const QColor onGround = PaletteColors::color(ZephylPalette::legibleOn(Color::attention, Color::surface, appearance));
        const QColor underPointer =
            PaletteColors::color(ZephylPalette::legibleOn(Color::attention, Color::accentSoft, appearance));
        QStyleOptionMenuItem marked(*item);
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
                marked.palette.setColor(group, role, onGround);
            marked.palette.setColor(group, QPalette::HighlightedText, underPointer);
        }
        QProxyStyle::drawControl(element, &marked, painter, widget);
    }

private:
    static constexpr int kDividerHeight = 9;
    static constexpr int kDividerInset = 8;
};

// Opened from a point that is not under the pointer (from the keyboard), the
// toolkit lays a menu out to the right of it in every language; under the
// pointer it turns right-to-left ones round itself. A menu given a point here
// is placed from that point before it is first drawn.
void place(QMenu *menu)
{
    const QVariant anchor = menu->property(kAnchor);
    menu->setProperty(kAnchor, QVariant());
    if (!anchor.isValid())
        return;
    const QPoint at = anchor.toPoint();
    const QScreen *screen = QGuiApplication::screenAt(at);
    const QRect room = (screen ? screen : menu->screen())->availableGeometry();
    const int width = menu->width();
    // Toward the reading side; where that runs off the screen, the other way,
    // so the point stays in sight; where neither fits, as far as there is room.
    const bool rtl = menu->isRightToLeft();
    const int toward = rtl ? at.x() - width : at.x(), away = rtl ? at.x() : at.x() - width;
    const auto fits = [&](int x) { return x >= room.left() && x + width <= room.right() + 1; };
    const int x = fits(toward) ? toward
                  : fits(away) ? away
                               : std::clamp(toward, room.left(), std::max(room.left(), room.right() + 1 - width));
    menu->move(x, menu->y());
}

// Gives every menu the look as it is made ready, and places it as it is shown.
// A menu a widget opens for the keyboard's context menu request (a text
// field's own) is placed from the point that request names.
class MenuWatcher final : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Shift+F10 is the menu key of keyboards without one: the focused
        // control is asked for its menu as that key asks it (a composer
        // tile's through its remove mark, a text field's own).
        if (event->type() == QEvent::KeyPress && watched == QApplication::focusWidget() &&
            !qobject_cast<QMenu *>(watched)) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() != Qt::Key_F10 || (key->modifiers() & ~Qt::KeypadModifier) != Qt::ShiftModifier)
                return false;
            auto *control = static_cast<QWidget *>(watched);
            // Inside a view that shows no menu of its own (the web workspace's
            // page) the key stays the page's.
            for (QWidget *up = control; up; up = up->isWindow() ? nullptr : up->parentWidget()) {
                if (up->contextMenuPolicy() == Qt::NoContextMenu)
                    return false;
            }
            // From the caret where there is one, as the menu key asks.
            const QRect caret = control->testAttribute(Qt::WA_InputMethodEnabled)
                                    ? control->inputMethodQuery(Qt::ImCursorRectangle).toRect()
                                    : QRect();
            const QPoint at = caret.isValid() ? caret.center() : control->rect().center();
            QContextMenuEvent asked(QContextMenuEvent::Keyboard, at, control->mapToGlobal(at), key->modifiers());
            QCoreApplication::sendEvent(control, &asked);
            return true;
        }
        if (event->type() == QEvent::ContextMenu && EventTargets::widget(watched)) {
            const auto *asked = static_cast<QContextMenuEvent *>(event);
            if (asked->reason() == QContextMenuEvent::Keyboard && !m_keyboardAt) {
                m_keyboardAt = asked->globalPos();
                // A menu for it is shown while the request is handled, or none is.
                QMetaObject::invokeMethod(this, [this] { m_keyboardAt.reset(); }, Qt::QueuedConnection);
            }
            return false;
        }
        if (event->type() != QEvent::Polish && event->type() != QEvent::Show)
            return false;
        auto *menu = qobject_cast<QMenu *>(watched);
        if (!menu)
            return false;
        if (event->type() == QEvent::Show) {
            if (m_keyboardAt && !menu->property(kAnchor).isValid())
                menu->setProperty(kAnchor, *std::exchange(m_keyboardAt, std::nullopt));
            place(menu);
        } else if (menu->style() != MenuStyle::shared()) {
            menu->setStyle(MenuStyle::shared());
            MenuColors::follow(menu);
        }
        return false;
    }

private:
    std::optional<QPoint> m_keyboardAt;
};

void watchMenus()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    auto *watcher = new MenuWatcher;
    watcher->setParent(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(watcher);
}
} // namespace
Q_COREAPP_STARTUP_FUNCTION(watchMenus)

namespace MenuLook {

void markDestructive(QAction *action) { action->setProperty(kDestructive, true); }

bool isDestructive(const QAction *action) { return action->property(kDestructive).toBool(); }

void popup(QMenu *menu, const QPoint &at)
{
    menu->setProperty(kAnchor, at);
    menu->popup(at);
}

QAction *exec(QMenu *menu, const QPoint &at)
{
    menu->setProperty(kAnchor, at);
    return menu->exec(at);
}

} // namespace MenuLook
