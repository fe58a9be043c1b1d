#include "companion/SpeechGovernor.h"

#include <algorithm>

namespace {
double secondsBetween(const QDateTime &from, const QDateTime &to) { return from.msecsTo(to) / 1000.0; }
} // namespace

bool SpeechGovernor::allows(const QString &key, const QDateTime &now)
{
    if (lastSpokeAt && secondsBetween(*lastSpokeAt, now) < minimumGap)
        return false;
    if (const auto it = said.constFind(key); it != said.constEnd() && secondsBetween(*it, now) < repeatAfter)
        return false;
    std::erase_if(unasked, [&](const QDateTime &t) { return secondsBetween(t, now) >= 3600; });
    if (int(unasked.size()) >= perHour)
        return false;
    unasked.push_back(now);
    said.insert(key, now);
    lastSpokeAt = now;
    return true;
}
