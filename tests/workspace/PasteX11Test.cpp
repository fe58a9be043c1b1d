// Pastes into the application's text boxes on a real X server, from another
// program's clipboard as the test's own connection plays it: nothing owning
// it, a picture alone, files alone, rich text alone, text (one whose first
// offer is Markdown), a long text sent in pieces, and an owner that never
// answers. Ctrl+V, Shift+Insert, the box's own menu, a middle click (the
// primary selection) and a drop, in the ask panel's field, the assistant's,
// the composer's caption and hashtags and the draft editor's caption and title.

#include "ScreensTestSupport.h"
#include "support/SelectionOwner.h"

#include "app/ComposerTestSupport.h"
#include "ask/AskBarView.h"
#include "ask/AskPanelController.h"
#include "design/ChatText.h"
#include "design/FileChooser.h"
#include "design/FloatingPanel.h"
#include "design/GrowingTextField.h"
#include "design/PasteGuard.h"
#include "workspace/AssistantView.h"
#include "workspace/ComposerParts.h"
#include "workspace/ComposerView.h"
#include "workspace/DraftEditorView.h"
#include "workspace/PlanView.h"
#include "workspace/WorkspaceRootView.h"

#include <QBuffer>
#include <QClipboard>
#include <QAbstractItemView>
#include <QCompleter>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>

using namespace flowtest;
using namespace screentest;
using zktest::SelectionOwner;

namespace {

// What another program offers, on the clipboard and as a drag.
struct Offered {
    const char *what;
    std::vector<SelectionOwner::Offer> offers; // none: nothing owns the selections
    QString words;                             // what a paste puts in
};

QByteArray png()
{
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return bytes;
}

// The same offers as a drag carries them: the X names of text as Qt names them.
std::unique_ptr<QMimeData> asDragged(const Offered &offered)
{
    auto data = std::make_unique<QMimeData>();
    for (const SelectionOwner::Offer &o : offered.offers) {
        const QString name = o.target == "UTF8_STRING" ? QStringLiteral("text/plain;charset=utf-8")
                                                       : QString::fromStdString(o.target);
        data->setData(name, o.bytes);
    }
    return data;
}

QString textOf(const QWidget *box)
{
    if (const auto *line = qobject_cast<const QLineEdit *>(box))
        return line->text();
    return static_cast<const QPlainTextEdit *>(box)->toPlainText();
}

void empty(QWidget *box)
{
    if (auto *line = qobject_cast<QLineEdit *>(box))
        line->clear();
    else
        static_cast<QPlainTextEdit *>(box)->clear();
}

// Whether any of the box's words stands in a weight, slant or size of its own.
bool formatted(const QWidget *box)
{
    const auto *edit = qobject_cast<const QPlainTextEdit *>(box);
    if (!edit)
        return false;
    const QFont base = edit->document()->defaultFont();
    for (QTextBlock block = edit->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            if (f.hasProperty(QTextFormat::FontWeight) || f.fontItalic() || f.hasProperty(QTextFormat::FontPointSize) ||
                f.isAnchor())
                return true;
        }
    }
    return false;
}

// Where a box takes the mouse and a drag: a multi-line one on its page.
QWidget *surfaceOf(QWidget *box)
{
    if (auto *edit = qobject_cast<QPlainTextEdit *>(box))
        return edit->viewport();
    return box;
}

// Where a click puts the cursor before the box's first word.
QPoint startOf(QWidget *box)
{
    if (auto *edit = qobject_cast<QPlainTextEdit *>(box))
        return edit->cursorRect(QTextCursor(edit->document())).center();
    return QPoint(2, box->height() / 2);
}

