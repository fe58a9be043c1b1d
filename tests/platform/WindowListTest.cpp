// The window list read from a real X server under openbox: Qt windows of this
// test, and bare windows of a second connection standing in for older clients.
#include <gtest/gtest.h>

#include "platform/X11.h"
#include "platform/X11WindowList.h"
#include "support/TestSupport.h"
#include "support/X11Support.h"

#include <QApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

const X11::ClientWindow *find(const std::vector<X11::ClientWindow> &list, uint32_t id)
{
    for (const auto &w : list) {
        if (w.id == id)
            return &w;
    }
    return nullptr;
}

int indexOf(const std::vector<X11::ClientWindow> &list, uint32_t id)
{
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].id == id)
            return int(i);
    }
    return -1;
}

// Waits until the list has `bottom` below `top`; `list` is the last read.
bool stackedAs(std::vector<X11::ClientWindow> &list, const QWidget *bottom, const QWidget *top)
{
    return zktest::spinUntil([&] {
        list = X11::readClientWindows();
        const int b = indexOf(list, uint32_t(bottom->winId())), t = indexOf(list, uint32_t(top->winId()));
        return b >= 0 && t >= 0 && b < t;
    });
}

// Raises `above`, then `below`: each time the list turns round. `list` is the last read.
::testing::AssertionResult raisedInTurn(std::vector<X11::ClientWindow> &list, QWidget *below, QWidget *above)
{
    above->raise();
    if (!stackedAs(list, below, above))
        return ::testing::AssertionFailure() << "bottom-most first";
    below->raise();
    if (!stackedAs(list, above, below))
        return ::testing::AssertionFailure() << "bottom-most first after raising the other";
    return ::testing::AssertionSuccess();
}

// Waits until the window manager lists the window and `ready` holds for it.
std::vector<X11::ClientWindow> waitFor(uint32_t id, const std::function<bool(const X11::ClientWindow &)> &ready)
{
    std::vector<X11::ClientWindow> list;
    zktest::spinUntil([&] {
        list = X11::readClientWindows();
        const auto *w = find(list, id);
        return w && ready(*w);
    });
    return list;
}

std::unique_ptr<QWidget> window(const QString &title, QRect geometry, Qt::WindowFlags flags = Qt::Window)
{
    auto w = std::make_unique<QWidget>(nullptr, flags);
    w->setWindowTitle(title);
    w->setGeometry(geometry);
    return w;
}

// A second client, as another application would be, creating bare windows with
// exactly the properties a case needs.
class OtherClient {
public:
    OtherClient()
    {
        m_c = xcb_connect(nullptr, nullptr);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
    }
    ~OtherClient() { xcb_disconnect(m_c); }

    xcb_atom_t atom(const char *name)
    {
        auto *reply = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply->atom;
        std::free(reply);
        return a;
    }
    xcb_window_t create(QRect r)
    {
        const xcb_window_t w = xcb_generate_id(m_c);
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, w, m_root, int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()),
                          uint16_t(r.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        return w;
    }
    void set(xcb_window_t w, const char *name, const char *type, const QByteArray &bytes)
    {
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, w, atom(name), atom(type), 8, uint32_t(bytes.size()),
                            bytes.constData());
    }
    void set32(xcb_window_t w, const char *name, xcb_atom_t type, std::vector<uint32_t> values)
    {
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, w, atom(name), type, 32, uint32_t(values.size()),
                            values.data());
    }
    void map(xcb_window_t w)
    {
        xcb_map_window(m_c, w);
        xcb_flush(m_c);
    }
    void destroy(xcb_window_t w)
    {
        xcb_destroy_window(m_c, w);
        xcb_flush(m_c);
    }
    // A request to the window manager, as EWMH has clients send them.
    void ask(xcb_window_t w, const char *message, std::vector<uint32_t> data)
    {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = w;
        event.type = atom(message);
        for (size_t i = 0; i < data.size() && i < 5; ++i)
            event.data.data32[i] = data[i];
        xcb_send_event(m_c, 0, m_root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&event));
        xcb_flush(m_c);
    }
    // Everything sent so far has been carried out by the server.
    void sync() { std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }
    xcb_window_t root() const { return m_root; }
    xcb_connection_t *connection() const { return m_c; }

