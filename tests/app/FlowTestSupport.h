#pragma once

// The flows of the application state against a scripted service whose calls can
// be held open and released in any order, and a scripted browser sign-in.

#include "AppTestSupport.h"
#include "support/TestSupport.h"

#include "services/AsyncSupport.h"
#include "services/ServiceErrors.h"
#include "services/auth/WebAuthSession.h"

#include <QObject>
#include <QSet>
#include <QTimer>

#include <any>
#include <deque>
#include <memory>

// Texts printed as text when a comparison fails.
inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }

namespace flowtest {

using Draft = ZephylWire::PlanDraft;

// One answer of the service: a value of the operation's result type, or a failure.
struct Reply {
    std::any value;
    std::exception_ptr failure;

    template <typename T>
    static Reply of(T v)
    {
        return {std::any(std::move(v)), nullptr};
    }
    template <typename E>
    static Reply error(E e)
    {
        return {{}, std::make_exception_ptr(std::move(e))};
    }
};

// The service as a script. Each operation is counted in `calls` and answers, in
// this order of preference: the reply given when a held call is released, the
// next queued reply of its name, the standing failure, the standing result, a
// default value. A name in `held` makes its calls wait until released.
class FlowService final : public QObject, public ServiceClient {
public:
    QStringList calls;
    QHash<QString, std::any> results;
    QHash<QString, std::exception_ptr> failures;
    QHash<QString, std::deque<Reply>> queued;
    QSet<QString> held;

    // What the flows sent.
    QList<QList<Draft>> savedPlans;
    // The idempotency key of every creation, in order.
    QStringList creationKeys;
    // How many of them have gone out.
    int plansOut = 0;
    // Writes of the plan never leave (whatever their answer then is).
    bool plansStay = false;
    // Told as a read of the plan answers and as a write goes out.
    std::function<void(const QString &)> onStep;
    QList<std::optional<QString>> feedCursors;
    QStringList questions;
    QList<QList<ChatMessage>> histories;
    QList<Persona> personas;
    QList<std::optional<QString>> savedThreadIDs;
    QList<QList<ChatMessage>> savedThreads;
    QStringList selectedThreads;
    QStringList adoptedTokens;
    QStringList signInEmails;

    int count(const char *name) const { return int(calls.count(QString::fromLatin1(name))); }
    // Calls of that name still held open.
    int waiting(const char *name) const
    {
        int n = 0;
        for (const auto &w : m_waiting)
            n += w.name == QLatin1String(name) ? 1 : 0;
        return n;
    }
    // Lets the oldest held call of that name go on, with its own reply if given.
    void release(const char *name, std::optional<Reply> reply = std::nullopt) { let(name, std::move(reply), false); }
    // The same for the newest held call.
    void releaseLast(const char *name, std::optional<Reply> reply = std::nullopt) { let(name, std::move(reply), true); }

    QCoro::Task<RestoreOutcome> restoreSession() override { return answer<RestoreOutcome>("restoreSession"); }
    QCoro::Task<AuthSession> signInWithEmail(QString email, QString) override
    {
        signInEmails << email;
        return answer<AuthSession>("signInWithEmail");
    }
    QCoro::Task<SignUpOutcome> createAccountWithEmail(QString, QString, QString) override
    {
        return answer<SignUpOutcome>("createAccountWithEmail");
    }
    QCoro::Task<> sendPasswordReset(QString) override { return done("sendPasswordReset"); }
    QCoro::Task<QUrl> supabaseProjectURL() override { return answer<QUrl>("supabaseProjectURL"); }
    QCoro::Task<AuthSession> adoptSupabaseSession(QString token) override
    {
        adoptedTokens << token;
        return answer<AuthSession>("adoptSupabaseSession");
    }
    QCoro::Task<User> currentUser() override { return answer<User>("currentUser"); }
    QCoro::Task<> logout() override { return done("logout"); }
    void useWebSession(WebTransport *) override {}
    bool hasWebTransport() const override { return false; }

