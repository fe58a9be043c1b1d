#include "design/PasteGuard.h"

#include "design/EventTargets.h"
#include "design/MenuLook.h"
#include "platform/ClipboardText.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStyleHints>
#include <QTextEdit>

#include <functional>
#include <memory>
#include <vector>

namespace {

PasteGuard *g_guard = nullptr;
const char *const kNewest = "zkNewestPaste";

// The text box `watched` is, or whose page it is (a multi-line box takes its
// mouse and drags on its viewport); none for anything else.
QWidget *textBoxOf(QObject *watched)
{
    QWidget *widget = EventTargets::widget(watched);
    if (!widget)
        return nullptr;
    if (qobject_cast<QLineEdit *>(widget) || qobject_cast<QPlainTextEdit *>(widget) ||
        qobject_cast<QTextEdit *>(widget) || qobject_cast<QAbstractSpinBox *>(widget))
        return widget;
    QWidget *parent = widget->parentWidget();
    if (auto *plain = qobject_cast<QPlainTextEdit *>(parent); plain && plain->viewport() == widget)
        return plain;
    if (auto *rich = qobject_cast<QTextEdit *>(parent); rich && rich->viewport() == widget)
        return rich;
    return nullptr;
}

// The text box whose list of completions `watched` is: the list, open as a
// pop-up under the box, hands it the keys itself, past every event filter.
QWidget *boxUnder(QObject *watched)
{
    if (!watched->isWidgetType())
        return nullptr;
    const auto *list = static_cast<QWidget *>(watched);
    return list->windowType() == Qt::Popup && list->focusProxy() ? textBoxOf(list->focusProxy()) : nullptr;
}

// Whether `watched` is (part of) a web page's view, which pastes by itself.
bool inPage(QObject *watched)
{
    for (QWidget *up = EventTargets::widget(watched); up; up = up->isWindow() ? nullptr : up->parentWidget()) {
        if (up->inherits("QWebEngineView"))
            return true;
    }
    return false;
}

QLineEdit *lineOf(QWidget *box)
{
    if (auto *line = qobject_cast<QLineEdit *>(box))
        return line;
    if (qobject_cast<QAbstractSpinBox *>(box))
        return box->findChild<QLineEdit *>(QString(), Qt::FindDirectChildrenOnly);
    return nullptr;
}

bool editable(QWidget *box)
{
    if (!box->isEnabled())
        return false;
    if (auto *spin = qobject_cast<QAbstractSpinBox *>(box))
        return !spin->isReadOnly() && lineOf(box);
    if (auto *line = qobject_cast<QLineEdit *>(box))
        return !line->isReadOnly();
    if (auto *plain = qobject_cast<QPlainTextEdit *>(box))
        return plain->textInteractionFlags() & Qt::TextEditable;
    if (auto *rich = qobject_cast<QTextEdit *>(box))
        return rich->textInteractionFlags() & Qt::TextEditable;
    return false;
}

// Ends the line's current step to undo, leaving its cursor and selection as
// they were: only a move of the cursor does that from outside the line.
void endUndoStep(QLineEdit *line)
{
    if (line->text().isEmpty())
        return;
    const int at = line->cursorPosition();
    const int start = line->selectionStart();
    const int length = line->selectionLength();
    line->setCursorPosition(at > 0 ? at - 1 : at + 1);
    if (start < 0)
        line->setCursorPosition(at);
    else if (at == start)
        line->setSelection(start + length, -length);
    else
        line->setSelection(start, length);
}

// Puts `words` in at the box's cursor, replacing its selection, as Qt's own
// paste does: one step to undo, apart from the typing before it.
void insert(QWidget *box, const QString &words)
{
    if (QLineEdit *line = lineOf(box)) {
        // A spin box's line sees its cursor move as a choice of section.
        const bool ownLine = line == box;
        if (ownLine)
            endUndoStep(line);
        line->insert(words);
        if (ownLine)
            endUndoStep(line);
    } else if (auto *plain = qobject_cast<QPlainTextEdit *>(box)) {
        QTextCursor step(plain->document());
        step.beginEditBlock();
        plain->insertPlainText(words);
        step.endEditBlock();
        plain->ensureCursorVisible();
    } else if (auto *rich = qobject_cast<QTextEdit *>(box)) {
        QTextCursor step(rich->document());
        step.beginEditBlock();
        rich->insertPlainText(words);
        step.endEditBlock();
        rich->ensureCursorVisible();
    }
}

// Moves the cursor where a middle click landed (`at`: the clicked widget's pixels).
void placeCursor(QWidget *box, QWidget *clicked, QPoint at)
{
    if (auto *line = qobject_cast<QLineEdit *>(clicked)) {
        line->deselect();
        line->setCursorPosition(line->cursorPositionAt(at));
    } else if (auto *plain = qobject_cast<QPlainTextEdit *>(box)) {
        plain->setTextCursor(plain->cursorForPosition(at));
    } else if (auto *rich = qobject_cast<QTextEdit *>(box)) {
        rich->setTextCursor(rich->cursorForPosition(at));
    }
}

} // namespace