private:
    xcb_connection_t *m_c = nullptr;
    xcb_window_t m_root = 0;
};

bool windowManagerRunning()
{
    return qEnvironmentVariable("ZK_TEST_NO_WM") != QLatin1String("1");
}

class WindowList : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(X11::available());
        if (!windowManagerRunning())
            GTEST_SKIP() << "needs a window manager";
    }
};

} // namespace

TEST_F(WindowList, ListsManagedWindowsBottomMostFirstWithGeometryFramePidAndTitle)
{
    auto below = window(QStringLiteral("Лента новостей — Браузер"), QRect(100, 120, 400, 300));
    auto above = window(QStringLiteral("Заметки"), QRect(300, 200, 420, 260), Qt::Dialog);
    below->show();
    waitFor(uint32_t(below->winId()), [](const auto &w) { return w.frameExtents.top() > 0; });
    above->show();
    waitFor(uint32_t(above->winId()), [](const auto &w) { return w.frameExtents.top() > 0; });

    // Raising one window, then the other, turns the order round each time.
    std::vector<X11::ClientWindow> list;
    ASSERT_TRUE(raisedInTurn(list, below.get(), above.get()));
    const int iBelow = indexOf(list, uint32_t(below->winId()));
    const int iAbove = indexOf(list, uint32_t(above->winId()));

    const X11::ClientWindow b = list[size_t(iBelow)];
    EXPECT_EQ(b.title, QStringLiteral("Лента новостей — Браузер"));
    EXPECT_EQ(b.pid, uint32_t(::getpid()));
    EXPECT_EQ(b.type, X11::WindowType::normal);
    EXPECT_EQ(list[size_t(iAbove)].type, X11::WindowType::dialog);
    EXPECT_FALSE(b.hidden());
    EXPECT_TRUE(b.onCurrentDesktop);
    EXPECT_DOUBLE_EQ(b.opacity, 1.0);
    EXPECT_FALSE(b.className.isEmpty());
    // Root coordinates of the client area, and the decorated frame around it,
    // agree with what Qt learnt from the window manager.
    // Qt hears of the placement in its own time, and the list read above may
    // precede it: both are read again until they agree or the wait runs out.
    const X11::ClientWindow *placed = nullptr;
    EXPECT_TRUE(zktest::spinUntil([&] {
        list = X11::readClientWindows();
        placed = find(list, uint32_t(below->winId()));
        return placed && below->geometry().topLeft() != QPoint(0, 0) && placed->geometry == below->geometry() &&
               placed->outerFrame() == below->frameGeometry();
    }));
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed->geometry, below->geometry());
    EXPECT_GT(placed->frameExtents.top(), 0) << "openbox draws a title bar";
    EXPECT_EQ(placed->outerFrame(), below->frameGeometry());
}

TEST_F(WindowList, MinimisedWindowIsMarkedHidden)
{
    auto w = window(QStringLiteral("Свёрнутое окно"), QRect(50, 60, 300, 200));
    w->show();
    waitFor(uint32_t(w->winId()), [](const auto &x) { return x.frameExtents.top() > 0; });
    w->showMinimized();
    const auto list = waitFor(uint32_t(w->winId()), [](const auto &x) { return x.hidden(); });
    const auto *found = find(list, uint32_t(w->winId()));
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->hidden());
    EXPECT_FALSE(found->viewable);
    EXPECT_EQ(found->title, QStringLiteral("Свёрнутое окно"));
}

