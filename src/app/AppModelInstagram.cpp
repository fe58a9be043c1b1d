// Linking and unlinking the Instagram account (native workspace's profile screen).
#include "app/AppModel.h"

#include "app/ServiceClient.h"
#include "design/L10n.h"
#include "services/auth/InstagramConnectionService.h"

QCoro::Task<> AppModel::connectInstagram(bool freshLogin)
{
    if (m_instagramBusy)
        co_return;
    setInstagramBusy(true);
    const QPointer<AppModel> self(this);
    ServiceClient *api = m_api;
    QUrl callback;
    std::exception_ptr error;
    bool abandoned = false;
    try {
        InstagramConnectionService connection(WebAuthSession::make(anchorWindow),
                                              [api] { return api->instagramAuthorizationURL(); });
        callback = co_await connection.authorize(freshLogin);
    } catch (const InstagramConnectionService::ConnectionError &e) {
        abandoned = e.kind() == InstagramConnectionService::ConnectionError::Kind::cancelled;
        error = std::current_exception();
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return;
    if (abandoned) {
        // The service counts connections given up; nothing is shown.
        co_await m_api->reportInstagramConnectionAbandoned();
        if (self)
            setInstagramBusy(false);
        co_return;
    }
    if (error) {
        show(error);
        setInstagramBusy(false);
        co_return;
    }

    const std::optional<QString> status = InstagramConnectionService::status(callback);
    if (status != QLatin1String("connected")) {
        setNotice(AppNotice::make(L10n::tf("Instagram answered: %@", status.value_or(QStringLiteral("invalid_response"))),
                                  AppNotice::Tone::attention));
        setInstagramBusy(false);
        co_return;
    }
    co_await loadInstagram();
    if (!self)
        co_return;
    if (m_instagram) {
        const QString name = m_instagram->username;
        setNotice(AppNotice::make(L10n::tf("Connected as @%@", name), AppNotice::Tone::settled));
        raise(AppEvent::say(L10n::tf("@%@ is connected. I'll keep an eye on the plan.", name)));
    }
    co_await loadFeed(true);
    if (self)
        setInstagramBusy(false);
}

QCoro::Task<> AppModel::disconnectInstagram()
{
    if (m_instagramBusy)
        co_return;
    setInstagramBusy(true);
    const FlowGuard guard = flowGuard();
    std::exception_ptr error;
    try {
        co_await m_api->disconnectInstagram();
    } catch (...) {
        error = std::current_exception();
    }
    if (!guard.model)
        co_return;
    if (error) {
        show(error);
    } else if (guard.alive()) {
        setInstagram(std::nullopt);
        ++m_feedGeneration; // a page still on its way must not fill the grid again
        setFeedItems({});
        setFeedStatus(FeedStatus::disconnected());
        rebuildObservations();
    }
    setInstagramBusy(false);
}
