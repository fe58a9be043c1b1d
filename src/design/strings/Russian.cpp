#include "design/StringLists.h"

const StringLists::List StringLists::russian = {{
    {"A new Zephyl Kitty is ready", "Готова новая версия Zephyl Kitty"},
}};
