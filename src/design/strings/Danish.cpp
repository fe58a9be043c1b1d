#include "design/StringLists.h"

const StringLists::List StringLists::danish = {{
    {"A new Zephyl Kitty is ready", "En ny version af Zephyl Kitty er klar"},
}};
