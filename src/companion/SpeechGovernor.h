#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

// Keeps the cat's unasked remarks rare and varied: a least gap between any two,
// a least time before the same remark again, and a most per hour. Nothing is
// kept across launches.
struct SpeechGovernor {
    double minimumGap = 90;   // seconds between two allowed remarks
    double repeatAfter = 1800; // seconds before the same key again
    int perHour = 6;          // remarks within any 3600 seconds
    std::optional<QDateTime> lastSpokeAt;
    QHash<QString, QDateTime> said;
    std::vector<QDateTime> unasked; // oldest first

    // Whether the remark `key` may be said at `now`; when it may, records it.
    // A refusal records nothing (times an hour old are still let go).
    bool allows(const QString &key, const QDateTime &now);
};
