#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// The cat's expression on its face pictures and in its lines.
enum class CatLook : std::uint8_t { neutral, happy, concerned, curious };

inline constexpr std::array<CatLook, 4> kAllCatLooks{CatLook::neutral, CatLook::happy, CatLook::concerned,
                                                     CatLook::curious};

QString rawValue(CatLook look);
// Exactly the four raw values; anything else is none.
std::optional<CatLook> catLookFromRaw(const QString &raw);

inline size_t qHash(CatLook look, size_t seed = 0) noexcept { return size_t(look) ^ seed; }
