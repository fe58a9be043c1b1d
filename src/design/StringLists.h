#pragma once

#include "design/ServiceDomain.h"

#include <array>
#include <cstddef>

// The fixed, ordered (English text, translation) lists behind the translation
// tables. One list per language, each in its own file under strings/, all holding
// the same keys in the same order. Texts are UTF-8 literals.
struct StringPair {
    const char *key;
    const char *value;
};

namespace StringLists {
inline constexpr std::size_t keyCount = 456;
using List = std::array<StringPair, keyCount>;

extern const List russian;
extern const List spanish;
extern const List german;
extern const List french;
extern const List portuguese;
extern const List italian;
extern const List turkish;
extern const List arabic;
extern const List hebrew;
extern const List norwegian;
extern const List swedish;
extern const List danish;
extern const List dutch;
} // namespace StringLists
