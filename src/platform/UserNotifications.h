#pragma once

#include <QString>

// Desktop notifications: a title and a body, shown at once, without sound. The
// desktop decides whether and how to show them; a notice that cannot be posted
// is dropped, never reported, so no caller waits for or on it.
class UserNotifications {
public:
    virtual ~UserNotifications() = default;
    virtual void post(const QString &title, const QString &body) = 0;

    // The application's road; posts nothing until the shell installs one.
    static UserNotifications &system();
    static void setSystem(UserNotifications *notifications);
};
