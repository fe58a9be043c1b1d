#include "companion/CatWellbeing.h"

#include "base/DefaultsStore.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

// The platform's reference date for stored dates.
constexpr qint64 kReferenceMs = 978'307'200'000; // 2001-01-01 00:00:00 UTC

double toReference(const QDateTime &t) { return double(t.toMSecsSinceEpoch() - kReferenceMs) / 1000.0; }

std::optional<QDateTime> fromReference(const QJsonValue &v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double ms = std::round(v.toDouble() * 1000.0);
    // Out-of-range instants do not decode rather than wrapping around.
    if (!std::isfinite(ms) || std::abs(ms) > 1e16)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(qint64(ms) + kReferenceMs, Qt::UTC);
}

// Absent and null optional dates decode as none; any other type fails.
bool optionalDate(const QJsonObject &o, const char *key, std::optional<QDateTime> &out)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull()) {
        out.reset();
        return true;
    }
    out = fromReference(v);
    return out.has_value();
}

double secondsBetween(const QDateTime &from, const QDateTime &to)
{
    return double(to.toMSecsSinceEpoch() - from.toMSecsSinceEpoch()) / 1000.0;
}

} // namespace

CatWellbeing CatWellbeing::load(const DefaultsStore &defaults, const QDateTime &now)
{
    if (const auto data = defaults.data(QLatin1String(kDefaultsKey))) {
        if (auto record = decode(*data))
            return *record;
        // A record that cannot be read counts as absent; only the log says so.
        qWarning("The stored cat wellbeing record could not be read; it counts as absent.");
    }
    CatWellbeing fresh;
    fresh.firstSeenAt = now;
    return fresh;
}

void CatWellbeing::save(DefaultsStore &defaults) const { defaults.setData(QLatin1String(kDefaultsKey), encode()); }

QByteArray CatWellbeing::encode() const
{
    QJsonObject o;
    o.insert(QStringLiteral("firstSeenAt"), toReference(firstSeenAt));
    if (lastFedAt)
        o.insert(QStringLiteral("lastFedAt"), toReference(*lastFedAt));
    o.insert(QStringLiteral("fedCount"), fedCount);
    if (lastNudgeAt)
        o.insert(QStringLiteral("lastNudgeAt"), toReference(*lastNudgeAt));
    if (lastYawnAt)
        o.insert(QStringLiteral("lastYawnAt"), toReference(*lastYawnAt));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<CatWellbeing> CatWellbeing::decode(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    CatWellbeing w;
    const auto first = fromReference(o.value(QLatin1String("firstSeenAt")));
    if (!first)
        return std::nullopt;
    w.firstSeenAt = *first;
    const QJsonValue count = o.value(QLatin1String("fedCount"));
    // A count must be a whole number that fits.
    if (!count.isDouble() || count.toDouble() != std::trunc(count.toDouble()) || std::abs(count.toDouble()) > 9e15)
        return std::nullopt;
    w.fedCount = qint64(count.toDouble());
    if (!optionalDate(o, "lastFedAt", w.lastFedAt) || !optionalDate(o, "lastNudgeAt", w.lastNudgeAt) ||
        !optionalDate(o, "lastYawnAt", w.lastYawnAt))
        return std::nullopt;
    return w;
}

CatWellbeing::Mood CatWellbeing::mood(const QDateTime &at) const
{
    const double hours = secondsBetween(lastFedAt.value_or(firstSeenAt), at) / 3600.0;
    if (hours <= 36)
        return Mood::fed;
    if (hours <= 96)
        return Mood::peckish;
    return Mood::hungry;
}

bool CatWellbeing::wantsToNudge(const QDateTime &at, const QTimeZone &calendar) const
{
    if (mood(at) != Mood::hungry)
        return false;
    const int hour = at.toTimeZone(calendar).time().hour();
    if (hour < 11 || hour > 20)
        return false;
    return !lastNudgeAt || secondsBetween(*lastNudgeAt, at) >= 72'000;
}

bool CatWellbeing::wantsToYawn(const QDateTime &at, const QTimeZone &calendar) const
{
    const int hour = at.toTimeZone(calendar).time().hour();
    if (!(hour < 5 || hour >= 23))
        return false;
    return !lastYawnAt || secondsBetween(*lastYawnAt, at) >= 28'800;
}

qint64 CatWellbeing::daysSinceFed(const QDateTime &at) const
{
    const double days = secondsBetween(lastFedAt.value_or(firstSeenAt), at) / 86'400.0;
    return std::max<qint64>(0, qint64(std::trunc(days)));
}

bool BreakClock::tick(double idleSeconds, bool paused, const QDateTime &now)
{
    bool due = false;
    if (!lastTick) {
        // The first tick after start only sets the reference.
    } else if (idleSeconds >= 300) {
        activeSeconds = 0;
    } else if (!paused) {
        double step = secondsBetween(*lastTick, now);
        // A sleeping machine or a stalled timer does not count as work.
        step = step <= 0 ? 0 : std::min(step, 120.0);
        activeSeconds += step;
        if (activeSeconds >= intervalMinutes * 60.0) {
            activeSeconds = 0;
            due = true;
        }
    }
    lastTick = now;
    return due;
}
