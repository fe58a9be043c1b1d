#pragma once

#include "services/Bodies.h"
#include "services/HttpCall.h"
#include "services/KeychainStore.h"
#include "services/ServiceErrors.h"
#include "services/WebTransport.h"
#include "services/WireModels.h"
#include "services/ops/AssistantBodies.h"
#include "services/ops/MediaUpload.h"
#include "services/ops/Publications.h"

#include <QCoro/QCoroTask>
#include <QJsonObject>
#include <QObject>
#include <QSslCertificate>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class CancelToken;
class Clock;
class QNetworkAccessManager;
struct ChatMessage;
namespace Async {
class Abort;
template <typename T>
class Shared;
class Lock;
} // namespace Async

// The application's one client of the service. Lives on the main thread; every
// operation is a coroutine awaited from there, and operations interleave only
// at their awaits (network, keychain).
//
// Errors. A failed operation throws; a coroutine that returns has succeeded.
// What can reach a caller:
//   - ZephylAPI::APIError (the service's refusals and the client's own checks);
//   - ZephylAPI::NetworkError (the HTTP exchange failed: timedOut, cancelled, ...);
//   - ZephylAPI::DecodingError (an answer without the expected shape);
//   - ZephylAPI::KeychainError (a new session could not be stored);
//   - whatever an attached WebTransport throws, unchanged.
// Only APIError::unauthorized ever starts a refresh, and only once per call.
//
// Time-outs run on the injected Clock: each direct request is bounded by its own
// time-out (60 s, or the one an operation gives), which also bounds waiting for
// connectivity; within it, an attempt that moves no bytes for the session's 30 s
// ends as timedOut (a request given its own time-out expects a slow answer and
// is bounded by that alone).
class ZephylAPI : public QObject {
    Q_OBJECT

public:
    using User = ZephylWire::User;
    using AuthSession = ZephylWire::AuthSession;
    using AssistantReply = ZephylWire::AssistantReply;
    using AssistantThreadSummary = ZephylWire::AssistantThreadSummary;
    using AssistantThread = ZephylWire::AssistantThread;
    using AssistantStoredMessage = ZephylWire::AssistantStoredMessage;
    using AssistantThreadStore = ZephylWire::AssistantThreadStore;
    using InstagramProfile = ZephylWire::InstagramProfile;
    using InstagramFeedItem = ZephylWire::InstagramFeedItem;
    using InstagramFeedResponse = ZephylWire::InstagramFeedResponse;
    using PlanDraft = ZephylWire::PlanDraft;
    using Publication = ZephylWire::Publication;
    using ErrorResponse = ZephylWire::ErrorResponse;
    using EmptyResponse = ZephylWire::EmptyResponse;

    using APIError = ServiceAPIError;
    using NetworkError = ServiceNetworkError;
    using DecodingError = ServiceDecodingError;
    using KeychainError = KeychainStore::KeychainError;

    // The start-up check's answer.
    enum class RestoreOutcome {
        signedIn,   // the stored session was confirmed, directly or after a refresh
        signedOut,  // no usable session
        unverified, // an access token is stored but the service was silent for 20 s
    };

    struct SignUpOutcome {
        enum class Kind { signedIn, confirmationSent };
        Kind kind = Kind::confirmationSent;
        std::optional<AuthSession> session; // with signedIn

        static SignUpOutcome signedIn(AuthSession s) { return {Kind::signedIn, std::move(s)}; }
        static SignUpOutcome confirmationSent() { return {Kind::confirmationSent, std::nullopt}; }
        bool operator==(const SignUpOutcome &) const = default;
    };

    // What a client is built over; everything left out takes the application's own.
    struct Setup {
        std::optional<QUrl> baseURL;                 // else defaultBaseURL()
        QNetworkAccessManager *network = nullptr;    // else its own, without cookies or cache
        Clock *clock = nullptr;                      // else Clock::shared() at each use
        KeychainStore *keychain = nullptr;           // else KeychainStore::shared()
    };

    static constexpr std::chrono::seconds sessionIdleTimeout{30};
    static constexpr std::chrono::seconds requestTimeout{60};
    static constexpr std::chrono::seconds restoreLimit{20};
    // Sent as the device's label with the session calls.
    static inline const QString deviceLabel = QStringLiteral("Mac");

    explicit ZephylAPI(QObject *parent = nullptr);
    explicit ZephylAPI(Setup setup, QObject *parent = nullptr);
    ~ZephylAPI() override;

    // The one client of the application, made on first use.
    static ZephylAPI &shared();
    // The bundle's "SORVANE_API_BASE_URL" when it is usable, else the service's
    // origin; the web workspace takes the same (ServiceOrigin).
    static QUrl defaultBaseURL();

