#pragma once

#include <optional>

// Seconds since the user last touched the mouse or keyboard.
class IdleTime {
public:
    virtual ~IdleTime() = default;
    // None when the desktop cannot tell.
    virtual std::optional<double> secondsSinceInput() const = 0;

    // The screen-saver extension's count on X11; nothing elsewhere.
    static IdleTime &system();
    static void setSystem(IdleTime *source);
};
