#pragma once

#include "companion/CatLook.h"

#include <QString>

#include <array>

// The cat's expression guessed from a reply it shows in the ask panel.
namespace CatLooks {

// Phrases of apology or failure, and of success, lower case, in the order tried.
extern const std::array<QString, 60> failurePhrases;
extern const std::array<QString, 63> successPhrases;

// Concerned for a failure or an apology (it wins over success), happy for
// something done, curious for a question back (ending with "?" or "?)"), else
// neutral. Phrases are matched as substrings of the text lower-cased with the
// locale-independent Unicode mapping.
CatLook guess(const QString &reply);

} // namespace CatLooks