class PasteX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        model().setUser(user("kitty@example.com"));
        model().setSession(SessionState::signedIn);
        ZephylWire::PlanDraft draft;
        draft.id = 1;
        draft.title = QStringLiteral("Cat yoga");
        draft.format = QStringLiteral("post");
        flows.service.results["planDrafts"] = QList<ZephylWire::PlanDraft>{draft};
        model().loadPlan();
        root = host.show(new WorkspaceRootView(model()));
        host.window->activateWindow();
        ASSERT_TRUE(zktest::spinUntil([&] { return host.window->windowHandle()->isExposed(); }));
    }
    void TearDown() override { ask.hide(); }

    AppModel &model() { return flows.model(); }

    // A paste into `box` run to its end: the words it put in.
    QString settledAfter(QWidget *box, const std::function<void()> &act)
    {
        if (!PasteGuard::instance()) { // Qt's own paste, which ends before it returns
            act();
            settle();
            return textOf(box);
        }
        QSignalSpy settled(PasteGuard::instance(), &PasteGuard::settled);
        act();
        EXPECT_TRUE(zktest::spinUntil([&] { return !settled.isEmpty(); })) << "the paste never ended";
        settle();
        return textOf(box);
    }

    // The box's own menu, opened from the keyboard; its Paste once the owner
    // answered (`owner`, or at once without one).
    QString fromTheMenu(QWidget *box, const QString &expected, const SelectionOwner *owner)
    {
        const QPoint middle(box->width() / 2, box->height() / 2);
        QContextMenuEvent asked(QContextMenuEvent::Keyboard, middle, box->mapToGlobal(middle));
        QCoreApplication::sendEvent(box, &asked);
        QPointer<QMenu> menu;
        EXPECT_TRUE(zktest::spinUntil([&] { return (menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())); }));
        if (!menu)
            return QStringLiteral("(no menu)");
        QAction *paste = nullptr;
        for (QAction *a : menu->actions())
            paste = a->objectName() == QStringLiteral("edit-paste") ? a : paste;
        EXPECT_NE(paste, nullptr);
        // Offered once the owner's words came; with none to come, once it answered.
        if (!expected.isEmpty()) {
            EXPECT_TRUE(zktest::spinUntil([&] { return paste && paste->isEnabled(); }));
        } else if (owner) {
            EXPECT_TRUE(zktest::spinUntil([&] { return owner->answered() > 0; }));
        }
        settle();
        QString words = textOf(box);
        if (paste && paste->isEnabled()) {
            menu->setActiveAction(paste);
            QTest::keyClick(menu, Qt::Key_Return);
            settle();
            words = textOf(box);
        }
        if (menu && menu->isVisible())
            menu->close(); // a chosen entry closed it already
        EXPECT_TRUE(zktest::spinUntil([] { return QApplication::activePopupWidget() == nullptr; }));
        return words;
    }

    // A drag of `data` over the box and dropped in its middle: the words it then holds.
    QString dropped(QWidget *box, const QMimeData *data)
    {
        QWidget *on = surfaceOf(box);
        const QPoint middle(on->width() / 2, on->height() / 2);
        QDragEnterEvent enter(middle, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(on, &enter);
        QDragMoveEvent move(middle, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(on, &move);
        QDropEvent drop(middle, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(on, &drop);
        settle();
        return textOf(box);
    }

    // Every way words come in from outside, the box emptied before each: what
    // it holds after each, named by the way.
    QStringList everyWay(QWidget *box, const Offered &offered, const SelectionOwner *clipboard)
    {
        QStringList got;
        const auto way = [&](const char *name, const QString &words) {
            got << QStringLiteral("%1: %2").arg(QLatin1String(name), words);
            EXPECT_FALSE(formatted(box)) << name << " brought formatting in";
        };
        box->setFocus(Qt::OtherFocusReason);
        empty(box);
        way("Ctrl+V", settledAfter(box, [&] { QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier); }));
        empty(box);
        way("Shift+Insert", settledAfter(box, [&] { QTest::keyClick(box, Qt::Key_Insert, Qt::ShiftModifier); }));
        empty(box);
        way("middle click", settledAfter(box, [&] {
                QTest::mouseClick(surfaceOf(box), Qt::MiddleButton, {}, QPoint(8, surfaceOf(box)->height() / 2));
            }));
        empty(box);
        way("menu", fromTheMenu(box, offered.words, clipboard));
        empty(box);
        const std::unique_ptr<QMimeData> data = asDragged(offered);
        way("drop", dropped(box, data.get()));
        empty(box);
        return got;
    }

    QStringList expected(const QString &words) const
    {
        QStringList out;
        for (const char *name : {"Ctrl+V", "Shift+Insert", "middle click", "menu", "drop"})
            out << QStringLiteral("%1: %2").arg(QLatin1String(name), words);
        return out;
    }

    // The boxes of a screen, each with what the test calls it.
    using Boxes = QList<std::pair<const char *, QWidget *>>;
    Boxes askPanel()
    {
        ask.show(true);
        EXPECT_TRUE(zktest::spinUntil([&] { return ask.panel()->windowHandle() && ask.panel()->windowHandle()->isExposed(); }));
        return {{"ask panel", ask.view()->field()}};
    }
    Boxes assistant()
    {
        model().setSurface(Surface::assistant);
        settle();
        auto *view = root->findChild<AssistantView *>();
        return {{"assistant", view ? view->field() : nullptr}};
    }
    Boxes composer()
    {
        model().setComposerPresented(true);
        settle();
        auto *view = root->composerSheet() ? root->composerSheet()->findChild<ComposerView *>() : nullptr;
        if (!view)
            return {{"composer", nullptr}};
        return {{"composer caption", view->editor()->captionEditor()}, {"composer hashtags", view->editor()->hashtagField()}};
    }
    Boxes draftEditor()
    {
        model().setComposerPresented(false);
        model().setSurface(Surface::plan);
        settle();
        auto *plan = root->findChild<PlanView *>();
        if (!plan || plan->rows().isEmpty())
            return {{"draft editor", nullptr}};
        plan->rows().first()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(plan->rows().first(), Qt::Key_Return);
        settle();
        DraftEditorView *editor = plan->editor();
        if (!editor)
            return {{"draft editor", nullptr}};
        return {{"draft caption", editor->captionEditor()}, {"draft title", editor->titleField()}};
    }
    AppearanceGuard appearance;
    Flows flows;
    Host host;
    WorkspaceRootView *root = nullptr;
    AskPanelController ask{flows.model()};
};

} // namespace

