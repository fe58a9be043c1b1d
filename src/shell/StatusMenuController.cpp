#include "shell/StatusMenuController.h"

#include "design/Controls.h"
#include "design/Icons.h"
#include "design/MenuLook.h"
#include "design/PaletteColors.h"

#include <QAction>
#include <QCursor>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QStyleOptionMenuItem>
#include <QSystemTrayIcon>

void ShortcutMenu::initStyleOption(QStyleOptionMenuItem *option, const QAction *action) const
{
    QMenu::initStyleOption(option, action);
    // The menu hands the style "title<Tab>key"; the key goes in a left-to-right isolate.
    if (const qsizetype tab = option->text.indexOf(u'\t'); tab >= 0)
        option->text = option->text.left(tab + 1) + QChar(0x2066) + option->text.mid(tab + 1) + QChar(0x2069);
}

CommandMenu::CommandMenu(QMenu &menu, StatusMenu::Place place, std::function<StatusMenu::State()> state,
                         std::function<void(StatusMenu::Command)> run)
    : QObject(&menu), m_menu(menu), m_place(place), m_state(std::move(state)), m_run(std::move(run))
{
    connect(&m_menu, &QMenu::aboutToShow, this, &CommandMenu::rebuild);
    // Built once at once too, so the keys work before the menu first opens.
    rebuild();
}

void CommandMenu::rebuild()
{
    m_menu.clear();
    for (const StatusMenu::Entry &entry : StatusMenu::entries(m_state(), m_place)) {
        if (entry.separator) {
            m_menu.addSeparator();
            continue;
        }
        // No title has a mnemonic: an "&" (in a version from the feed, say) is shown as it is.
        QAction *action = m_menu.addAction(QString(entry.title).replace(u'&', QStringLiteral("&&")));
        if (!entry.shortcut.isEmpty()) {
            action->setShortcut(QKeySequence(entry.shortcut, QKeySequence::PortableText));
            // The tray's menu belongs to no window: its keys are shown for reading,
            // and no key of the open menu may fire one twice. The window's keys
            // work in every window of the application (Ctrl+Q from the settings
            // window too), but for one another part of the application answers.
            action->setShortcutContext(m_place == StatusMenu::Place::window && !entry.keyShownOnly
                                           ? Qt::ApplicationShortcut
                                           : Qt::WidgetShortcut);
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

StatusMenuController::StatusMenuController(std::function<StatusMenu::State()> state,
                                           std::function<void(StatusMenu::Command)> run, QObject *parent)
    : QObject(parent), m_menu(std::make_unique<ShortcutMenu>()), m_item(std::make_unique<QSystemTrayIcon>())
{
    new CommandMenu(*m_menu, StatusMenu::Place::tray, std::move(state), std::move(run));
    m_item->setIcon(icon());
    m_item->setToolTip(QStringLiteral("Zephyl Kitty"));
    m_item->setContextMenu(m_menu.get());
    // A plain click opens the same menu, as the status item does.
    connect(m_item.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && !m_menu->isVisible())
            MenuLook::popup(m_menu.get(), QCursor::pos());
    });
    // Shown even with no tray host yet: the icon appears when one starts.
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

QMenuBar *StatusMenuController::makeMenuBar(QWidget *window, std::function<StatusMenu::State()> state,
                                            std::function<void(StatusMenu::Command)> run)
{
    auto *bar = new QMenuBar(window);
    // The product's name, as the tray's tooltip has it; Alt+Z opens it.
    auto *menu = new ShortcutMenu(QStringLiteral("&Zephyl Kitty"), bar);
    bar->addMenu(menu);
    // On the window's own ground, as the rest of the window.
    MenuColors::follow(bar, ZephylPalette::Color::background);
    new CommandMenu(*menu, StatusMenu::Place::window, std::move(state), std::move(run));
    return bar;
}