    QCoro::Task<AssistantReply> assistant(QString message, QList<ChatMessage> history, Persona persona) override
    {
        questions << message;
        histories << history;
        personas << persona;
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
    QCoro::Task<AssistantThreadStore> selectAssistantThread(QString id) override
    {
        selectedThreads << id;
        return answer<AssistantThreadStore>("selectAssistantThread");
    }
    QCoro::Task<AssistantThreadStore> saveAssistantThread(std::optional<QString> id, std::optional<QString>,
                                                          QList<ChatMessage> messages) override
    {
        savedThreadIDs << id;
        savedThreads << messages;
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
    QCoro::Task<InstagramFeedResponse> instagramFeed(std::optional<QString> after) override
    {
        feedCursors << after;
        return answer<InstagramFeedResponse>("instagramFeed");
    }

    using ServiceClient::uploadInstagramMedia;
    QCoro::Task<QString> uploadInstagramMedia(MediaSource, QString, QString) override
    {
        return answer<QString>("uploadInstagramMedia");
    }
    QCoro::Task<Publication> createInstagramPublication(PublicationRequest, QString key) override
    {
        creationKeys << key;
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
    QCoro::Task<QList<PlanDraft>> planDrafts() override
    {
        QList<PlanDraft> drafts = co_await answer<QList<PlanDraft>>("planDrafts");
        if (onStep)
            onStep(QStringLiteral("the read answered"));
        co_return drafts;
    }
    QCoro::Task<> savePlanDrafts(QList<PlanDraft> drafts, std::function<void()> wentOut = nullptr) override
    {
        savedPlans << drafts;
        QCoro::Task<> answering = done("savePlanDrafts");
        if (!plansStay) {
            // It goes out on the next turn of the event loop, as a real request
            // does, and before any answer comes.
            Async::Trigger out(this);
            QTimer::singleShot(0, this, [this, wentOut, fire = out.firer()] {
                ++plansOut;
                if (onStep)
                    onStep(QStringLiteral("the write went out"));
                if (wentOut)
                    wentOut();
                fire();
            });
            co_await out;
        }
        co_await std::move(answering);
        // Taken: the service holds it now, and a read gives it back.
        results.insert(QStringLiteral("planDrafts"), drafts);
    }

private:
    struct Gate {
        explicit Gate(QObject *context) : trigger(context) {}
        Async::Trigger trigger;
        std::optional<Reply> reply;
    };
    struct Waiting {
        QString name;
        std::shared_ptr<Gate> gate;
    };

    void let(const char *name, std::optional<Reply> reply, bool newest)
    {
        auto pick = m_waiting.end();
        for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
            if (it->name == QLatin1String(name) && (newest || pick == m_waiting.end()))
                pick = it;
        }
        if (pick == m_waiting.end()) {
            ADD_FAILURE() << "no held call of " << name;
            return;
        }
        auto gate = pick->gate;
        m_waiting.erase(pick);
        gate->reply = std::move(reply);
        gate->trigger.fire();
    }

    Reply next(const QString &key)
    {
        auto &queue = queued[key];
        if (!queue.empty()) {
            Reply r = std::move(queue.front());
            queue.pop_front();
            return r;
        }
        if (const auto failure = failures.value(key))
            return {{}, failure};
        return {results.value(key), nullptr};
    }

    QCoro::Task<Reply> settle(const char *name)
    {
        const QString key = QString::fromLatin1(name);
        calls << key;
        std::optional<Reply> given;
        if (held.contains(key)) {
            auto gate = std::make_shared<Gate>(this);
            m_waiting.push_back({key, gate});
            co_await gate->trigger;
            given = std::move(gate->reply);
        }
        co_return given ? std::move(*given) : next(key);
    }

    template <typename T>
    QCoro::Task<T> answer(const char *name)
    {
        const Reply r = co_await settle(name);
        if (r.failure)
            std::rethrow_exception(r.failure);
        co_return r.value.has_value() ? std::any_cast<T>(r.value) : T{};
    }
    QCoro::Task<> done(const char *name)
    {
        const Reply r = co_await settle(name);
        if (r.failure)
            std::rethrow_exception(r.failure);
    }

    std::deque<Waiting> m_waiting;
};

// A model over the scripted service, the virtual clock and an in-memory store.
struct Flows {
    explicit Flows(bool native = true)
    {
        if (native)
            h.store.setBool(QStringLiteral("zephyl.mac.workspace.native"), true);
        h.make(&service);
        L10n::setPreference(AppLanguage::en);
    }
    AppModel &model() { return *h.model; }
    QList<AppEvent::Kind> kinds() const { return h.kinds(); }

    FlowService service; // outlives the model
    apptest::LanguageGuard language;
    apptest::Harness h;
};

// Waits (on the event loop) for the flow to end and hands back its result; a
// flow that has not ended within the wait's limit fails the case where it was
// awaited, naming `what` when given.
template <typename T>
T finish(QCoro::Task<T> &&task, const char *what = nullptr,
         std::source_location where = std::source_location::current())
{
    return zktest::run(std::move(task), what, zktest::kWaitLimit, where);
}

// The browser sign-in, scripted: what each run was asked, and how it ends.
struct WebScript {
    enum class End { callback, cancelled, couldNotStart, heldOpen };
    End end = End::callback;
    QUrl callback;
    QList<QUrl> opened;
    QList<bool> ephemeral;
    int alive = 0; // sessions not yet destroyed
};

class ScriptedWebAuth final : public WebAuthSession {
public:
    explicit ScriptedWebAuth(std::shared_ptr<WebScript> script) : m_script(std::move(script)) { ++m_script->alive; }
    ~ScriptedWebAuth() override { --m_script->alive; }

    QCoro::Task<QUrl> run(QUrl url, QString, bool ephemeral) override
    {
        auto script = m_script; // the session may be gone when a held run ends
        script->opened << url;
        script->ephemeral << ephemeral;
        switch (script->end) {
        case WebScript::End::cancelled: throw Failure(Failure::Kind::cancelled);
        case WebScript::End::couldNotStart: throw Failure(Failure::Kind::couldNotStart);
        case WebScript::End::heldOpen: {
            QObject never;
            Async::Trigger closed(&never);
            co_await closed; // a dialog the user never finishes
            co_return QUrl();
        }
        case WebScript::End::callback: break;
        }
        co_return script->callback;
    }

private:
    std::shared_ptr<WebScript> m_script;
};

// Installs the scripted browser for the test's lifetime.
struct WebScriptGuard {
    std::shared_ptr<WebScript> script = std::make_shared<WebScript>();
    WebScriptGuard()
    {
        WebAuthSession::setFactory([s = script](WebAuthSession::AnchorProvider) {
            return std::unique_ptr<WebAuthSession>(new ScriptedWebAuth(s));
        });
    }
    ~WebScriptGuard() { WebAuthSession::setFactory({}); }
    WebScript *operator->() const { return script.get(); }
};

inline Draft draft(qint64 id, std::optional<qint64> slot = std::nullopt, bool hidden = false)
{
    Draft d;
    d.id = id;
    d.title = QStringLiteral("Draft %1").arg(id);
    d.gridSlot = slot;
    d.hiddenFromGrid = hidden;
    return d;
}

inline QList<qint64> ids(const QList<Draft> &drafts)
{
    QList<qint64> out;
    for (const auto &d : drafts)
        out << d.id;
    return out;
}

inline ZephylWire::User user(const QString &email)
{
    return ZephylWire::User{email, email, QStringLiteral("Kitty"), QStringLiteral("creator")};
}

using APIError = ServiceAPIError;
using NetworkError = ServiceNetworkError;

} // namespace flowtest