void PasteGuard::install()
{
    if (g_guard || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    g_guard = new PasteGuard;
    g_guard->setParent(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(g_guard);
    connect(g_guard, &QObject::destroyed, [] { g_guard = nullptr; });
}

PasteGuard *PasteGuard::instance() { return g_guard; }

void PasteGuard::paste(QWidget *box, bool primary)
{
    // Only the newest paste asked of a box puts its words in.
    const quint64 asked = ++m_asked;
    box->setProperty(kNewest, asked);
    const QPointer<QWidget> target(box);
    ClipboardText::read(primary ? QClipboard::Selection : QClipboard::Clipboard, box,
                        [this, target, asked](const QString &words) {
                            if (!target || target->property(kNewest).toULongLong() != asked)
                                return;
                            // A box that stopped taking text meanwhile is left as it is.
                            const bool put = !words.isEmpty() && editable(target);
                            if (put)
                                insert(target, words);
                            Q_EMIT settled(target, put ? words : QString());
                        });
}

void PasteGuard::hold(QWidget *surface, std::vector<QEvent *> events, bool primary)
{
    // A web page reads the clipboard for itself, on the main thread, a format
    // at a time: before it does, the owner has shown it answers and has words.
    auto kept = std::make_shared<std::vector<std::unique_ptr<QEvent>>>();
    for (QEvent *e : events)
        kept->emplace_back(e);
    const QPointer<QWidget> target(surface);
    ClipboardText::read(primary ? QClipboard::Selection : QClipboard::Clipboard, surface,
                        [this, target, kept](const QString &words) {
                            if (!target)
                                return;
                            if (!words.isEmpty()) {
                                m_forwarding = true;
                                for (const auto &e : *kept)
                                    QCoreApplication::sendEvent(target, e.get());
                                m_forwarding = false;
                            }
                            Q_EMIT settled(target, words);
                        });
}

bool PasteGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (m_forwarding)
        return false;
    switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        // A page also pastes its plain text on Ctrl+Shift+V.
        const bool plainKey = key->key() == Qt::Key_V && modifiers == (Qt::ControlModifier | Qt::ShiftModifier);
        if (!key->matches(QKeySequence::Paste) && !plainKey)
            return false;
        // Qt takes Ctrl+Shift+Insert, where it is a paste key, from the primary selection.
        const bool primary = key->key() == Qt::Key_Insert && modifiers == (Qt::ControlModifier | Qt::ShiftModifier);
        QWidget *box = textBoxOf(watched);
        if (!box && inPage(watched)) {
            // The engine takes the key's edit command when asked whether it
            // wants the key: it is kept from the page until the key itself comes.
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept();
                return true;
            }
            hold(static_cast<QWidget *>(watched), {key->clone()}, primary);
            return true;
        }
        if (!box)
            box = boxUnder(watched);
        else if (box != watched)
            box = nullptr;
        if (!box || event->type() == QEvent::ShortcutOverride || plainKey || !editable(box))
            return false;
        paste(box, primary);
        return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::MiddleButton || !QGuiApplication::clipboard()->supportsSelection())
            return false;
        QWidget *box = textBoxOf(watched);
        if (!box && inPage(watched)) {
            // The click reaches the page once the primary selection's owner has given words.
            if (event->type() == QEvent::MouseButtonPress)
                m_middlePress.reset(mouse->clone());
            else if (event->type() == QEvent::MouseButtonRelease && m_middlePress)
                hold(static_cast<QWidget *>(watched), {m_middlePress.release(), mouse->clone()}, true);
            return true;
        }
        if (!box || !editable(box))
            return false;
        // The words go where the button comes up, as Qt's own paste puts them.
        if (event->type() == QEvent::MouseButtonRelease) {
            placeCursor(box, static_cast<QWidget *>(watched), mouse->position().toPoint());
            paste(box, true);
        }
        return true;
    }
    case QEvent::ContextMenu: {
        // A box that makes a menu of its own keeps it.
        QWidget *box = textBoxOf(watched);
        return box && box->contextMenuPolicy() == Qt::DefaultContextMenu && editable(box) && contextMenu(box, event);
    }
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::DragLeave: {
        QWidget *box = textBoxOf(watched);
        return box && editable(box) && drag(static_cast<QWidget *>(watched), event);
    }
    default:
        return false;
    }
}

