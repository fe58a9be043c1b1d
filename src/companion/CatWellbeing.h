#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QTimeZone>

#include <optional>

class DefaultsStore;

// The cat's care record: when it was first seen and fed, and when it last
// nudged about hunger or yawned about the hour.
struct CatWellbeing {
    enum class Mood { fed, peckish, hungry };

    static constexpr const char *kDefaultsKey = "zephyl.mac.cat.wellbeing";

    QDateTime firstSeenAt;
    std::optional<QDateTime> lastFedAt;
    qint64 fedCount = 0;
    std::optional<QDateTime> lastNudgeAt;
    std::optional<QDateTime> lastYawnAt;

    // The stored record, or a fresh one first seen `now`. Loading writes nothing.
    static CatWellbeing load(const DefaultsStore &defaults, const QDateTime &now);
    void save(DefaultsStore &defaults) const;

    // The stored form: a JSON object, dates as seconds since 2001-01-01 UTC,
    // absent dates left out. decode() is strict about the required fields.
    QByteArray encode() const;
    static std::optional<CatWellbeing> decode(const QByteArray &json);

    Mood mood(const QDateTime &at) const;
    bool wantsToNudge(const QDateTime &at, const QTimeZone &calendar = QTimeZone::systemTimeZone()) const;
    bool wantsToYawn(const QDateTime &at, const QTimeZone &calendar = QTimeZone::systemTimeZone()) const;
    qint64 daysSinceFed(const QDateTime &at) const;

    void recordMeal(const QDateTime &at)
    {
        lastFedAt = at;
        ++fedCount;
    }

    friend bool operator==(const CatWellbeing &, const CatWellbeing &) = default;
};

// Counts the user's active working time and says when a break is due.
struct BreakClock {
    int intervalMinutes = 50;
    double activeSeconds = 0;
    std::optional<QDateTime> lastTick;

    // True when a break is due. `paused`: a focus session is under way.
    bool tick(double idleSeconds, bool paused, const QDateTime &now);

    friend bool operator==(const BreakClock &, const BreakClock &) = default;
};
