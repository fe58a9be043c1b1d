#pragma once

#include "web/InWindowCatStage.h"

#include <QJsonValue>
#include <QRectF>
#include <QString>
#include <QUrl>

#include <optional>
#include <variant>

// The messages the service's page posts to the application, read strictly: the
// page is trusted for nothing beyond these shapes. A body of another shape gives
// no message at all, so nothing is ever half-applied.
namespace PageMessage {

struct Session {
    bool signedIn = false;
    QString path;
    QString email;
    QString displayName;
};

struct State {
    std::optional<QString> view; // present when "view" is text, empty included
    bool composerOpen = false;
    std::optional<QString> theme;
    std::optional<QString> lang;
};

struct Focus {};

enum class SceneName { composerOpen, composerSheet, assistantOpen, composerClose };

struct Scene {
    SceneName name = SceneName::composerOpen;
    std::optional<QRectF> from;
    std::optional<QRectF> target;
    std::optional<QRectF> sheet;
    std::optional<QRectF> plan;
    std::optional<QString> outcome;
};

struct Mood {
    InWindowCatStage::Look look = InWindowCatStage::Look::sit;
};

struct Publication {
    QString id;
    QString status;
    std::optional<QUrl> platformURL;
    std::optional<QString> scheduledAt;
};

using Message = std::variant<Session, State, Focus, Scene, Mood, Publication>;

std::optional<Message> parse(const QJsonValue &body);

// A rectangle in the page's coordinates: an object with the numbers "x", "y",
// "w" and "h"; none for anything else.
std::optional<QRectF> rect(const QJsonValue &value);

} // namespace PageMessage