bool PasteGuard::contextMenu(QWidget *box, QEvent *event)
{
    // Qt's own menu for the box asks the clipboard's owner, and waits on it,
    // before it opens; this one, in Qt's words, opens at once and offers Paste
    // once the owner gave words, which are then what it puts in.
    struct Entry {
        const char *words;
        const char *name;
        QKeySequence::StandardKey key;
        bool enabled;
        std::function<void()> act;
    };
    std::vector<Entry> entries;
    const char *context = nullptr;
    if (QLineEdit *line = lineOf(box)) {
        const bool shown = line->echoMode() == QLineEdit::Normal;
        const bool selected = line->hasSelectedText();
        auto *spin = qobject_cast<QAbstractSpinBox *>(box);
        context = "QLineEdit";
        entries = {{"&Undo", "edit-undo", QKeySequence::Undo, line->isUndoAvailable(), [line] { line->undo(); }},
                   {"&Redo", "edit-redo", QKeySequence::Redo, line->isRedoAvailable(), [line] { line->redo(); }},
                   {nullptr, nullptr, QKeySequence::UnknownKey, false, {}},
                   {"Cu&t", "edit-cut", QKeySequence::Cut, shown && selected, [line] { line->cut(); }},
                   {"&Copy", "edit-copy", QKeySequence::Copy, shown && selected, [line] { line->copy(); }},
                   {"&Paste", "edit-paste", QKeySequence::Paste, false, {}},
                   {"Delete", "edit-delete", QKeySequence::UnknownKey, selected, [line] { line->del(); }},
                   {nullptr, nullptr, QKeySequence::UnknownKey, false, {}},
                   {"Select All", "select-all", QKeySequence::SelectAll,
                    !line->text().isEmpty() && line->selectedText() != line->text(), [line] { line->selectAll(); }}};
        if (spin) {
            // A spin box's own entries, as its own menu has them.
            struct Steps : QAbstractSpinBox {
                using QAbstractSpinBox::stepEnabled;
            };
            const QAbstractSpinBox::StepEnabled steps = (spin->*(&Steps::stepEnabled))();
            entries.push_back({nullptr, nullptr, QKeySequence::UnknownKey, false, {}});
            entries.push_back({"&Step up", "step-up", QKeySequence::UnknownKey,
                               bool(steps & QAbstractSpinBox::StepUpEnabled), [spin] { spin->stepUp(); }});
            entries.push_back({"Step &down", "step-down", QKeySequence::UnknownKey,
                               bool(steps & QAbstractSpinBox::StepDownEnabled), [spin] { spin->stepDown(); }});
        }
    } else {
        auto *plain = qobject_cast<QPlainTextEdit *>(box);
        auto *rich = qobject_cast<QTextEdit *>(box);
        const QTextDocument *document = plain ? plain->document() : rich->document();
        const bool selected = (plain ? plain->textCursor() : rich->textCursor()).hasSelection();
        const QPointer<QWidget> edit(box);
        // Both kinds of box have the same slots under the same names.
        const auto call = [edit](const char *slot) {
            return [edit, slot] {
                if (edit)
                    QMetaObject::invokeMethod(edit, slot);
            };
        };
        context = "QWidgetTextControl";
        entries = {{"&Undo", "edit-undo", QKeySequence::Undo, document->isUndoAvailable(), call("undo")},
                   {"&Redo", "edit-redo", QKeySequence::Redo, document->isRedoAvailable(), call("redo")},
                   {nullptr, nullptr, QKeySequence::UnknownKey, false, {}},
                   {"Cu&t", "edit-cut", QKeySequence::Cut, selected, call("cut")},
                   {"&Copy", "edit-copy", QKeySequence::Copy, selected, call("copy")},
                   {"&Paste", "edit-paste", QKeySequence::Paste, false, {}},
                   {"Delete", "edit-delete", QKeySequence::UnknownKey, selected,
                    [plain, rich] {
                        QTextCursor cursor = plain ? plain->textCursor() : rich->textCursor();
                        cursor.removeSelectedText();
                    }},
                   {nullptr, nullptr, QKeySequence::UnknownKey, false, {}},
                   {"Select All", "select-all", QKeySequence::SelectAll, !document->isEmpty(), call("selectAll")}};
    }

    auto *menu = new QMenu(box);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction *paste = nullptr;
    for (const Entry &e : entries) {
        if (!e.words) {
            menu->addSeparator();
            continue;
        }
        const bool spinOwn = QByteArray(e.name).startsWith("step-");
        QString title = QCoreApplication::translate(spinOwn ? "QAbstractSpinBox" : context, e.words);
        if (e.key != QKeySequence::UnknownKey && QGuiApplication::styleHints()->showShortcutsInContextMenus())
            title += QLatin1Char('\t') + QKeySequence(e.key).toString(QKeySequence::NativeText);
        QAction *action = menu->addAction(title);
        const QString name = QString::fromLatin1(e.name);
        action->setObjectName(name);
        if (const QIcon icon = QIcon::fromTheme(name); !icon.isNull())
            action->setIcon(icon);
        action->setEnabled(e.enabled);
        if (e.act)
            connect(action, &QAction::triggered, box, e.act);
        if (name == QLatin1String("edit-paste"))
            paste = action;
    }
    const QPointer<QAction> offered(paste);
    ClipboardText::read(QClipboard::Clipboard, paste, [offered](const QString &words) {
        offered->setData(words);
        offered->setEnabled(!words.isEmpty());
    });
    const QPointer<QWidget> target(box);
    connect(paste, &QAction::triggered, box, [this, target, offered] {
        const QString words = offered ? offered->data().toString() : QString();
        const bool put = target && !words.isEmpty() && editable(target);
        if (put)
            insert(target, words);
        if (target)
            Q_EMIT settled(target, put ? words : QString());
    });

    const auto *asked = static_cast<QContextMenuEvent *>(event);
    if (asked->reason() == QContextMenuEvent::Keyboard)
        MenuLook::popup(menu, asked->globalPos());
    else
        menu->popup(asked->globalPos());
    event->accept();
    return true;
}

