#include "ask/GlobalHotKey.h"

#include "platform/X11.h"

#include <QCoreApplication>
#include <QDebug>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <memory>

namespace {

constexpr std::uint16_t kAlt = XCB_MOD_MASK_1;
constexpr std::uint8_t kBadAccess = 10;
// Repeats of a held key come some tens of milliseconds apart, the first after about half a second.
constexpr std::uint32_t kRepeatGapMs = 1500;

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

// The modifier bit Num Lock sits on in this session (commonly Mod2); 0 if none.
std::uint16_t numLockMask(xcb_connection_t *c, xcb_key_symbols_t *symbols)
{
    std::unique_ptr<xcb_keycode_t, FreeDeleter> numLock(xcb_key_symbols_get_keycode(symbols, XK_Num_Lock));
    std::unique_ptr<xcb_get_modifier_mapping_reply_t, FreeDeleter> map(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    if (!numLock || !map)
        return 0;
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(map.get());
    const int perModifier = map->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier)
        for (int i = 0; i < perModifier; ++i)
            for (const xcb_keycode_t *k = numLock.get(); *k != XCB_NO_SYMBOL; ++k)
                if (codes[modifier * perModifier + i] == *k)
                    return std::uint16_t(1u << modifier);
    return 0;
}

} // namespace

GlobalHotKey::GlobalHotKey(std::function<void()> callback, QObject *parent)
    : QObject(parent), m_callback(std::move(callback))
{
    grab();
    if (registered())
        QCoreApplication::instance()->installNativeEventFilter(this);
}

GlobalHotKey::~GlobalHotKey()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    release();
}

void GlobalHotKey::grab()
{
    xcb_connection_t *c = X11::connection();
    if (!c)
        return; // no X11 session: there is nothing to grab the key on
    m_root = X11::rootWindow();
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(c);
    if (!symbols)
        return;
    std::unique_ptr<xcb_keycode_t, FreeDeleter> space(xcb_key_symbols_get_keycode(symbols, XK_space));
    const std::uint16_t numLock = numLockMask(c, symbols);
    xcb_key_symbols_free(symbols);
    if (!space || *space == XCB_NO_SYMBOL)
        return;
    m_keycode = *space;
    m_ignored = std::uint16_t(XCB_MOD_MASK_LOCK | numLock);

    // Caps Lock or Num Lock on must not turn the key off: each combination is a grab of its own.
    std::vector<std::uint16_t> sets{kAlt, std::uint16_t(kAlt | XCB_MOD_MASK_LOCK)};
    if (numLock)
        sets.insert(sets.end(), {std::uint16_t(kAlt | numLock), std::uint16_t(kAlt | XCB_MOD_MASK_LOCK | numLock)});
    std::vector<xcb_void_cookie_t> cookies;
    for (std::uint16_t mods : sets)
        cookies.push_back(
            xcb_grab_key_checked(c, 0, m_root, mods, m_keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    bool refused = false;
    std::uint8_t code = 0;
    for (size_t i = 0; i < sets.size(); ++i) {
        std::unique_ptr<xcb_generic_error_t, FreeDeleter> error(xcb_request_check(c, cookies[i]));
        if (error) {
            refused = true;
            code = error->error_code;
        } else {
            m_grabbed.push_back(sets[i]);
        }
    }
    if (!refused)
        return;
    // Half a key is worse than none: presses with some lock keys on would vanish.
    release();
    if (code == kBadAccess)
        qWarning("Alt+Space is held by another application, so it does not open the ask panel; "
                 "the tray menu still does.");
    else
        qWarning("Alt+Space could not be set up (X error %d); the tray menu still opens the ask panel.", int(code));
}

void GlobalHotKey::release()
{
    xcb_connection_t *c = X11::connection();
    if (c) {
        for (std::uint16_t mods : m_grabbed)
            xcb_ungrab_key(c, m_keycode, m_root, mods);
        xcb_flush(c);
    }
    m_grabbed.clear();
}

bool GlobalHotKey::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (!registered() || eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const std::uint8_t type = event->response_type & 0x7F;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    // Both events share one layout.
    const auto *key = static_cast<const xcb_key_press_event_t *>(message);
    if (key->event != m_root || key->detail != m_keycode)
        return false;
    if (type == XCB_KEY_RELEASE) {
        m_held = false;
        m_lastReleaseTime = key->time;
        return true;
    }
    constexpr std::uint16_t modifiers = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_CONTROL |
                                        XCB_MOD_MASK_1 | XCB_MOD_MASK_2 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 |
                                        XCB_MOD_MASK_5;
    if ((key->state & modifiers & ~m_ignored) != kAlt)
        return false;
    // A held key repeats: as further presses, or, where the server does not say
    // it is a repeat, as a release and a press with the same time.
    // A release that went to another client's grab must not swallow the next
    // press, so a held key counts only while its repeats keep coming.
    const bool repeat = (m_held && key->time - m_lastPressTime < kRepeatGapMs) ||
                        (m_lastReleaseTime != 0 && key->time == m_lastReleaseTime);
    m_held = true;
    m_lastPressTime = key->time;
    if (!repeat) {
        // After the filter has returned, on the main thread; dropped if this object is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_callback)
                    m_callback();
            },
            Qt::QueuedConnection);
    }
    return true;
}