TEST_F(WindowList, LongTitlesAreCutWithoutSplittingACharacter)
{
    struct Case {
        const char *what;
        QString title;
        QString expected;
    };
    const QString emoji = QStringLiteral("😺");
    QString cyrillic = QStringLiteral("a");
    for (int i = 0; i < 2000; ++i)
        cyrillic += QChar(0x0416); // Ж, two bytes in UTF-8
    const Case cases[] = {
        // The surrogate pair would straddle the limit: the whole emoji goes.
        {"emoji at the limit", QString(X11::kMaxTitleLength - 1, QLatin1Char('a')) + emoji + QStringLiteral("tail"),
         QString(X11::kMaxTitleLength - 1, QLatin1Char('a'))},
        // Longer than the bytes read, with the read ending inside a character.
        {"two-byte letters beyond the read", cyrillic, cyrillic.left(X11::kMaxTitleLength)},
        {"short mixed scripts", QStringLiteral("مرحبا · 你好 · שלום 😺"), QStringLiteral("مرحبا · 你好 · שלום 😺")},
    };
    for (const Case &c : cases) {
        auto w = window(c.title, QRect(10, 10, 200, 150));
        w->show();
        const auto list = waitFor(uint32_t(w->winId()), [](const auto &x) { return !x.title.isEmpty(); });
        const auto *found = find(list, uint32_t(w->winId()));
        ASSERT_TRUE(found) << c.what;
        EXPECT_EQ(found->title, c.expected) << c.what;
        EXPECT_FALSE(found->title.contains(QChar(QChar::ReplacementCharacter))) << c.what;
    }
}

TEST_F(WindowList, ReadsOlderClientsPropertiesAndTypes)
{
    OtherClient other;
    // Latin-1 WM_NAME only, class names, a pid, half opacity, a type list that
    // starts with a name nobody knows, and a request to be kept above.
    const xcb_window_t latin = other.create(QRect(40, 40, 300, 200));
    other.set(latin, "WM_NAME", "STRING", QByteArray("Caf\xe9 au lait"));
    other.set(latin, "WM_CLASS", "STRING", QByteArray("probe\0Zephyl Probe\0", 19));
    other.set32(latin, "_NET_WM_PID", XCB_ATOM_CARDINAL, {4242});
    other.set32(latin, "_NET_WM_WINDOW_OPACITY", XCB_ATOM_CARDINAL, {0x7FFFFFFFu});
    other.set32(latin, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM,
                {other.atom("_KDE_NET_WM_WINDOW_TYPE_OVERRIDE"), other.atom("_NET_WM_WINDOW_TYPE_DIALOG")});
    other.set32(latin, "_NET_WM_STATE", XCB_ATOM_ATOM, {other.atom("_NET_WM_STATE_ABOVE")});
    // Compound text with a UTF-8 segment, as Xlib writes a Cyrillic title.
    const xcb_window_t compound = other.create(QRect(80, 80, 300, 200));
    other.set(compound, "WM_NAME", "COMPOUND_TEXT", QByteArray("\x1b%GПривет\x1b%@ ok"));
    other.set32(compound, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {other.atom("_NET_WM_WINDOW_TYPE_TOOLBAR")});
    // _NET_WM_NAME wins over WM_NAME.
    const xcb_window_t both = other.create(QRect(120, 120, 300, 200));
    other.set(both, "WM_NAME", "STRING", QByteArray("old"));
    other.set(both, "_NET_WM_NAME", "UTF8_STRING", QByteArray("Новое"));
    for (xcb_window_t w : {latin, compound, both})
        other.map(w);

    const auto list = waitFor(both, [](const auto &x) { return x.frameExtents.top() > 0; });
    const auto *l = find(list, latin);
    const auto *c = find(list, compound);
    const auto *n = find(list, both);
    ASSERT_TRUE(l && c && n);
    EXPECT_EQ(l->title, QStringLiteral("Café au lait"));
    EXPECT_EQ(l->instanceName, QStringLiteral("probe"));
    EXPECT_EQ(l->className, QStringLiteral("Zephyl Probe"));
    EXPECT_EQ(l->pid, 4242u);
    EXPECT_NEAR(l->opacity, 0.5, 0.001);
    EXPECT_EQ(l->type, X11::WindowType::dialog);
    EXPECT_TRUE(l->state & X11::stateAbove);
    EXPECT_EQ(c->title, QStringLiteral("Привет ok"));
    EXPECT_EQ(c->type, X11::WindowType::toolbar);
    EXPECT_EQ(c->pid, 0u);
    EXPECT_TRUE(c->instanceName.isEmpty());
    EXPECT_EQ(n->title, QStringLiteral("Новое"));

    // A read that asks only for what every read gets.
    const auto bare = X11::readClientWindows(0);
    const auto *lb = find(bare, latin);
    ASSERT_TRUE(lb);
    EXPECT_TRUE(lb->title.isEmpty() && lb->className.isEmpty() && lb->instanceName.isEmpty());
    EXPECT_DOUBLE_EQ(lb->opacity, 1.0);
    EXPECT_EQ(lb->pid, 4242u);
    EXPECT_EQ(lb->type, X11::WindowType::dialog);
    EXPECT_EQ(lb->geometry, l->geometry);

    other.destroy(latin);
    const bool gone = zktest::spinUntil([&] { return !find(X11::readClientWindows(), latin); });
    EXPECT_TRUE(gone) << "a destroyed window leaves the list";
}

