#include "platform/FreedesktopNotifications.h"

#include <QGuiApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus))
{
}

QString FreedesktopNotifications::plainBody(const QString &body, bool serverReadsMarkup)
{
    return serverReadsMarkup ? body.toHtmlEscaped() : body;
}

void FreedesktopNotifications::post(const QString &title, const QString &body)
{
    if (m_markup) {
        send(title, body, *m_markup);
        return;
    }
    // The first post learns what the server reads; posts made meanwhile wait
    // for that answer, in order.
    m_waiting.append({title, body});
    if (m_asking)
        return;
    m_asking = true;
    const QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                             QString::fromLatin1(kInterface),
                                                             QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        m_asking = false;
        // Without an answer the texts go as they are, and the next post asks again.
        const bool markup = !reply.isError() && reply.value().contains(QStringLiteral("body-markup"));
        if (!reply.isError())
            m_markup = markup;
        const auto waiting = std::exchange(m_waiting, {});
        for (const auto &[title, body] : waiting)
            send(title, body, markup);
    });
}

void FreedesktopNotifications::send(const QString &title, const QString &body, bool markup)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                       QString::fromLatin1(kInterface), QStringLiteral("Notify"));
    // app_name, replaces_id (0: a new notice), app_icon, summary, body, actions,
    // hints, expire_timeout (-1: the server's default).
    // The desktop entry lets the server show the application's icon and name.
    const QVariantMap hints{{QStringLiteral("suppress-sound"), true},
                            {QStringLiteral("desktop-entry"), QGuiApplication::applicationName()}};
    call << QGuiApplication::applicationDisplayName() << uint(0) << QString() << title << plainBody(body, markup)
         << QStringList() << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError())
            Q_EMIT postFailed(reply.error().message());
    });
}
