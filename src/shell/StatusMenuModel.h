#pragma once

#include "focus/FocusSession.h"

#include <QString>

#include <optional>
#include <vector>

// The tray menu as data: what it shows is a function of a few values read the
// moment it opens, so it can be checked without a tray or a state object.
namespace StatusMenu {

// What the menu reads when it opens.
struct State {
    std::optional<QString> readyVersion; // an update downloaded and waiting
    FocusSession focus;
    bool companionEnabled = true;
};

enum class Command {
    installUpdate,
    askTheCat,
    openZephyl,
    startFocus,
    endFocus,
    newPublication,
    toggleCompanion,
    yourCat,
    showDemo,
    checkForUpdates,
    quit,
};

struct Entry {
    bool separator = false;
    QString title; // translated
    std::optional<Command> command;
    // A key shown beside the title ("Alt+Space", "Ctrl+Q"), in QKeySequence's portable text.
    QString shortcut;
    bool checkable = false;
    bool checked = false;
    // The key is another's (the global hot key's): shown beside the title, never
    // taken by the menu.
    bool keyShownOnly = false;

    static Entry line() { return {true, {}, std::nullopt, {}, false, false}; }
};

// Where the commands are offered: the tray's menu, or the workspace window's
// menu bar, which carries them where no tray host runs. The window's menu leaves
// out "Open Zephyl" (it is that window) and gives "Your cat…" its Ctrl+, key.
enum class Place { tray, window };

std::vector<Entry> entries(const State &state, Place place = Place::tray);

} // namespace StatusMenu
