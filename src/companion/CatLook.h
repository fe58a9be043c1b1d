#pragma once

#include <QString>

#include <array>
#include <optional>

// The cat's expression in the ask panel and on its chat lines.
enum class CatLook { neutral, happy, concerned, curious };

namespace CatLooks {
constexpr std::array<CatLook, 4> allCases{CatLook::neutral, CatLook::happy, CatLook::concerned, CatLook::curious};
// The case's own name: "neutral", "happy", "concerned", "curious".
QString rawValue(CatLook look);
// Exactly those four names; nothing for any other text.
std::optional<CatLook> fromRaw(const QString &raw);

// Phrases of apology or failure, and of success, lower case, in the order tried.
extern const std::array<QString, 60> failurePhrases;
extern const std::array<QString, 63> successPhrases;

// The expression that fits a reply: concerned for a failure or an apology (it
// wins over success), happy for something done, curious for a question back
// (ending with "?" or "?)"), else neutral. Phrases are matched as substrings of
// the text lower-cased with the locale-independent Unicode mapping.
CatLook guess(const QString &reply);
} // namespace CatLooks

inline size_t qHash(CatLook look, size_t seed = 0) noexcept { return size_t(look) ^ seed; }
