#include "design/StringLists.h"

const StringLists::List StringLists::turkish = {{
    {"A new Zephyl Kitty is ready", "Zephyl Kitty'nin yeni sürümü hazır"},
}};
