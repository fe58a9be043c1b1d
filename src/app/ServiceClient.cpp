#include "app/ServiceClient.h"

// Each operation hands the client's own task back: no extra coroutine frame.

using Self = ZephylServiceClient;

QCoro::Task<Self::RestoreOutcome> Self::restoreSession() { return m_api->restoreSession(); }
QCoro::Task<Self::AuthSession> Self::signInWithEmail(QString email, QString password)
{
    return m_api->signInWithEmail(std::move(email), std::move(password));
}
QCoro::Task<Self::SignUpOutcome> Self::createAccountWithEmail(QString email, QString password, QString name)
{
    return m_api->createAccountWithEmail(std::move(email), std::move(password), std::move(name));
}
QCoro::Task<> Self::sendPasswordReset(QString email) { return m_api->sendPasswordReset(std::move(email)); }
QCoro::Task<QUrl> Self::supabaseProjectURL() { return m_api->supabaseProjectURL(); }
QCoro::Task<Self::AuthSession> Self::adoptSupabaseSession(QString accessToken)
{
    return m_api->adoptSupabaseSession(std::move(accessToken));
}
QCoro::Task<Self::User> Self::currentUser() { return m_api->currentUser(); }
QCoro::Task<> Self::logout() { return m_api->logout(); }
void Self::useWebSession(WebTransport *transport) { m_api->useWebSession(transport); }
bool Self::hasWebTransport() const { return m_api->hasWebTransport(); }

QCoro::Task<Self::AssistantReply> Self::assistant(QString message, QList<ChatMessage> history, Persona persona)
{
    return m_api->assistant(std::move(message), std::move(history), std::move(persona));
}
QCoro::Task<Self::AssistantThreadStore> Self::assistantThreadStore() { return m_api->assistantThreadStore(); }
QCoro::Task<Self::AssistantThreadStore> Self::createAssistantThread(std::optional<QString> title)
{
    return m_api->createAssistantThread(std::move(title));
}
QCoro::Task<Self::AssistantThreadStore> Self::selectAssistantThread(QString id)
{
    return m_api->selectAssistantThread(std::move(id));
}
QCoro::Task<Self::AssistantThreadStore> Self::saveAssistantThread(std::optional<QString> id,
                                                                  std::optional<QString> title,
                                                                  QList<ChatMessage> messages)
{
    return m_api->saveAssistantThread(std::move(id), std::move(title), std::move(messages));
}
QCoro::Task<Self::AssistantThreadStore> Self::deleteAssistantThread(QString id)
{
    return m_api->deleteAssistantThread(std::move(id));
}

QCoro::Task<QUrl> Self::instagramAuthorizationURL() { return m_api->instagramAuthorizationURL(); }
QCoro::Task<> Self::reportInstagramConnectionAbandoned() { return m_api->reportInstagramConnectionAbandoned(); }
QCoro::Task<std::optional<Self::InstagramProfile>> Self::instagramProfile() { return m_api->instagramProfile(); }
QCoro::Task<> Self::disconnectInstagram() { return m_api->disconnectInstagram(); }
QCoro::Task<Self::InstagramFeedResponse> Self::instagramFeed(std::optional<QString> after)
{
    return m_api->instagramFeed(std::move(after));
}

QCoro::Task<QString> Self::uploadInstagramMedia(MediaSource source, QString contentType, QString fileName)
{
    return m_api->uploadInstagramMedia(std::move(source), std::move(contentType), std::move(fileName));
}
QCoro::Task<Self::Publication> Self::createInstagramPublication(PublicationRequest request, QString idempotencyKey)
{
    return m_api->createInstagramPublication(std::move(request), std::move(idempotencyKey));
}
QCoro::Task<std::optional<Self::Publication>> Self::existingInstagramPublication(QString id)
{
    return m_api->existingInstagramPublication(std::move(id));
}
QCoro::Task<Self::Publication> Self::waitForInstagramPublication(Publication publication, int maximumAttempts,
                                                                 double delaySeconds, CancelToken cancel)
{
    return m_api->waitForInstagramPublication(std::move(publication), maximumAttempts, delaySeconds,
                                              std::move(cancel));
}
QCoro::Task<QList<Self::Publication>> Self::instagramPublications() { return m_api->instagramPublications(); }
QCoro::Task<QList<Self::PlanDraft>> Self::planDrafts() { return m_api->planDrafts(); }
QCoro::Task<> Self::savePlanDrafts(QList<PlanDraft> drafts, std::function<void()> wentOut)
{
    return m_api->savePlanDrafts(std::move(drafts), std::move(wentOut));
}