    QUrl baseURL() const { return m_baseURL; }
    std::optional<QString> accessToken() const { return m_accessToken; }
    bool hasWebTransport() const { return m_web != nullptr; }

    // Hands the client a road for its authenticated calls (the web workspace's
    // page). Called once at start-up; the transport must outlive the client.
    void useWebSession(WebTransport *transport) { m_web = transport; }

    // Accepts `certificate` besides the system's trust for https addresses on
    // this machine only (a local stand-in service, as the web view does). Only
    // for the client's own network; an injected one is left as it is.
    void trustOnLoopback(const QSslCertificate &certificate);

    // ---- Session
    // The start-up check of the stored session; never fails, answers within 20 s.
    QCoro::Task<RestoreOutcome> restoreSession();
    QCoro::Task<AuthSession> signInWithEmail(QString email, QString password);
    // The accounts provider's project address, for the browser sign-in.
    QCoro::Task<QUrl> supabaseProjectURL();
    // Exchanges an accounts-provider token for the service's session and stores it.
    QCoro::Task<AuthSession> adoptSupabaseSession(QString accessToken);
    QCoro::Task<SignUpOutcome> createAccountWithEmail(QString email, QString password, QString name);
    QCoro::Task<> sendPasswordReset(QString email);
    QCoro::Task<User> currentUser();
    // Renews the session with the stored refresh token and stores the new one.
    // Calls made while a refresh is in flight share it: refresh tokens rotate,
    // so a second refresh with the same token would be refused.
    QCoro::Task<AuthSession> refreshSession();
    // Tells the service (when a refresh token is stored), then forgets the session. Never fails.
    QCoro::Task<> logout();

    // ---- Assistant and threads
    using Persona = AssistantBodies::Persona;
    QCoro::Task<AssistantReply> assistant(QString message, QList<ChatMessage> history, Persona persona);
    // The thread operations run one at a time, in the order they are called;
    // each answers with the whole thread store.
    QCoro::Task<AssistantThreadStore> assistantThreadStore();
    QCoro::Task<AssistantThreadStore> createAssistantThread(std::optional<QString> title);
    QCoro::Task<AssistantThreadStore> selectAssistantThread(QString id);
    QCoro::Task<AssistantThreadStore> saveAssistantThread(std::optional<QString> id, std::optional<QString> title,
                                                          QList<ChatMessage> messages);
    // Selects the thread and deletes it only when the service answered it as the active one.
    QCoro::Task<AssistantThreadStore> deleteAssistantThread(QString id);

    // ---- Instagram account and feed
    QCoro::Task<QUrl> instagramAuthorizationURL();
    // Tells the service that a connection attempt was given up. Never fails.
    QCoro::Task<> reportInstagramConnectionAbandoned();
    QCoro::Task<std::optional<InstagramProfile>> instagramProfile();
    QCoro::Task<> disconnectInstagram();
    // One page of the feed, always over the client's own connection.
    QCoro::Task<InstagramFeedResponse> instagramFeed(std::optional<QString> after);

    // ---- Media
    using MediaSource = MediaUpload::MediaSource;
    // Stores one file with the service and answers its media id. The bytes are
    // streamed from the source (a file is never read into memory whole).
    QCoro::Task<QString> uploadInstagramMedia(MediaSource source, QString contentType, QString fileName);
    QCoro::Task<QString> uploadInstagramMedia(QByteArray data, QString contentType, QString fileName);

    // ---- Publications and plan drafts
    using PublicationRequest = Publications::PublicationRequest;
    QCoro::Task<Publication> createInstagramPublication(PublicationRequest request, QString idempotencyKey);
    QCoro::Task<Publication> instagramPublication(QString id);
    // None when the service answers "publication_not_found".
    QCoro::Task<std::optional<Publication>> existingInstagramPublication(QString id);
    // Never fails; see Publications::waitFor.
    QCoro::Task<Publication> waitForInstagramPublication(Publication publication, int maximumAttempts,
                                                         double delaySeconds, CancelToken cancel);
    QCoro::Task<Publication> waitForInstagramPublication(Publication publication, int maximumAttempts,
                                                         double delaySeconds);
    QCoro::Task<QList<Publication>> instagramPublications();
    QCoro::Task<QList<PlanDraft>> planDrafts();
    // `wentOut` is told once the whole list has gone out to the service.
    QCoro::Task<> savePlanDrafts(QList<PlanDraft> drafts, std::function<void()> wentOut = nullptr);

private:
    friend struct ZephylAPITestAccess;

