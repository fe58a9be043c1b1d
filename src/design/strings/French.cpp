#include "design/StringLists.h"

const StringLists::List StringLists::french = {{
    {"A new Zephyl Kitty is ready", "Une nouvelle version de Zephyl Kitty est prête"},
}};
