#include "shell/StatusMenuController.h"

#include "design/Icons.h"
#include "design/PaletteColors.h"

#include <QAction>
#include <QCursor>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

StatusMenuController::StatusMenuController(std::function<StatusMenu::State()> state,
                                           std::function<void(StatusMenu::Command)> run, QObject *parent)
    : QObject(parent), m_state(std::move(state)), m_run(std::move(run)), m_menu(std::make_unique<QMenu>()),
      m_item(std::make_unique<QSystemTrayIcon>())
{
    m_item->setIcon(icon());
    m_item->setToolTip(QStringLiteral("Zephyl Kitty"));
    m_item->setContextMenu(m_menu.get());
    connect(m_menu.get(), &QMenu::aboutToShow, this, &StatusMenuController::rebuild);
    // A plain click opens the same menu, as the status item does.
    connect(m_item.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && !m_menu->isVisible())
            m_menu->popup(QCursor::pos());
    });
    rebuild();
    m_item->show();
}

StatusMenuController::~StatusMenuController()
{
    m_item->hide();
    m_item->setContextMenu(nullptr);
}

QIcon StatusMenuController::icon()
{
    // "cat.fill" first, as the design's symbol; the set has the paw.
    const QString symbol = Icons::has(QStringLiteral("cat.fill")) ? QStringLiteral("cat.fill") : QStringLiteral("pawprint.fill");
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const double inset = size * 0.08;
        if (!Icons::paint(painter, symbol, QRectF(inset, inset, size - 2 * inset, size - 2 * inset), PaletteColors::color(ZephylPalette::Color::accent, Appearance::light)))
            return {};
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void StatusMenuController::rebuild()
{
    m_menu->clear();
    for (const StatusMenu::Entry &entry : StatusMenu::entries(m_state())) {
        if (entry.separator) {
            m_menu->addSeparator();
            continue;
        }
        // No title has a mnemonic: an "&" (in a version from the feed, say) is shown as it is.
        QAction *action = m_menu->addAction(QString(entry.title).replace(u'&', QStringLiteral("&&")));
        if (!entry.shortcut.isEmpty()) {
            action->setShortcut(QKeySequence(entry.shortcut, QKeySequence::PortableText));
            // Shown for reading: no key of the menu itself may fire it twice.
            action->setShortcutContext(Qt::WidgetShortcut);
        }
        action->setCheckable(entry.checkable);
        action->setChecked(entry.checked);
        const auto command = *entry.command;
        // Queued: the menu closes before a window opens or the application quits.
        connect(action, &QAction::triggered, this, [this, command] {
            QMetaObject::invokeMethod(this, [this, command] { m_run(command); }, Qt::QueuedConnection);
        });
    }
}
