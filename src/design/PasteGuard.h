#pragma once

#include <QObject>

#include <memory>
#include <vector>

class QWidget;

// What reaches a text box of the application from outside it: Ctrl+V,
// Shift+Insert, its own menu's Paste, a middle click (the primary selection)
// and a drop. Every one becomes the plain words of what is offered, or
// nothing: no owner, a picture or files alone, an owner that never answers.
// Rich text gives its words, never its formatting. The clipboard is read
// without holding the application up, and the words land at the box's cursor
// (at the click, for a middle click) once they come.
//
// Qt 6.4's own paste ends the process when nothing owns the clipboard, and
// waits five seconds per question on an owner that does not answer; the
// guard stands in front of every editable QLineEdit, QPlainTextEdit, QTextEdit
// and spin box of the application, Qt's own included. A web page's paste (its
// keys, a middle click) reaches it only once the owner has answered with words.
class PasteGuard final : public QObject {
    Q_OBJECT
public:
    // Puts the guard in front of every text box of the application, once.
    // Needs the application object.
    static void install();
    // The guard, once installed; otherwise none.
    static PasteGuard *instance();

    // Pastes the clipboard (or the primary selection, `primary`) into `box`
    // at its cursor, as Ctrl+V (or a middle click) does.
    void paste(QWidget *box, bool primary = false);

Q_SIGNALS:
    // A paste into `box` came to an end: `words` were put in (empty: nothing was).
    void settled(QWidget *box, const QString &words);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    PasteGuard() = default;
    bool contextMenu(QWidget *box, QEvent *event);
    // Delivers `events` (a paste key, a middle click) to `surface` once the
    // clipboard (or the primary selection) has given words; drops them otherwise.
    void hold(QWidget *surface, std::vector<QEvent *> events, bool primary);
    bool drag(QWidget *target, QEvent *event);

    quint64 m_asked = 0;
    // The words of the drag on its way, taken once from what it carries.
    const void *m_dragFrom = nullptr;
    QString m_dragWords;
    bool m_forwarding = false;
    std::unique_ptr<QEvent> m_middlePress;
};
