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

    static Entry line() { return {true, {}, std::nullopt, {}, false, false}; }
};

std::vector<Entry> entries(const State &state);

} // namespace StatusMenu
