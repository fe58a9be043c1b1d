#pragma once

#include <QString>

#include <functional>

class QWidget;

// Window titles in the language in use. Window lists, task switchers and
// screen readers read a window's title even when it shows no title bar, so a
// title worded through here is worded again after each change of language, as
// the words inside the window are.
namespace WindowTitles {

// Titles `window` with what `wording` gives now (L10n::t of its English title),
// and again at each follow() while the window lives.
void set(QWidget *window, std::function<QString()> wording);

// Words the title of every window titled through set() again, in the language
// now in use.
void follow();

} // namespace WindowTitles