TEST_F(WindowList, WindowsOnAnotherDesktopAreNotOnTheCurrentOne)
{
    OtherClient other;
    other.ask(other.root(), "_NET_NUMBER_OF_DESKTOPS", {2});
    ASSERT_TRUE(zktest::spinUntil([&] {
        auto *reply = xcb_get_property_reply(
            other.connection(),
            xcb_get_property(other.connection(), 0, other.root(), other.atom("_NET_NUMBER_OF_DESKTOPS"), XCB_ATOM_CARDINAL, 0, 1),
            nullptr);
        const bool two = reply && xcb_get_property_value_length(reply) == 4 &&
                         *static_cast<uint32_t *>(xcb_get_property_value(reply)) == 2;
        std::free(reply);
        return two;
    }));
    const xcb_window_t elsewhere = other.create(QRect(60, 60, 300, 200));
    other.set32(elsewhere, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL, {1});
    const xcb_window_t everywhere = other.create(QRect(90, 90, 300, 200));
    other.set32(everywhere, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL, {0xFFFFFFFFu});
    other.map(elsewhere);
    other.map(everywhere);

    // The window manager takes the two on in its own time: wait for both.
    std::vector<X11::ClientWindow> list;
    zktest::spinUntil([&] {
        list = X11::readClientWindows();
        const auto *x = find(list, everywhere);
        return x && x->frameExtents.top() > 0 && find(list, elsewhere);
    });
    const auto *e = find(list, elsewhere);
    const auto *a = find(list, everywhere);
    ASSERT_TRUE(e && a);
    EXPECT_EQ(e->desktop, 1u);
    EXPECT_FALSE(e->onCurrentDesktop);
    EXPECT_FALSE(e->viewable);
    EXPECT_TRUE(a->viewable);
    EXPECT_TRUE(a->onCurrentDesktop);

    other.destroy(elsewhere);
    other.destroy(everywhere);
    other.ask(other.root(), "_NET_NUMBER_OF_DESKTOPS", {1});
}

