#pragma once

#include "shell/StatusMenuModel.h"

#include <QObject>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

// The tray icon and its menu. The menu is built afresh from `state()` each
// time it opens, and never changes while it is open.
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

private:
    void rebuild();

    std::function<StatusMenu::State()> m_state;
    std::function<void(StatusMenu::Command)> m_run;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_item;
};
