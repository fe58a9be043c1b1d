#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <functional>
#include <vector>

// Alt+Space from any application: the key is grabbed on the X root window, and
// each physical press runs the callback once on the main thread (held keys
// that repeat do not). Released when the object goes. Where the key cannot be
// had (another client holds it, or there is no X11 session) nothing is grabbed,
// and registered() answers false.
class GlobalHotKey final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit GlobalHotKey(std::function<void()> callback, QObject *parent = nullptr);
    ~GlobalHotKey() override;

    bool registered() const { return !m_grabbed.empty(); }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    void grab();
    void release();

    std::function<void()> m_callback;
    std::uint32_t m_root = 0;
    std::uint8_t m_keycode = 0;
    // Lock modifiers that must not stop the key from matching.
    std::uint16_t m_ignored = 0;
    // The modifier sets grabbed, Alt with each combination of the lock modifiers.
    std::vector<std::uint16_t> m_grabbed;
    bool m_held = false;
    std::uint32_t m_lastPressTime = 0;
    std::uint32_t m_lastReleaseTime = 0;
};
