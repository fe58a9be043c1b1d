#include "design/StringLists.h"

const StringLists::List StringLists::swedish = {{
    {"A new Zephyl Kitty is ready", "En ny version av Zephyl Kitty är klar"},
}};
