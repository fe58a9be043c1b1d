#include "platform/UserNotifications.h"

namespace {
// Headless runs have nowhere to show a notice.
class NoNotifications final : public UserNotifications {
public:
    void post(const QString &, const QString &) override {}
};

UserNotifications *g_system = nullptr;
} // namespace

UserNotifications &UserNotifications::system()
{
    if (!g_system) {
        static NoNotifications none;
        return none;
    }
    return *g_system;
}

void UserNotifications::setSystem(UserNotifications *notifications) { g_system = notifications; }
