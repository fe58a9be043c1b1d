#pragma once

#include <QString>

// Phrase lists matched as substrings, in their order: the first hit decides.
namespace Phrases {

template <typename List>
const QString *firstContained(const QString &text, const List &phrases)
{
    for (const QString &phrase : phrases) {
        if (text.contains(phrase))
            return &phrase;
    }
    return nullptr;
}

template <typename List>
bool containsAny(const QString &text, const List &phrases)
{
    return firstContained(text, phrases) != nullptr;
}

} // namespace Phrases
