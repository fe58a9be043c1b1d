#pragma once

#include <QString>

// Phrase lists matched as substrings, in their order: the first hit decides.
namespace Phrases {

// A text as phrases are matched in: the locale-independent Unicode lower case,
// composed (NFC), so that a letter typed or pasted as a base letter with a
// combining mark ("e" + U+0301) matches the phrase written with "é".
inline QString folded(const QString &text) { return text.toLower().normalized(QString::NormalizationForm_C); }

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
