#pragma once

#include "shell/StatusMenuModel.h"

#include <QMenu>
#include <QObject>

#include <functional>
#include <memory>

class QMenuBar;
class QSystemTrayIcon;
class QWidget;

// A menu whose keys read as they are typed in a right-to-left layout too: laid
// out as part of an Arabic or Hebrew line, "Ctrl+," would be drawn as ",+Ctrl".
class ShortcutMenu final : public QMenu {
public:
    using QMenu::QMenu;

protected:
    void initStyleOption(QStyleOptionMenuItem *option, const QAction *action) const override;
};

// Fills a menu with the application's commands: afresh from `state()` each time
// it opens (it never changes while open), each command handed to `run` once the
// menu has closed. The tray's menu and the workspace window's menu bar are two
// of these over the same state and the same commands.
class CommandMenu final : public QObject {
    Q_OBJECT
public:
    CommandMenu(QMenu &menu, StatusMenu::Place place, std::function<StatusMenu::State()> state,
                std::function<void(StatusMenu::Command)> run);

private:
    void rebuild();

    QMenu &m_menu;
    StatusMenu::Place m_place;
    std::function<StatusMenu::State()> m_state;
    std::function<void(StatusMenu::Command)> m_run;
};

// The tray icon and its menu.
class StatusMenuController final : public QObject {
    Q_OBJECT
public:
    StatusMenuController(std::function<StatusMenu::State()> state, std::function<void(StatusMenu::Command)> run,
                         QObject *parent = nullptr);
    ~StatusMenuController() override;

    QSystemTrayIcon *item() const { return m_item.get(); }
    QMenu *menu() const { return m_menu.get(); }

    // The cat mark of the tray, in a colour that reads on light and dark panels; no
    // icon when the set has neither the cat nor the paw.
    static QIcon icon();

    // The workspace window's menu bar: one menu named after the application with
    // the tray's commands, where a desktop without a tray host still reaches them;
    // Ctrl+, and Ctrl+Q work while any window of the application is active.
    static QMenuBar *makeMenuBar(QWidget *window, std::function<StatusMenu::State()> state,
                                 std::function<void(StatusMenu::Command)> run);

private:
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_item;
};
