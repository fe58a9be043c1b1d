#include "shell/StatusMenuModel.h"

#include "design/L10n.h"

namespace StatusMenu {

namespace {
Entry item(QString title, Command command, QString shortcut = {})
{
    return {false, std::move(title), command, std::move(shortcut), false, false};
}
} // namespace

std::vector<Entry> entries(const State &state, Place place)
{
    std::vector<Entry> out;
    if (state.readyVersion) {
        out.push_back(item(L10n::tf("Update to %@ and restart", *state.readyVersion), Command::installUpdate));
        out.push_back(Entry::line());
    }
    // Shown only: the global hot key does the work.
    Entry ask = item(L10n::t("Ask the cat"), Command::askTheCat, QStringLiteral("Alt+Space"));
    ask.keyShownOnly = true;
    out.push_back(ask);
    if (place == Place::tray)
        out.push_back(item(L10n::t("Open Zephyl"), Command::openZephyl));
    out.push_back(Entry::line());
    if (state.focus.phase.kind == FocusSession::Phase::Kind::idle)
        out.push_back(item(L10n::tf("Start focus (%d min)", state.focus.workMinutes), Command::startFocus));
    else
        out.push_back(item(L10n::t("End focus session"), Command::endFocus));
    out.push_back(item(L10n::t("New publication"), Command::newPublication));
    out.push_back(Entry::line());
    Entry companion = item(L10n::t("Show the companion"), Command::toggleCompanion);
    companion.checkable = true;
    companion.checked = state.companionEnabled;
    out.push_back(companion);
    out.push_back(item(L10n::t("Your cat…"), Command::yourCat, place == Place::window ? QStringLiteral("Ctrl+,") : QString()));
    out.push_back(item(L10n::t("Show what the cat does"), Command::showDemo));
    out.push_back(item(L10n::t("Check for Updates…"), Command::checkForUpdates));
    out.push_back(Entry::line());
    out.push_back(item(L10n::t("Quit Zephyl Kitty"), Command::quit, QStringLiteral("Ctrl+Q")));
    return out;
}

} // namespace StatusMenu
