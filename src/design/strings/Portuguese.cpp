#include "design/StringLists.h"

const StringLists::List StringLists::portuguese = {{
    {"A new Zephyl Kitty is ready", "Uma nova versão do Zephyl Kitty está pronta"},
}};
