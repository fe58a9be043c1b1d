// Alt+Space on a real X server with a window manager that leaves it free:
// presses from another window, held keys, lock keys, a key another client
// holds, and what is left after the object goes.
#include <gtest/gtest.h>

#include "ask/GlobalHotKey.h"
#include "design/FloatingPanel.h"
#include "platform/X11.h"
#include "support/TestSupport.h"
#include "support/X11TestSupport.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QKeyEvent>
#include <QThread>
#include <QWindow>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <memory>

using namespace zktest;

namespace {

// Every server request made before this has been answered, so the events it
// caused are queued on the application's connection; then they are dispatched.
void settle()
{
    xcb_connection_t *c = X11::connection();
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

xcb_keycode_t spaceKeycode(xcb_connection_t *c)
{
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(c);
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, XK_space);
    const xcb_keycode_t code = codes ? codes[0] : 0;
    std::free(codes);
    xcb_key_symbols_free(symbols);
    return code;
}

// Another X client of its own, which can hold a key.
struct OtherClient {
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    ~OtherClient()
    {
        // Given back and answered before going: a disconnect alone frees the key only
        // when the server gets to it, which a next grab may beat.
        xcb_ungrab_key(c, XCB_GRAB_ANY, root, XCB_MOD_MASK_ANY);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        xcb_disconnect(c);
    }

    // Grabs Alt+Space with the given extra modifiers; true when the server agreed.
    bool grab(uint16_t extra = 0)
    {
        xcb_generic_error_t *error = xcb_request_check(
            c, xcb_grab_key_checked(c, 0, root, uint16_t(XCB_MOD_MASK_1 | extra), spaceKeycode(c),
                                    XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        const bool ok = !error;
        std::free(error);
        return ok;
    }
    // True once a press of the grabbed key has reached this client.
    bool pressed()
    {
        while (xcb_generic_event_t *e = xcb_poll_for_event(c)) {
            const bool press = (e->response_type & 0x7F) == XCB_KEY_PRESS;
            std::free(e);
            if (press)
                return true;
        }
        return false;
    }
};

// Counts the presses of Space the server sends to the root, repeats included;
// installed after the hot key, so it sees them first.
struct RawPresses final : QAbstractNativeEventFilter {
    int count = 0;
    RawPresses() { QCoreApplication::instance()->installNativeEventFilter(this); }
    ~RawPresses() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        const auto *e = static_cast<const xcb_generic_event_t *>(message);
        if (type == "xcb_generic_event_t" && (e->response_type & 0x7F) == XCB_KEY_PRESS &&
            static_cast<const xcb_key_press_event_t *>(message)->detail == spaceKeycode(X11::connection()))
            ++count;
        return false;
    }
};

// Presses of Space that reach a widget, with their modifiers.
struct SpacePresses final : QObject {
    QList<Qt::KeyboardModifiers> seen;
    explicit SpacePresses(QWidget *w) { w->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space)
            seen << static_cast<QKeyEvent *>(event)->modifiers();
        return false;
    }
};

// Counts what reaches the message handler while alive.
struct Warnings {
    static inline QStringList seen;
    QtMessageHandler previous;
    Warnings()
    {
        seen.clear();
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtWarningMsg)
                seen << text;
        });
    }
    ~Warnings() { qInstallMessageHandler(previous); }
};

} // namespace

