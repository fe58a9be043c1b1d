#include "design/StringLists.h"

const StringLists::List StringLists::arabic = {{
    {"A new Zephyl Kitty is ready", "إصدار جديد من Zephyl Kitty جاهز"},
}};