// With nothing to paste, a picture alone or files alone, every way puts nothing
// in, in every box, and the application goes on; rich text gives its words and
// text its own words (Markdown offered first included), never formatting.
TEST_F(PasteX11, EveryBoxTakesTheWordsOfWhatIsOfferedOrNothing)
{
    const QByteArray markdown = QByteArrayLiteral("**Cat** caf\xc3\xa9 \xe2\x98\x95");
    const QList<Offered> kinds = {
        {"nothing owns the clipboard", {}, QString()},
        {"a picture alone", {{"image/png", png()}}, QString()},
        {"files alone", {{"text/uri-list", QByteArrayLiteral("file:///tmp/cat.png\r\n")}}, QString()},
        {"rich text alone",
         {{"text/html", QByteArrayLiteral("<meta charset=\"utf-8\"><p><b>Sunny</b> <i>day</i> \xe2\x98\x80</p>")}},
         QStringLiteral("Sunny day ☀")},
        {"Markdown first, then text", {{"text/markdown", markdown}, {"UTF8_STRING", markdown}}, QString::fromUtf8(markdown)},
    };
    // Screen by screen: each is gone once the next is shown.
    for (const std::function<Boxes()> &screen : std::initializer_list<std::function<Boxes()>>{
             [&] { return askPanel(); }, [&] {
                 ask.hide();
                 return assistant();
             },
             [&] { return composer(); }, [&] { return draftEditor(); }}) {
        for (const auto &[name, box] : screen()) {
            ASSERT_NE(box, nullptr) << name;
            for (const Offered &offered : kinds) {
                SCOPED_TRACE(std::string(name) + ", " + offered.what);
                // Nothing of the application's own (a selected word) stands in the way.
                QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
                QGuiApplication::clipboard()->clear(QClipboard::Selection);
                std::unique_ptr<SelectionOwner> clipboard, primary;
                if (!offered.offers.empty()) {
                    clipboard = std::make_unique<SelectionOwner>("CLIPBOARD", offered.offers);
                    primary = std::make_unique<SelectionOwner>("PRIMARY", offered.offers);
                    ASSERT_TRUE(clipboard->owns() && primary->owns());
                }
                EXPECT_EQ(everyWay(box, offered, clipboard.get()), expected(offered.words));
            }
        }
    }
}

