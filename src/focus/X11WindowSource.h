#pragma once

#include "focus/FocusGuard.h"

// The focus guard's window source on X11: the window manager's client list,
// grouped by owning process (_NET_WM_PID), front-most first. An X11 session is
// all the trust it needs; windows are minimised through the window manager
// (WM_CHANGE_STATE), as a task bar would.
class X11WindowSource final : public WindowSource {
public:
    bool trusted() const override;
    std::vector<Application> applications() const override;
    bool minimize(uint64_t element) override;
};
