#pragma once

// Qt's own words in the application's language: the file chooser's labels and
// buttons, a text field's menu, key names in menus. They come from the
// translations Qt ships beside itself.
namespace QtWords {

// Loads Qt's words for the language in use (L10n's effective language), in
// place of those loaded before. English, and a language Qt has no words for,
// leave Qt's own English. Needs the application object.
void follow();

} // namespace QtWords