// Text pasted into the composer's caption counts as typed text does (nothing
// pasted, nothing counted); a long one comes in pieces (INCR) and turns the
// counter to the attention colour.
TEST_F(PasteX11, TheCaptionCountsWhatAPasteBrought)
{
    const Boxes boxes = composer();
    QWidget *caption = boxes.value(0).second;
    ASSERT_NE(caption, nullptr);
    ComposerEditor *editor = root->composerSheet()->findChild<ComposerView *>()->editor();
    caption->setFocus(Qt::OtherFocusReason);
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
    EXPECT_EQ(settledAfter(caption, [&] { QTest::keyClick(caption, Qt::Key_V, Qt::ControlModifier); }), QString());
    EXPECT_EQ(editor->counter()->text(), QStringLiteral("0 / 2200"));
    {
        SelectionOwner owner("CLIPBOARD", {{"UTF8_STRING", QByteArrayLiteral("Cat caf\xc3\xa9 \xe2\x98\x95")}});
        EXPECT_EQ(settledAfter(caption, [&] { QTest::keyClick(caption, Qt::Key_V, Qt::ControlModifier); }),
                  QStringLiteral("Cat café ☕"));
        EXPECT_EQ(editor->counter()->text(), QStringLiteral("10 / 2200"));
        EXPECT_EQ(editor->counter()->colorRole(), ZephylPalette::Color::muted);
    }
    // Hashtags pasted count as tags, and on the caption's counter.
    QWidget *hashtags = boxes.value(1).second;
    hashtags->setFocus(Qt::OtherFocusReason);
    {
        SelectionOwner owner("CLIPBOARD", {{"UTF8_STRING", QByteArrayLiteral("a b")}});
        EXPECT_EQ(settledAfter(hashtags, [&] { QTest::keyClick(hashtags, Qt::Key_V, Qt::ControlModifier); }),
                  QStringLiteral("a b"));
    }
    EXPECT_EQ(editor->hint()->text(), QStringLiteral("2 tags · up to five is plenty"));
    EXPECT_EQ(editor->counter()->text(), QStringLiteral("17 / 2200"));
    QTest::keyClick(hashtags, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(hashtags, Qt::Key_Delete); // as a user empties it, for the state to hear
    caption->setFocus(Qt::OtherFocusReason);
    empty(caption);
    const QByteArray longText = QByteArray("meow ").repeated(2000); // 10,000 characters
    SelectionOwner owner("CLIPBOARD", {{"UTF8_STRING", longText}}, SelectionOwner::Answers::yes, 4096);
    EXPECT_EQ(settledAfter(caption, [&] { QTest::keyClick(caption, Qt::Key_V, Qt::ControlModifier); }),
              QString::fromLatin1(longText));
    EXPECT_EQ(editor->counter()->text(), QStringLiteral("9999 / 2200")); // trimmed of the last space
    EXPECT_EQ(editor->counter()->colorRole(), ZephylPalette::Color::attention);
}

// A paste is a step to undo apart from the typing before it and replaces the
// selection; a middle click takes the primary selection, Ctrl+V the
// clipboard; a box that only shows its words (a chat bubble) takes neither.
TEST_F(PasteX11, APasteIsAStepOfItsOwnReplacesTheSelectionAndLeavesAReadOnlyBoxAlone)
{
    for (const auto &[name, box] : composer() + draftEditor()) {
        SCOPED_TRACE(name);
        ASSERT_NE(box, nullptr);
        // Owned anew for each box: a selection made in the last one took the primary selection.
        SelectionOwner clipboard("CLIPBOARD", {{"UTF8_STRING", QByteArrayLiteral("XYZ")}});
        SelectionOwner primary("PRIMARY", {{"UTF8_STRING", QByteArrayLiteral("#cats")}});
        ASSERT_TRUE(clipboard.owns() && primary.owns());
        box->setFocus(Qt::OtherFocusReason);
        empty(box);
        QTest::keyClicks(box, QStringLiteral("abc"));
        EXPECT_EQ(settledAfter(box, [&] { QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier); }), QStringLiteral("abcXYZ"));
        QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(textOf(box), QStringLiteral("abc"));
        EXPECT_EQ(settledAfter(box, [&] {
                      QTest::mouseClick(surfaceOf(box), Qt::MiddleButton, {}, startOf(box));
                  }),
                  QStringLiteral("#catsabc"));
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        EXPECT_EQ(settledAfter(box, [&] { QTest::keyClick(box, Qt::Key_Insert, Qt::ShiftModifier); }), QStringLiteral("XYZ"));
        QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(textOf(box), QStringLiteral("#catsabc"));
    }
    model().setComposerPresented(false);
    askPanel();
    auto *bubble = ask.view()->findChild<ChatText *>();
    ASSERT_NE(bubble, nullptr);
    const QString shown = bubble->toPlainText();
    bubble->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(bubble, Qt::Key_V, Qt::ControlModifier);
    QTest::mouseClick(bubble->viewport(), Qt::MiddleButton, {}, QPoint(4, 4));
    settle();
    EXPECT_EQ(bubble->toPlainText(), shown);
}

