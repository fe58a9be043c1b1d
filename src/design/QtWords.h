#pragma once

// Qt's own words in the application's language: the file chooser's labels and
// buttons, a text field's menu, key names in menus. They come from the
// translations Qt ships beside itself.
class QDialog;

namespace QtWords {

// Loads Qt's words for the language in use (L10n's effective language), in
// place of those loaded before. English, and a language Qt has no words for,
// leave Qt's own English. Needs the application object.
void follow();

// Fits a dialog of Qt's own (a file chooser) to its words: its buttons carry
// their words alone, and it opens no smaller than its contents ask. Beside an
// icon, a right-to-left button of the toolkit draws its word against its far
// edge, half of it cut.
void fitWords(QDialog *dialog);

} // namespace QtWords