bool PasteGuard::drag(QWidget *target, QEvent *event)
{
    if (m_forwarding)
        return false;
    if (event->type() == QEvent::DragLeave) {
        m_dragFrom = nullptr;
        return false;
    }
    auto *dropped = static_cast<QDropEvent *>(event);
    // What a drag carries is read once, when it comes in; the box is handed
    // its words alone, so it neither sees the formats it would stumble on nor
    // takes the formatting.
    if (event->type() == QEvent::DragEnter || dropped->mimeData() != m_dragFrom) {
        m_dragFrom = dropped->mimeData();
        m_dragWords = ClipboardText::of(dropped->mimeData());
    }
    const bool ends = event->type() == QEvent::Drop;
    if (m_dragWords.isEmpty()) {
        dropped->ignore();
        if (ends) {
            m_dragFrom = nullptr;
            // The box forgets where it showed the words would land.
            QDragLeaveEvent gone;
            m_forwarding = true;
            QCoreApplication::sendEvent(target, &gone);
            m_forwarding = false;
        }
        return true;
    }
    QMimeData words;
    words.setText(m_dragWords);
    const QPoint at = dropped->position().toPoint();
    std::unique_ptr<QDropEvent> plain;
    if (event->type() == QEvent::DragEnter)
        plain = std::make_unique<QDragEnterEvent>(at, dropped->possibleActions(), &words, dropped->buttons(),
                                                  dropped->modifiers());
    else if (event->type() == QEvent::DragMove)
        plain = std::make_unique<QDragMoveEvent>(at, dropped->possibleActions(), &words, dropped->buttons(),
                                                 dropped->modifiers());
    else
        plain = std::make_unique<QDropEvent>(dropped->position(), dropped->possibleActions(), &words, dropped->buttons(),
                                             dropped->modifiers());
    plain->setDropAction(dropped->dropAction());
    plain->ignore();
    m_forwarding = true;
    QCoreApplication::sendEvent(target, plain.get());
    m_forwarding = false;
    dropped->setDropAction(plain->dropAction());
    if (event->type() != QEvent::Drop && plain->isAccepted())
        static_cast<QDragMoveEvent *>(dropped)->accept(static_cast<QDragMoveEvent *>(plain.get())->answerRect());
    else
        dropped->setAccepted(plain->isAccepted());
    if (ends) {
        m_dragFrom = nullptr;
        if (plain->isAccepted())
            if (QWidget *box = textBoxOf(target))
                Q_EMIT settled(box, m_dragWords);
    }
    return true;
}