    struct RequestSpec {
        RequestSpec(QString p, QByteArray m, std::optional<QJsonObject> b = std::nullopt, bool auth = false)
            : path(std::move(p)), method(std::move(m)), body(std::move(b)), authenticated(auth)
        {
        }
        QString path;
        QByteArray method;
        std::optional<QJsonObject> body;
        bool authenticated = false;
        std::optional<QString> idempotencyKey;
        std::optional<std::chrono::milliseconds> timeout;
        qint64 answerLimit = HttpCall::AnswerLimit::record;
        // Told once the request has gone out (HttpCall::Request::wentOut); on
        // the page's road, once it is handed to the page.
        std::function<void()> wentOut = nullptr;
    };
    // What one attempt of a call went out with: the access token this client
    // held when it sent (on the direct road, the one it carried).
    struct Sent {
        std::optional<QString> token;
    };

    Clock &clock() const;
    KeychainStore &keychain() const;
    QUrl serviceURL(const QString &path) const;

    // The request core: picks the road, adds the headers, and returns the
    // status and body of an answer of any status. Notes in `sent` what it went out with.
    QCoro::Task<HttpCall::Response> sendRaw(RequestSpec spec, Async::Abort *abort = nullptr, Sent *sent = nullptr);
    // The request core with the answer check and decoding.
    template <typename T>
    QCoro::Task<T> send(RequestSpec spec, Async::Abort *abort = nullptr, Sent *sent = nullptr);
    // `send`, authenticated, with one renewal and one repeat after `unauthorized`
    // while no web transport is attached.
    template <typename T>
    QCoro::Task<T> authenticated(QString path, QByteArray method, std::optional<QJsonObject> body = std::nullopt,
                                 qint64 answerLimit = HttpCall::AnswerLimit::record,
                                 std::function<void()> wentOut = nullptr);
    // Runs `attempt`; after `unauthorized` (and only while no web transport is
    // attached, unless `evenWithPage`) renews once and runs it once more, finally.
    template <typename T>
    QCoro::Task<T> withOneRenewal(std::function<QCoro::Task<T>(Sent &)> attempt, bool evenWithPage);
    // What every road does between an attempt refused with `unauthorized` and
    // its repeat: join the renewal in flight; or, when another call's renewal
    // already replaced the token the attempt went out with, nothing (the repeat
    // carries the new one); otherwise renew. So calls refused together renew
    // once, and none renews a token that is already gone.
    QCoro::Task<> renewAfterRefusal(Sent sent);
    // The "Authorization" value of a direct request, noted in `sent`; throws
    // `unauthorized` (nothing is sent) without an access token.
    QByteArray bearer(Sent *sent) const;
    // The answer check: a 2xx answer decodes as T, anything else throws APIError.
    // The body is let go once parsed, so a large answer and its models do not
    // both stay in memory with the raw bytes.
    template <typename T>
    static T checkAnswer(int status, QByteArray body);
    static void refuseUnlessSuccess(int status, const QByteArray &body);

    struct RefreshFlight;
    // Joins the refresh in flight, or starts one. A caller whose `abort` is
    // cancelled stops waiting; the refresh itself is cancelled once nobody waits.
    QCoro::Task<AuthSession> refreshShared(Async::Abort *abort);
    QCoro::Task<> runRefresh(std::shared_ptr<RefreshFlight> flight);
    QCoro::Task<> persist(AuthSession session);
    QCoro::Task<ZephylWire::SupabaseConfig> supabaseConfig();
    QCoro::Task<HttpCall::Response> providerPost(ZephylWire::SupabaseConfig config, QUrl url, QJsonObject body);
    QCoro::Task<> runRestoreCheck(std::optional<QString> stored, std::shared_ptr<Async::Abort> race,
                                  std::shared_ptr<Async::Shared<std::optional<RestoreOutcome>>> result,
                                  std::shared_ptr<Async::Shared<bool>> woundDown);

    // ---- Operations' own steps
    QCoro::Task<QString> uploadInstagramMediaDirectly(MediaSource source, QString contentType, Sent &sent);
    QCoro::Task<QString> upload(QString path, MediaSource source, QString contentType, QString fileName, Sent &sent);
    QCoro::Task<InstagramFeedResponse> performInstagramFeedRequest(std::optional<QString> after, Sent &sent);
    Async::Lock &threadOperations();

    QUrl m_baseURL;
    QNetworkAccessManager *m_network = nullptr;
    Clock *m_clock = nullptr;
    KeychainStore *m_keychain = nullptr;
    std::optional<QString> m_accessToken;
    WebTransport *m_web = nullptr;
    std::shared_ptr<RefreshFlight> m_refresh;
    std::unique_ptr<Async::Lock> m_keychainLock;
    std::unique_ptr<Async::Lock> m_threadLock; // made on first use
};
