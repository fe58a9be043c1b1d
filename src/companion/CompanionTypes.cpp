#include "companion/CompanionTypes.h"

#include "companion/CatLook.h"

namespace {
constexpr std::array<const char *, 11> kStateNames{"idle",  "groom", "walk",    "jump",   "fall",   "sleep",
                                                   "perch", "nest",  "stretch", "pounce", "carried"};
}

QString rawValue(CompanionState state) { return QString::fromLatin1(kStateNames[static_cast<size_t>(state)]); }

std::optional<CompanionState> companionStateFromRaw(const QString &raw)
{
    for (size_t i = 0; i < kStateNames.size(); ++i) {
        if (raw == QLatin1String(kStateNames[i]))
            return static_cast<CompanionState>(i);
    }
    return std::nullopt;
}

QString rawValue(CompanionTemper temper)
{
    return temper == CompanionTemper::lively ? QStringLiteral("lively") : QStringLiteral("calm");
}

std::optional<CompanionTemper> companionTemperFromRaw(const QString &raw)
{
    if (raw == QLatin1String("calm"))
        return CompanionTemper::calm;
    if (raw == QLatin1String("lively"))
        return CompanionTemper::lively;
    return std::nullopt;
}

namespace {
constexpr std::array<const char *, 4> kLookNames{"neutral", "happy", "concerned", "curious"};
}

QString rawValue(CatLook look) { return QString::fromLatin1(kLookNames[static_cast<size_t>(look)]); }

std::optional<CatLook> catLookFromRaw(const QString &raw)
{
    for (size_t i = 0; i < kLookNames.size(); ++i) {
        if (raw == QLatin1String(kLookNames[i]))
            return static_cast<CatLook>(i);
    }
    return std::nullopt;
}
