#pragma once

#include <QClipboard>
#include <QString>

#include <functional>

class QMimeData;
class QObject;

// The words a paste puts into a text box, taken from the clipboard or the
// primary selection without trusting its owner: no owner at all, one that
// offers nothing but a picture or files, one that never answers.
namespace ClipboardText {

// The words of `data`: its plain text, else the text of its rich text (HTML),
// else nothing (a picture, files, no format at all). Never any formatting.
QString of(const QMimeData *data);

// Asks for the words of the clipboard (or, with QClipboard::Selection, the
// primary selection) and returns at once; `done` gets them later on the main
// thread, never before this returns, and is not called once `context` is gone.
// Another program's selection is asked for over X without blocking the
// application: an owner that stops answering for `patienceMs` gives nothing.
// Without X (offscreen, Wayland) Qt's clipboard is read.
void read(QClipboard::Mode mode, QObject *context, std::function<void(const QString &)> done, int patienceMs = 2000);

} // namespace ClipboardText
