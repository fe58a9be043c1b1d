#pragma once

#include "app/PublishFormat.h"
#include "services/Surface.h"
#include "services/WireModels.h"

#include <QString>

#include <cstdint>
#include <optional>

// Small closed sets and plain records passed between the application state, the
// coordinator and the screens.

// Where sign-in stands.
enum class SessionState : std::uint8_t { restoring, signedOut, signedIn };

// State of the feed load. `reason` only with unavailable: the service's status
// code or a described error.
struct FeedStatus {
    enum class Kind : std::uint8_t { unavailable, idle, loading, synced, disconnected };

    Kind kind = Kind::idle;
    QString reason;

    static FeedStatus unavailable(QString reason) { return {Kind::unavailable, std::move(reason)}; }
    static FeedStatus idle() { return {Kind::idle, {}}; }
    static FeedStatus loading() { return {Kind::loading, {}}; }
    static FeedStatus synced() { return {Kind::synced, {}}; }
    static FeedStatus disconnected() { return {Kind::disconnected, {}}; }

    friend bool operator==(const FeedStatus &, const FeedStatus &) = default;
};

// The result of a publication attempt. Every kind but `failed` and `unknown`
// carries the publication as the service reported it; `failed` carries a
// finished sentence. `unknown`: the service may have made it, but neither its
// answer nor a look-up by its key came back; it carries why, in a sentence.
struct PublishOutcome {
    enum class Kind : std::uint8_t { published, scheduled, draftSaved, stillWorking, failed, unknown };

    Kind kind = Kind::failed;
    std::optional<ZephylWire::Publication> publication;
    QString message;

    static PublishOutcome published(ZephylWire::Publication p) { return {Kind::published, std::move(p), {}}; }
    static PublishOutcome scheduled(ZephylWire::Publication p) { return {Kind::scheduled, std::move(p), {}}; }
    static PublishOutcome draftSaved(ZephylWire::Publication p) { return {Kind::draftSaved, std::move(p), {}}; }
    static PublishOutcome stillWorking(ZephylWire::Publication p) { return {Kind::stillWorking, std::move(p), {}}; }
    static PublishOutcome failed(QString message) { return {Kind::failed, std::nullopt, std::move(message)}; }
    static PublishOutcome unknown(QString message) { return {Kind::unknown, std::nullopt, std::move(message)}; }

    // The service holds the post as asked: nothing of it is to be sent again.
    bool wentOut() const { return kind != Kind::failed && kind != Kind::unknown; }

    friend bool operator==(const PublishOutcome &, const PublishOutcome &) = default;
};

// Progress shown while a publication runs: the translated step and 0...1.
struct PublishProgress {
    QString step;
    double fraction = 0;

    friend bool operator==(const PublishProgress &, const PublishProgress &) = default;
};

// What the composer opens with.
struct ComposerPrefill {
    std::optional<PublishFormat> format;
    QString title;
    QString caption;
    QString hashtags;

    friend bool operator==(const ComposerPrefill &, const ComposerPrefill &) = default;
};

// One card of the summary screen. `category` and the texts are already
// translated; `id` is not. `surface` is the screen the card's second button opens.
struct Observation {
    QString id;
    QString category;
    QString title;
    QString detail;
    QString prompt;
    std::optional<Surface> surface;

    friend bool operator==(const Observation &, const Observation &) = default;
};
