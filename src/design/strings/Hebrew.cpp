#include "design/StringLists.h"

const StringLists::List StringLists::hebrew = {{
    {"A new Zephyl Kitty is ready", "גרסה חדשה של Zephyl Kitty מוכנה"},
}};
