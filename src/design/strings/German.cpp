#include "design/StringLists.h"

const StringLists::List StringLists::german = {{
    {"A new Zephyl Kitty is ready", "Eine neue Version von Zephyl Kitty ist bereit"},
}};
