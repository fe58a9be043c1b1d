#include "design/StringLists.h"

const StringLists::List StringLists::dutch = {{
    {"A new Zephyl Kitty is ready", "Een nieuwe versie van Zephyl Kitty staat klaar"},
}};
