#include "platform/IdleTime.h"

#include "platform/X11.h"

#include <xcb/screensaver.h>

#include <cstdlib>

namespace {
class X11IdleTime final : public IdleTime {
public:
    std::optional<double> secondsSinceInput() const override
    {
        xcb_connection_t *c = X11::connection();
        if (!c)
            return std::nullopt;
        auto cookie = xcb_screensaver_query_info(c, X11::rootWindow());
        xcb_screensaver_query_info_reply_t *reply = xcb_screensaver_query_info_reply(c, cookie, nullptr);
        if (!reply)
            return std::nullopt;
        const double seconds = reply->ms_since_user_input / 1000.0;
        std::free(reply);
        return seconds;
    }
};

IdleTime *g_source = nullptr;
} // namespace

IdleTime &IdleTime::system()
{
    if (!g_source) {
        static X11IdleTime x11;
        g_source = &x11;
    }
    return *g_source;
}

void IdleTime::setSystem(IdleTime *source) { g_source = source; }