// The file chooser's name takes a paste through the guard while the list of
// names it would complete shows (the list hands the box its keys itself).
TEST_F(PasteX11, TheFileChoosersNameTakesAPasteWhileItsCompletionsShow)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char *name : {"cat1.png", "cat2.png"}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    SelectionOwner owner("CLIPBOARD", {{"UTF8_STRING", QByteArrayLiteral("t2.png")}});
    ASSERT_TRUE(owner.owns());
    QSignalSpy settled(PasteGuard::instance(), &PasteGuard::settled);
    QString pasted;
    QTimer::singleShot(0, [&] {
        QFileDialog *dialog = nullptr;
        EXPECT_TRUE(zktest::spinUntil([&] {
            dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            return dialog && dialog->isVisible();
        }));
        auto *name = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
        if (!name || !name->completer()) {
            ADD_FAILURE() << "no name to type";
        } else {
            // Names are completed once the folder has been read.
            auto *files = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
            EXPECT_TRUE(zktest::spinUntil([&] { return files && files->model()->rowCount(files->rootIndex()) == 2; }));
            name->setFocus(Qt::OtherFocusReason);
            QTest::keyClicks(name, QStringLiteral("ca"));
            QWidget *list = name->completer()->popup();
            EXPECT_TRUE(zktest::spinUntil([&] { return list->isVisible(); }));
            QTest::keyClick(list, Qt::Key_V, Qt::ControlModifier);
            EXPECT_TRUE(zktest::spinUntil([&] { return !settled.isEmpty(); })) << "the paste went past the guard";
            pasted = name->text();
        }
        if (dialog)
            dialog->reject();
    });
    FileChooser::Options options;
    options.folder = folder.path();
    EXPECT_TRUE(FileChooser::choose(options, host.window.get()).isEmpty());
    EXPECT_EQ(pasted, QStringLiteral("cat2.png"));
}

// An owner that never answers holds nothing up: Ctrl+V returns at once, the
// application goes on (keys still type) and the paste ends with nothing.
TEST_F(PasteX11, AnOwnerThatNeverAnswersHoldsNothingUp)
{
    askPanel();
    GrowingTextField *field = ask.view()->field();
    field->setFocus(Qt::OtherFocusReason);
    empty(field);
    SelectionOwner silent("CLIPBOARD", {{"UTF8_STRING", QByteArrayLiteral("never")}}, SelectionOwner::Answers::never);
    ASSERT_TRUE(silent.owns());
    QSignalSpy settled(PasteGuard::instance(), &PasteGuard::settled);
    bool wentOn = false;
    QTimer::singleShot(0, [&] { wentOn = true; });
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(settled.isEmpty()) << "the paste waited for the owner";
    EXPECT_TRUE(zktest::spinUntil([&] { return wentOn; }));
    EXPECT_TRUE(settled.isEmpty());
    QTest::keyClicks(field, QStringLiteral("hi"));
    EXPECT_EQ(field->text(), QStringLiteral("hi"));
    ASSERT_TRUE(zktest::spinUntil([&] { return !settled.isEmpty(); }));
    EXPECT_EQ(settled.first().at(1).toString(), QString());
    EXPECT_EQ(field->text(), QStringLiteral("hi"));
    EXPECT_GE(silent.asked(), 1);
}
