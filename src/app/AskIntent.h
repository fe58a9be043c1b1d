#pragma once

#include "services/Surface.h"

#include <QString>

#include <array>
#include <optional>

// A command typed to the cat that the application carries out itself, without
// the assistant and even when nobody is signed in.
struct AskIntent {
    enum class Kind { startFocus, openSurface, stopFocus, tuckAway, compose };

    Kind kind = Kind::stopFocus;
    int focusMinutes = 0;            // startFocus: 1...180
    Surface surface = Surface::plan; // openSurface: plan, grid or profile

    static AskIntent startFocus(int minutes) { return {Kind::startFocus, minutes, Surface::plan}; }
    static AskIntent openSurface(Surface surface) { return {Kind::openSurface, 0, surface}; }
    static AskIntent stopFocus() { return {Kind::stopFocus, 0, Surface::plan}; }
    static AskIntent tuckAway() { return {Kind::tuckAway, 0, Surface::plan}; }
    static AskIntent compose() { return {Kind::compose, 0, Surface::plan}; }

    friend bool operator==(const AskIntent &a, const AskIntent &b)
    {
        return a.kind == b.kind && (a.kind != Kind::startFocus || a.focusMinutes == b.focusMinutes) &&
               (a.kind != Kind::openSurface || a.surface == b.surface);
    }

    // The command in the text, if it is one. A question ("?" or "؟" anywhere)
    // never is. Phrases are matched as substrings of the text lower-cased with
    // the locale-independent Unicode mapping, first list first.
    static std::optional<AskIntent> detect(const QString &text);
    // A duration such as "45 min", "30 минут" or "20 dk": the whole run of
    // digits before the minute word, clamped to 1...180.
    static std::optional<int> minutes(const QString &text);

    // The phrase lists, lower case, in the order tried.
    static const std::array<QString, 43> stopWords;
    static const std::array<QString, 43> tuckWords;
    static const std::array<QString, 32> focusWords;
    static const std::array<QString, 74> askingWords;
    static const std::array<QString, 6> planWords;
    static const std::array<QString, 4> gridWords;
    static const std::array<QString, 6> profileWords;
    static const std::array<QString, 7> composeWords;
};
