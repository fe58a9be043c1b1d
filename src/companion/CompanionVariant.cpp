#include "companion/CompanionVariant.h"

#include <array>

namespace {

// The clip names tried for each state, in order; unused slots are null.
using Names = std::array<const char *, 3>;

Names clipNames(CompanionState state)
{
    switch (state) {
    case CompanionState::idle: return {"idle", "groom"};
    case CompanionState::groom: return {"groom", "idle"};
    case CompanionState::walk: return {"walk"};
    case CompanionState::jump:
    case CompanionState::fall:
    case CompanionState::carried: return {"air", "walk"};
    case CompanionState::sleep: return {"sleep", "idle"};
    case CompanionState::perch: return {"perch", "idle"};
    case CompanionState::nest: return {"nest", "sleep", "idle"};
    case CompanionState::stretch:
    case CompanionState::pounce: return {"idle", "groom"};
    }
    return {};
}

} // namespace

std::optional<CompanionClip> CompanionVariant::clip(CompanionState state) const
{
    if (clips.empty())
        return std::nullopt;
    for (const char *name : clipNames(state)) {
        if (!name)
            break;
        const auto it = clips.find(QString::fromLatin1(name));
        if (it != clips.end())
            return it->second;
    }
    return clips.begin()->second;
}

bool CompanionClip::isPlainFileName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return !name.contains(u'/') && !name.contains(u'\\') && !name.contains(QChar(0));
}

const CompanionVariant &CompanionVariant::drawn()
{
    static const CompanionVariant look{QStringLiteral("drawn"), QStringLiteral("Drawn"), std::nullopt, {}, 68, {84, 62}};
    return look;
}
