#include "design/StringLists.h"

const StringLists::List StringLists::italian = {{
    {"A new Zephyl Kitty is ready", "È pronta una nuova versione di Zephyl Kitty"},
}};