TEST(GlobalHotKeyX11, APressWhileAnotherWindowHasTheKeyboardCallsOnceAndTakesNoFocus)
{
    Typist typist;
    ASSERT_TRUE(spinUntil([&] { return typist.active(); }));
    FloatingPanel panel(QSize(148, 88), false);
    panel.move(900, 600);
    panel.show();
    ASSERT_TRUE(spinUntil([&] { return panel.windowHandle()->isExposed(); }));

    int calls = 0;
    bool onMainThread = true;
    GlobalHotKey key([&] {
        ++calls;
        onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    ASSERT_TRUE(key.registered());

    xdotool({"key", "alt+space"});
    ASSERT_TRUE(spinUntil([&] { return calls >= 1; }));
    settle();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onMainThread);
    EXPECT_TRUE(typist.active());
    EXPECT_FALSE(panel.isActiveWindow());
    // The press was taken whole: no space reached the field, and typing still goes there.
    xdotool({"type", "ok"});
    EXPECT_TRUE(spinUntil([&] { return typist.field->text() == QStringLiteral("ok"); }))
        << typist.field->text().toStdString();
}

TEST(GlobalHotKeyX11, AHeldKeyCallsOnceAndLockKeysDoNotTurnItOff)
{
    Typist typist;
    int calls = 0;
    GlobalHotKey key([&] { ++calls; });
    ASSERT_TRUE(key.registered());

    // Held down until the server has repeated the press a few times.
    RawPresses raw;
    xdotool({"keydown", "alt+space"});
    const bool repeated = spinUntil([&] { return raw.count >= 4; }, std::chrono::seconds(10));
    xdotool({"keyup", "space"});
    xdotool({"keyup", "alt"});
    ASSERT_TRUE(repeated) << "the server did not repeat the held key: " << raw.count;
    ASSERT_TRUE(spinUntil([&] { return calls >= 1; }));
    settle();
    EXPECT_EQ(calls, 1) << "one physical press, " << raw.count << " presses from the server";

    // A new press after the release counts again.
    xdotool({"key", "alt+space"});
    ASSERT_TRUE(spinUntil([&] { return calls >= 2; }));
    settle();
    EXPECT_EQ(calls, 2);

    // With Caps Lock, Num Lock, and both on.
    xdotool({"key", "Caps_Lock"});
    xdotool({"key", "alt+space"});
    EXPECT_TRUE(spinUntil([&] { return calls == 3; }, std::chrono::seconds(5))) << "with Caps Lock";
    xdotool({"key", "Num_Lock"});
    xdotool({"key", "alt+space"});
    EXPECT_TRUE(spinUntil([&] { return calls == 4; }, std::chrono::seconds(5))) << "with both";
    xdotool({"key", "Caps_Lock"});
    xdotool({"key", "alt+space"});
    EXPECT_TRUE(spinUntil([&] { return calls == 5; }, std::chrono::seconds(5))) << "with Num Lock";
    xdotool({"key", "Num_Lock"});

    // Other combinations are not the hot key: each goes on to the window with
    // the keyboard, and the panel's callback does not run.
    SpacePresses field(typist.field);
    const std::pair<const char *, Qt::KeyboardModifiers> others[] = {
        {"ctrl+alt+space", Qt::ControlModifier | Qt::AltModifier},
        {"shift+alt+space", Qt::ShiftModifier | Qt::AltModifier},
        {"ctrl+shift+alt+space", Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier}};
    for (const auto &[combo, modifiers] : others) {
        const qsizetype before = field.seen.size();
        xdotool({"key", combo});
        ASSERT_TRUE(spinUntil([&] { return field.seen.size() > before; }, std::chrono::seconds(5)))
            << combo << " did not reach the window with the keyboard";
        settle();
        EXPECT_EQ(field.seen.last(), modifiers) << combo;
        EXPECT_EQ(calls, 5) << combo;
    }
    xdotool({"key", "alt+space"});
    ASSERT_TRUE(spinUntil([&] { return calls >= 6; }));
    settle();
    EXPECT_EQ(calls, 6);
    EXPECT_EQ(field.seen.size(), 3) << "Alt+Space alone is the hot key's";
}

TEST(GlobalHotKeyX11, AKeyAnotherClientHoldsIsNotRegisteredAndSaysSoOnce)
{
    OtherClient other;
    ASSERT_TRUE(other.grab());
    int calls = 0;
    Warnings warnings;
    auto key = std::make_unique<GlobalHotKey>([&] { ++calls; });
    EXPECT_FALSE(key->registered());
    EXPECT_EQ(warnings.seen.size(), 1) << warnings.seen.join(u'\n').toStdString();

    xdotool({"key", "alt+space"});
    ASSERT_TRUE(spinUntil([&] { return other.pressed(); }));
    settle();
    EXPECT_EQ(calls, 0);
    key.reset(); // releasing a failed registration is harmless
    // None of the variants we did get are left behind: the other client can take them all.
    EXPECT_TRUE(other.grab(XCB_MOD_MASK_LOCK));
}

TEST(GlobalHotKeyX11, NothingArrivesAfterTheObjectIsGoneAndTheKeyIsFreeAgain)
{
    int calls = 0;
    auto key = std::make_unique<GlobalHotKey>([&] { ++calls; });
    ASSERT_TRUE(key->registered());

    // A press the filter has seen but whose call has not run yet is dropped with the object.
    xcb_key_press_event_t press{};
    press.response_type = XCB_KEY_PRESS;
    press.event = X11::rootWindow();
    press.root = X11::rootWindow();
    press.detail = spaceKeycode(X11::connection());
    press.state = XCB_MOD_MASK_1;
    press.time = 4242;
    EXPECT_TRUE(key->nativeEventFilter("xcb_generic_event_t", &press, nullptr));
    key.reset();
    settle();
    EXPECT_EQ(calls, 0);

    // Every variant was given back: another client gets them, and the press goes there.
    OtherClient other;
    EXPECT_TRUE(other.grab());
    EXPECT_TRUE(other.grab(XCB_MOD_MASK_LOCK));
    xdotool({"key", "alt+space"});
    EXPECT_TRUE(spinUntil([&] { return other.pressed(); }));
    settle();
    EXPECT_EQ(calls, 0);
}

TEST(GlobalHotKeyX11, AFilteredPressRunsTheCallbackLater)
{
    int calls = 0;
    GlobalHotKey key([&] { ++calls; });
    ASSERT_TRUE(key.registered());
    xcb_key_press_event_t press{};
    press.response_type = XCB_KEY_PRESS;
    press.event = X11::rootWindow();
    press.detail = spaceKeycode(X11::connection());
    press.state = XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK;
    press.time = 5000;
    EXPECT_TRUE(key.nativeEventFilter("xcb_generic_event_t", &press, nullptr));
    EXPECT_EQ(calls, 0) << "not inside the filter";
    QApplication::processEvents();
    EXPECT_EQ(calls, 1);
    // The same press again with the time of a release just seen is a repeat.
    xcb_key_release_event_t release = press;
    release.response_type = XCB_KEY_RELEASE;
    release.time = 5100;
    key.nativeEventFilter("xcb_generic_event_t", &release, nullptr);
    press.time = 5100;
    key.nativeEventFilter("xcb_generic_event_t", &press, nullptr);
    QApplication::processEvents();
    EXPECT_EQ(calls, 1);
    // With Ctrl or Shift (or the other modifiers) besides Alt it is another key, left to others.
    for (uint16_t extra : {uint16_t(XCB_MOD_MASK_CONTROL), uint16_t(XCB_MOD_MASK_SHIFT), uint16_t(XCB_MOD_MASK_4),
                           uint16_t(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT)}) {
        xcb_key_release_event_t up = press;
        up.response_type = XCB_KEY_RELEASE;
        up.time = press.time += 2000;
        key.nativeEventFilter("xcb_generic_event_t", &up, nullptr);
        press.time += 2000;
        press.state = uint16_t(XCB_MOD_MASK_1 | extra);
        EXPECT_FALSE(key.nativeEventFilter("xcb_generic_event_t", &press, nullptr)) << extra;
        QApplication::processEvents();
        EXPECT_EQ(calls, 1) << extra;
    }
    // And Alt alone after them still is.
    press.time += 2000;
    press.state = XCB_MOD_MASK_1;
    EXPECT_TRUE(key.nativeEventFilter("xcb_generic_event_t", &press, nullptr));
    QApplication::processEvents();
    EXPECT_EQ(calls, 2);
}
