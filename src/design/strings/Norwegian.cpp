#include "design/StringLists.h"

const StringLists::List StringLists::norwegian = {{
    {"A new Zephyl Kitty is ready", "En ny versjon av Zephyl Kitty er klar"},
}};
