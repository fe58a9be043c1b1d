#pragma once

#include "base/CancelToken.h"
#include "services/ChatModels.h"
#include "services/ZephylAPI.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

class WebTransport;

// What the application state asks of the service. The application runs it over
// the one ZephylAPI client (ZephylServiceClient); unit tests give a fake. Every
// operation throws the client's errors (ZephylAPI::APIError, NetworkError,
// DecodingError, KeychainError, a web transport's own) unless it says it never fails.
class ServiceClient {
public:
    using User = ZephylAPI::User;
    using AuthSession = ZephylAPI::AuthSession;
    using RestoreOutcome = ZephylAPI::RestoreOutcome;
    using SignUpOutcome = ZephylAPI::SignUpOutcome;
    using Persona = ZephylAPI::Persona;
    using AssistantReply = ZephylAPI::AssistantReply;
    using AssistantThreadStore = ZephylAPI::AssistantThreadStore;
    using InstagramProfile = ZephylAPI::InstagramProfile;
    using InstagramFeedResponse = ZephylAPI::InstagramFeedResponse;
    using MediaSource = ZephylAPI::MediaSource;
    using PublicationRequest = ZephylAPI::PublicationRequest;
    using Publication = ZephylAPI::Publication;
    using PlanDraft = ZephylAPI::PlanDraft;

    virtual ~ServiceClient() = default;

    // ---- Session
    virtual QCoro::Task<RestoreOutcome> restoreSession() = 0; // never fails
    virtual QCoro::Task<AuthSession> signInWithEmail(QString email, QString password) = 0;
    virtual QCoro::Task<SignUpOutcome> createAccountWithEmail(QString email, QString password, QString name) = 0;
    virtual QCoro::Task<> sendPasswordReset(QString email) = 0;
    virtual QCoro::Task<QUrl> supabaseProjectURL() = 0;
    virtual QCoro::Task<AuthSession> adoptSupabaseSession(QString accessToken) = 0;
    virtual QCoro::Task<User> currentUser() = 0;
    virtual QCoro::Task<> logout() = 0; // never fails
    // The web workspace's page as the road for authenticated calls.
    virtual void useWebSession(WebTransport *transport) = 0;
    virtual bool hasWebTransport() const = 0;

    // ---- Assistant and threads
    virtual QCoro::Task<AssistantReply> assistant(QString message, QList<ChatMessage> history, Persona persona) = 0;
    virtual QCoro::Task<AssistantThreadStore> assistantThreadStore() = 0;
    virtual QCoro::Task<AssistantThreadStore> createAssistantThread(std::optional<QString> title) = 0;
    virtual QCoro::Task<AssistantThreadStore> selectAssistantThread(QString id) = 0;
    virtual QCoro::Task<AssistantThreadStore> saveAssistantThread(std::optional<QString> id,
                                                                  std::optional<QString> title,
                                                                  QList<ChatMessage> messages) = 0;
    virtual QCoro::Task<AssistantThreadStore> deleteAssistantThread(QString id) = 0;

    // ---- Instagram account and feed
    virtual QCoro::Task<QUrl> instagramAuthorizationURL() = 0;
    virtual QCoro::Task<> reportInstagramConnectionAbandoned() = 0; // never fails
    virtual QCoro::Task<std::optional<InstagramProfile>> instagramProfile() = 0;
    virtual QCoro::Task<> disconnectInstagram() = 0;
    virtual QCoro::Task<InstagramFeedResponse> instagramFeed(std::optional<QString> after) = 0;

    // ---- Media, publications and plan drafts
    virtual QCoro::Task<QString> uploadInstagramMedia(MediaSource source, QString contentType, QString fileName) = 0;
    virtual QCoro::Task<Publication> createInstagramPublication(PublicationRequest request,
                                                               QString idempotencyKey) = 0;
    // None when the service does not know the id.
    virtual QCoro::Task<std::optional<Publication>> existingInstagramPublication(QString id) = 0;
    // Never fails: the last known state when the attempts run out or `cancel` fires.
    virtual QCoro::Task<Publication> waitForInstagramPublication(Publication publication, int maximumAttempts,
                                                                 double delaySeconds, CancelToken cancel) = 0;
    virtual QCoro::Task<QList<Publication>> instagramPublications() = 0;
    virtual QCoro::Task<QList<PlanDraft>> planDrafts() = 0;
    // `wentOut` is told once the list has gone out to the service (maybe
    // never, when the write fails before it leaves).
    virtual QCoro::Task<> savePlanDrafts(QList<PlanDraft> drafts, std::function<void()> wentOut = nullptr) = 0;

    // Convenience for bytes already in memory.
    QCoro::Task<QString> uploadInstagramMedia(QByteArray data, QString contentType, QString fileName)
    {
        return uploadInstagramMedia(MediaSource::fromData(std::move(data)), std::move(contentType),
                                    std::move(fileName));
    }
};

// The application's road: every operation forwarded to one ZephylAPI client.
class ZephylServiceClient : public ServiceClient {
public:
    explicit ZephylServiceClient(ZephylAPI &api) : m_api(&api) {}

    ZephylAPI &api() const { return *m_api; }

    QCoro::Task<RestoreOutcome> restoreSession() override;
    QCoro::Task<AuthSession> signInWithEmail(QString email, QString password) override;
    QCoro::Task<SignUpOutcome> createAccountWithEmail(QString email, QString password, QString name) override;
    QCoro::Task<> sendPasswordReset(QString email) override;
    QCoro::Task<QUrl> supabaseProjectURL() override;
    QCoro::Task<AuthSession> adoptSupabaseSession(QString accessToken) override;
    QCoro::Task<User> currentUser() override;
    QCoro::Task<> logout() override;
    void useWebSession(WebTransport *transport) override;
    bool hasWebTransport() const override;

    QCoro::Task<AssistantReply> assistant(QString message, QList<ChatMessage> history, Persona persona) override;
    QCoro::Task<AssistantThreadStore> assistantThreadStore() override;
    QCoro::Task<AssistantThreadStore> createAssistantThread(std::optional<QString> title) override;
    QCoro::Task<AssistantThreadStore> selectAssistantThread(QString id) override;
    QCoro::Task<AssistantThreadStore> saveAssistantThread(std::optional<QString> id, std::optional<QString> title,
                                                          QList<ChatMessage> messages) override;
    QCoro::Task<AssistantThreadStore> deleteAssistantThread(QString id) override;

    QCoro::Task<QUrl> instagramAuthorizationURL() override;
    QCoro::Task<> reportInstagramConnectionAbandoned() override;
    QCoro::Task<std::optional<InstagramProfile>> instagramProfile() override;
    QCoro::Task<> disconnectInstagram() override;
    QCoro::Task<InstagramFeedResponse> instagramFeed(std::optional<QString> after) override;

    using ServiceClient::uploadInstagramMedia;
    QCoro::Task<QString> uploadInstagramMedia(MediaSource source, QString contentType, QString fileName) override;
    QCoro::Task<Publication> createInstagramPublication(PublicationRequest request, QString idempotencyKey) override;
    QCoro::Task<std::optional<Publication>> existingInstagramPublication(QString id) override;
    QCoro::Task<Publication> waitForInstagramPublication(Publication publication, int maximumAttempts,
                                                         double delaySeconds, CancelToken cancel) override;
    QCoro::Task<QList<Publication>> instagramPublications() override;
    QCoro::Task<QList<PlanDraft>> planDrafts() override;
    QCoro::Task<> savePlanDrafts(QList<PlanDraft> drafts, std::function<void()> wentOut = nullptr) override;

private:
    ZephylAPI *m_api;
};
