#include "web/SessionCookieKeep.h"

#include "base/Clock.h"
#include "web/WebRules.h"

#include <QPointer>

namespace {
const QString kService = QStringLiteral("app.sorvane.creator.web");
const QString kAccount = QStringLiteral("session-cookie");
} // namespace

SessionCookieKeep::SessionCookieKeep(std::unique_ptr<SecretBackend> place, QString host, QObject *parent)
    : QObject(parent), m_place(std::move(place)), m_host(std::move(host))
{
}

void SessionCookieKeep::added(const QNetworkCookie &cookie)
{
    if (!WebRules::isSessionCookie(cookie, m_host))
        return;
    if (WebRules::isLiveSession(cookie, m_host, Clock::shared().now()))
        want(cookie.toRawForm(QNetworkCookie::Full));
    else
        want(std::nullopt);
}

void SessionCookieKeep::removed(const QNetworkCookie &cookie)
{
    if (WebRules::isSessionCookie(cookie, m_host))
        want(std::nullopt);
}

void SessionCookieKeep::want(std::optional<QByteArray> raw)
{
    if (m_known && m_wanted == raw)
        return;
    m_known = true;
    m_wanted = std::move(raw);
    m_dirty = true;
    if (!m_writing)
        writeOut();
}

QCoro::Task<> SessionCookieKeep::writeOut()
{
    // One change at a time, in the order reported; only the latest matters.
    const QPointer<SessionCookieKeep> self(this);
    m_writing = true;
    while (m_dirty) {
        m_dirty = false;
        const std::optional<QByteArray> target = m_wanted;
        const SecretBackend::Result done = target ? co_await m_place->write(kService, kAccount, *target)
                                                  : co_await m_place->remove(kService, kAccount);
        if (!self)
            co_return;
        // An older session never outlives a newer one that could not be kept.
        if (target && done.status != SecretBackend::Status::ok) {
            co_await m_place->remove(kService, kAccount);
            if (!self)
                co_return;
        }
    }
    m_writing = false;
}

QCoro::Task<std::optional<QNetworkCookie>> SessionCookieKeep::load()
{
    const QPointer<SessionCookieKeep> self(this);
    const SecretBackend::Result read = co_await m_place->read(kService, kAccount);
    if (!self || read.status != SecretBackend::Status::ok)
        co_return std::nullopt;
    const QList<QNetworkCookie> parsed = QNetworkCookie::parseCookies(read.data);
    if (parsed.size() != 1 || !WebRules::isLiveSession(parsed.first(), m_host, Clock::shared().now()))
        co_return std::nullopt;
    if (!m_known) {
        m_known = true;
        m_wanted = read.data;
    }
    QNetworkCookie cookie = parsed.first();
    if (!cookie.domain().startsWith(u'.'))
        cookie.setDomain(QString());
    co_return cookie;
}