// Run by a separate test entry with no window manager (ZK_TEST_NO_WM=1).
TEST(WindowListWithoutWindowManager, IsEmptyEvenWithAStaleListOnTheRoot)
{
    ASSERT_TRUE(X11::available());
    if (windowManagerRunning())
        GTEST_SKIP() << "needs a session without a window manager";
    auto w = window(QStringLiteral("Одинокое окно"), QRect(10, 10, 200, 150));
    w->show();
    QApplication::processEvents();
    EXPECT_TRUE(X11::readClientWindows().empty());

    // A window manager that left: its check window and lists stay on the root.
    OtherClient other;
    const xcb_window_t check = other.create(QRect(-10, -10, 1, 1));
    other.set32(other.root(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    other.set32(other.root(), "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, {uint32_t(w->winId())});
    other.sync();
    EXPECT_TRUE(X11::readClientWindows().empty()) << "the check window does not name itself";

    // Once the check window names itself, the same root lists count.
    other.set32(check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    other.sync();
    std::vector<X11::ClientWindow> list;
    ASSERT_TRUE(zktest::spinUntil([&] {
        list = X11::readClientWindows();
        return !list.empty();
    }));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].id, uint32_t(w->winId()));
    EXPECT_EQ(list[0].title, QStringLiteral("Одинокое окно"));
}

// Run by a separate test entry under twm (ZK_XSESSION_WM=twm), which publishes
// none of the EWMH lists.
TEST(WindowListWithoutEwmhLists, ReadsTheManagedWindowsInTheServersStackingOrder)
{
    ASSERT_TRUE(X11::available());
    if (qEnvironmentVariable("ZK_XSESSION_WM") != QLatin1String("twm"))
        GTEST_SKIP() << "needs twm";
    OtherClient other;
    auto stackingList = xcb_get_property_reply(
        other.connection(),
        xcb_get_property(other.connection(), 0, other.root(), other.atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    ASSERT_TRUE(stackingList);
    EXPECT_EQ(stackingList->type, uint32_t(XCB_ATOM_NONE)) << "twm keeps no stacking list";
    std::free(stackingList);

    auto below = window(QStringLiteral("Нижнее"), QRect(100, 120, 400, 300));
    auto above = window(QStringLiteral("Верхнее"), QRect(300, 200, 420, 260));
    // An override-redirect window (a menu, a tooltip, the cat) is nobody's client.
    auto popup = window(QStringLiteral("Popup"), QRect(50, 50, 300, 200),
                        Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    below->show();
    above->show();
    popup->show();
    waitFor(uint32_t(below->winId()), [](const auto &w) { return w.frameExtents.top() > 0; });
    waitFor(uint32_t(above->winId()), [](const auto &w) { return w.frameExtents.top() > 0; });

    std::vector<X11::ClientWindow> list;
    ASSERT_TRUE(raisedInTurn(list, below.get(), above.get()));
    EXPECT_EQ(indexOf(list, uint32_t(popup->winId())), -1);

    const auto &b = list[size_t(indexOf(list, uint32_t(below->winId())))];
    EXPECT_EQ(b.title, QStringLiteral("Нижнее"));
    EXPECT_EQ(b.pid, uint32_t(::getpid()));
    EXPECT_TRUE(b.viewable);
    EXPECT_FALSE(b.hidden());
    // The client in root coordinates, and the frame twm drew around it with its title bar.
    xcb_window_t root = X11::rootWindow();
    auto *origin = xcb_translate_coordinates_reply(
        X11::connection(), xcb_translate_coordinates(X11::connection(), uint32_t(below->winId()), root, 0, 0), nullptr);
    ASSERT_TRUE(origin);
    EXPECT_EQ(b.geometry.topLeft(), QPoint(origin->dst_x, origin->dst_y));
    std::free(origin);
    EXPECT_EQ(b.geometry.size(), QSize(400, 300));
    EXPECT_EQ(b.outerFrame(), zktest::topLevelFrame(X11::connection(), uint32_t(below->winId())));
    EXPECT_GT(b.frameExtents.top(), 10) << "twm's title bar";

    // Iconified, it stays in the list as hidden.
    below->showMinimized();
    const auto after = waitFor(uint32_t(below->winId()), [](const auto &w) { return w.hidden(); });
    const auto *hidden = find(after, uint32_t(below->winId()));
    ASSERT_TRUE(hidden);
    EXPECT_FALSE(hidden->viewable);
}
