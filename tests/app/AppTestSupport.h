#pragma once

// Builds an AppModel over an in-memory store, a virtual clock and fakes of the
// desktop, and records what it raises and posts.

#include "app/AppModel.h"
#include "app/ServiceClient.h"
#include "base/Clock.h"
#include "base/DefaultsStore.h"
#include "design/L10n.h"
#include "focus/FocusGuard.h"
#include "platform/UserNotifications.h"

#include <QHash>
#include <QStringList>

#include <any>
#include <memory>
#include <utility>

namespace apptest {

struct Posted {
    QString title;
    QString body;
    friend bool operator==(const Posted &, const Posted &) = default;
};

class FakeNotifications final : public UserNotifications {
public:
    QList<Posted> posted;
    void post(const QString &title, const QString &body) override { posted.append({title, body}); }
};

class FakeWindows final : public WindowSource {
public:
    bool isTrusted = true;
    std::vector<Application> apps;
    QList<uint64_t> minimized;

    bool trusted() const override { return isTrusted; }
    std::vector<Application> applications() const override { return apps; }
    bool minimize(uint64_t element) override
    {
        minimized.append(element);
        return true;
    }
};

// The service as a script: an operation answers what `results` holds under its
// name (a value of its result type), or throws what `failures` holds, and is
// counted in `calls`. Unscripted operations answer a default value.
class FakeServiceClient : public ServiceClient {
public:
    QStringList calls;
    QHash<QString, std::any> results;
    QHash<QString, std::exception_ptr> failures;
    WebTransport *web = nullptr;

    QCoro::Task<RestoreOutcome> restoreSession() override { return answer<RestoreOutcome>("restoreSession"); }
    QCoro::Task<AuthSession> signInWithEmail(QString, QString) override { return answer<AuthSession>("signInWithEmail"); }
    QCoro::Task<SignUpOutcome> createAccountWithEmail(QString, QString, QString) override
    {
        return answer<SignUpOutcome>("createAccountWithEmail");
    }
    QCoro::Task<> sendPasswordReset(QString) override { return done("sendPasswordReset"); }
    QCoro::Task<QUrl> supabaseProjectURL() override { return answer<QUrl>("supabaseProjectURL"); }
    QCoro::Task<AuthSession> adoptSupabaseSession(QString) override { return answer<AuthSession>("adoptSupabaseSession"); }
    QCoro::Task<User> currentUser() override { return answer<User>("currentUser"); }
    QCoro::Task<> logout() override { return done("logout"); }
    void useWebSession(WebTransport *transport) override { web = transport; }
    bool hasWebTransport() const override { return web != nullptr; }

    QCoro::Task<AssistantReply> assistant(QString, QList<ChatMessage>, Persona) override
    {
        return answer<AssistantReply>("assistant");
    }
    QCoro::Task<AssistantThreadStore> assistantThreadStore() override
    {
        return answer<AssistantThreadStore>("assistantThreadStore");
    }
    QCoro::Task<AssistantThreadStore> createAssistantThread(std::optional<QString>) override
    {
        return answer<AssistantThreadStore>("createAssistantThread");
    }
    QCoro::Task<AssistantThreadStore> selectAssistantThread(QString) override
    {
        return answer<AssistantThreadStore>("selectAssistantThread");
    }
    QCoro::Task<AssistantThreadStore> saveAssistantThread(std::optional<QString>, std::optional<QString>,
                                                          QList<ChatMessage>) override
    {
        return answer<AssistantThreadStore>("saveAssistantThread");
    }
    QCoro::Task<AssistantThreadStore> deleteAssistantThread(QString) override
    {
        return answer<AssistantThreadStore>("deleteAssistantThread");
    }

    QCoro::Task<QUrl> instagramAuthorizationURL() override { return answer<QUrl>("instagramAuthorizationURL"); }
    QCoro::Task<> reportInstagramConnectionAbandoned() override { return done("reportInstagramConnectionAbandoned"); }
    QCoro::Task<std::optional<InstagramProfile>> instagramProfile() override
    {
        return answer<std::optional<InstagramProfile>>("instagramProfile");
    }
    QCoro::Task<> disconnectInstagram() override { return done("disconnectInstagram"); }
    QCoro::Task<InstagramFeedResponse> instagramFeed(std::optional<QString>) override
    {
        return answer<InstagramFeedResponse>("instagramFeed");
    }

    using ServiceClient::uploadInstagramMedia;
    QCoro::Task<QString> uploadInstagramMedia(MediaSource, QString, QString) override
    {
        return answer<QString>("uploadInstagramMedia");
    }
    QCoro::Task<Publication> createInstagramPublication(PublicationRequest, QString) override
    {
        return answer<Publication>("createInstagramPublication");
    }
    QCoro::Task<std::optional<Publication>> existingInstagramPublication(QString) override
    {
        return answer<std::optional<Publication>>("existingInstagramPublication");
    }
    QCoro::Task<Publication> waitForInstagramPublication(Publication publication, int, double, CancelToken) override
    {
        calls << QStringLiteral("waitForInstagramPublication");
        co_return publication;
    }
    QCoro::Task<QList<Publication>> instagramPublications() override
    {
        return answer<QList<Publication>>("instagramPublications");
    }
    QCoro::Task<QList<PlanDraft>> planDrafts() override { return answer<QList<PlanDraft>>("planDrafts"); }
    QCoro::Task<> savePlanDrafts(QList<PlanDraft>, std::function<void()> wentOut = nullptr) override
    {
        if (wentOut)
            wentOut();
        return done("savePlanDrafts");
    }

private:
    template <typename T>
    QCoro::Task<T> answer(const char *name)
    {
        const QString key = QString::fromLatin1(name);
        calls << key;
        if (const auto failure = failures.value(key))
            std::rethrow_exception(failure);
        const auto it = results.constFind(key);
        co_return it == results.constEnd() ? T{} : std::any_cast<T>(*it);
    }
    QCoro::Task<> done(const char *name)
    {
        const QString key = QString::fromLatin1(name);
        calls << key;
        if (const auto failure = failures.value(key))
            std::rethrow_exception(failure);
        co_return;
    }
};

// A model over its own store, clock and fakes; events are recorded in order.
struct Harness {
    explicit Harness(QDateTime start = QDateTime(QDate(2025, 6, 11), QTime(12, 0), QTimeZone::systemTimeZone()))
        : clock(start)
    {
    }

    // Over the fake service unless given another road.
    AppModel &make(ServiceClient *api = nullptr)
    {
        AppModel::Environment env;
        env.api = api ? api : &service;
        env.defaults = &store;
        env.clock = &clock;
        env.notifications = &notifications;
        env.windows = &windows;
        env.selectedVariantID = [] { return QStringLiteral("drawn"); };
        model = std::make_unique<AppModel>(env);
        model->setEvents([this](const AppEvent &e) { events.append(e); });
        return *model;
    }

    QList<AppEvent::Kind> kinds() const
    {
        QList<AppEvent::Kind> out;
        for (const auto &e : events)
            out.append(e.kind);
        return out;
    }

    DefaultsStore store;
    FakeClock clock;
    FakeNotifications notifications;
    FakeWindows windows;
    FakeServiceClient service;
    QList<AppEvent> events;
    std::unique_ptr<AppModel> model;
};

// Sets the interface language for a test, if given, and puts the system's back
// when the test ends.
struct LanguageGuard {
    LanguageGuard() = default;
    explicit LanguageGuard(AppLanguage language) { L10n::setPreference(language); }
    ~LanguageGuard() { L10n::setPreference(AppLanguage::system); }
};

} // namespace apptest
