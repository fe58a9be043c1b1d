#include "design/StringLists.h"

const StringLists::List StringLists::spanish = {{
    {"A new Zephyl Kitty is ready", "Hay una nueva versión de Zephyl Kitty"},
}};
