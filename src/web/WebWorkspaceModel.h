#pragma once

#include "base/Clock.h"
#include "design/AppLanguage.h"
#include "design/AppTheme.h"
#include "services/Surface.h"
#include "web/InWindowCatStage.h"

#include <QDateTime>
#include <QHash>
#include <QJsonValue>
#include <QList>
#include <QNetworkCookie>
#include <QObject>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

namespace PageMessage {
struct Session;
struct State;
struct Scene;
struct Publication;
} // namespace PageMessage

// The web workspace without its web engine: where the embedded app stands, what
// the page last reported, the scripts the application sends to the page, the
// page's messages and the cat's scenes. The desktop WebWorkspace supplies the
// page through the hooks at the bottom; tests supply a fake one and run every
// timer in virtual time.
class WebWorkspaceModel : public QObject {
    Q_OBJECT
public:
    struct Phase {
        enum class Kind { loading, signIn, workspace, outdated, failed };
        Kind kind = Kind::loading;
        QString message; // failed only

        static Phase loading() { return {Kind::loading, {}}; }
        static Phase signIn() { return {Kind::signIn, {}}; }
        static Phase workspace() { return {Kind::workspace, {}}; }
        static Phase outdated() { return {Kind::outdated, {}}; }
        static Phase failed(QString message) { return {Kind::failed, std::move(message)}; }
        friend bool operator==(const Phase &, const Phase &) = default;
    };

    struct Account {
        QString email;
        QString displayName;
        friend bool operator==(const Account &, const Account &) = default;
    };

    struct Moment {
        QUuid id;
        QString text;
        friend bool operator==(const Moment &, const Moment &) = default;
    };

    struct PublicationEvent {
        QString id;
        QString status;
        std::optional<QUrl> platformURL;
        std::optional<QString> scheduledAt;
        friend bool operator==(const PublicationEvent &, const PublicationEvent &) = default;
    };

    // The stage is owned; a test may hand in its own.
    explicit WebWorkspaceModel(std::optional<QUrl> baseURL = std::nullopt, InWindowCatStage *stage = nullptr,
                               QObject *parent = nullptr);
    ~WebWorkspaceModel() override;

    const QUrl &baseURL() const { return m_baseURL; }
    const Phase &phase() const { return m_phase; }
    const std::optional<Account> &account() const { return m_account; }
    const QString &screen() const { return m_screen; }
    bool composerOpen() const { return m_composerOpen; }
    const std::optional<Moment> &moment() const { return m_moment; }
    bool workspaceReady() const { return m_workspaceReady; }
    // When the workspace page is due to count as usable (its commit's fallback,
    // or soon after it reported its state); none while nothing is due.
    const std::optional<QDateTime> &readyDue() const { return m_readyDue; }
    InWindowCatStage &stage() const { return *m_stage; }
    // Whether the cat is inside the web window: on the stage, perched, or speaking
    // a moment line.
    bool catInside() const { return m_catInside; }
    // Whether the last report of nobody came from the very page (document) that
    // had reported the account signed in: its own sign-out, not a page that
    // loads anew and says nobody for a moment before its account.
    bool signedOutInPage() const { return m_signedOutInPage; }

    // Set by the runtime; each is called at most once per page message.
    std::function<void(const std::optional<Account> &)> onAccountChange;
    std::function<void(const PublicationEvent &)> onPublication;
    std::function<void(AppTheme)> onThemeChange;
    std::function<void(AppLanguage)> onLanguageChange;
    std::function<void()> onFocusToggle;

    // The runtime's guided demonstration.
    bool demoing = false;
    std::optional<QDateTime> demoCarryUntil;

    // Opens the app once; a second call does nothing.
    void start();
    // Resets the page state and loads the entry page chosen by the session cookie.
    void openEntry();
    // The failure page's retry.
    void retry();
    // The service no longer takes the page's session: the page keeps its chat
    // draft, then opens its entry again, where a forgotten session shows the
    // sign-in. The account it reported is forgotten here, without a call, so
    // the next account it reports is told as new. A page that came straight
    // back with the same account still holds a session the service takes from
    // the page alone: opening it again would bring the account back without
    // end, so its session cookie is dropped and it opens at its sign-in.
    void returnToSignIn();

    // A line of the cat inside the web window; false means the desktop cat must say it.
    bool say(const QString &text, double seconds);
    // An unprompted line, with an optional pose.
    // False, showing nothing, while the page is not the signed-in workspace.
    bool showMoment(const QString &text, std::optional<InWindowCatStage::Look> look);
    // Makes the page switch to one of its screens; dropped outside the workspace.
    void show(Surface surface);
    void peek(InWindowCatStage::Look look, double seconds);
    // Tells the page the state of the native focus session.
    void updateFocus(bool active, bool paused, const QString &display, int minutes);
    // Asks the page to keep the text typed into its chat, then calls `completion`.
    void preserveUnsentText(std::function<void()> completion);

    bool isZephyl(const QString &host) const;
    // The six-hour rule of the welcome line; records the time when it answers true.
    static bool greetingDue(const QDateTime &now);

    // One message from the page, with the host of the frame that sent it and
    // the name of its document (empty when not known).
    void receive(const QJsonValue &body, const QString &senderHost, const QString &page = {});

    // What the view reports of its page.
    void pageCommitted(const QUrl &url);
    // The main frame finished a load with a page (any HTTP status).
    void pageLoaded();
    void loadFailed(int errorCode, const QString &description);
    void contentProcessEnded();

    // The calm state of the page: no input for three minutes, or the application
    // in the background. Sent only on change unless forced. The view calls it
    // when the application's activation changes.
    void updateCalm(bool force);
    // Whether the attention watcher waits for its next look.
    bool attentionArmed() const { return bool(m_attention); }

    // The script texts the application runs in the page.
    static QString bridgeCall(const QString &call);
    static QString jsString(const QString &text);
    const QString &focusScript() const { return m_focusScript; }

signals:
    void phaseChanged();
    void accountChanged();
    void screenChanged();
    void composerOpenChanged();
    void momentChanged();
    void workspaceReadyChanged();
    void catInsideChanged(bool inside);
    // A message from a frame that is not the service's was dropped.
    void messageRefused(const QString &senderHost);

protected:
    // ---- The page, supplied by the view.
    // Whether the view has been given an address to show.
    virtual bool hasPageURL() const = 0;
    // The engine's version text; none when it cannot be read.
    virtual std::optional<QString> engineVersion() const = 0;
    virtual void loadURL(const QUrl &url) = 0;
    // Stops the load in progress, if any.
    virtual void stopLoading() = 0;
    // Runs a script in the main frame of the page's own world; its result and
    // errors are ignored. `done` is called once the script has run or failed.
    virtual void runScript(const QString &script, std::function<void()> done = {}) = 0;
    virtual QSizeF pageSize() const = 0;
    // All cookies of the web profile, answered on the main thread.
    virtual void fetchCookies(std::function<void(const QList<QNetworkCookie> &)> answer) = 0;
    // Drops the service's session cookie from the web profile, as the page's own
    // sign-out does; `done` once the profile no longer holds it.
    virtual void forgetSession(std::function<void()> done) = 0;
    virtual bool applicationActive() const = 0;
    virtual double secondsSinceInput() const = 0;

    void setPhase(const Phase &phase);
    void setWorkspaceReady(bool ready);
    // The script that asks the page for one of its screens by the name it
    // reports ("planner"); empty for a name that is not one of them.
    static QString screenScript(const QString &screen);
    // A publication the page last reported as under way: the page is watching
    // it for its outcome (for a while at most, should it never tell).
    bool watchingPublication() const;
    // No timer of the model fires after this; for an owner that goes.
    void stopTimers();
    void markWorkspaceReady(double seconds);

private:
    void open(const QString &path);
    void setAccount(const std::optional<Account> &account);
    void setMoment(std::optional<Moment> moment);
    void refreshCatInside();
    void handleSession(const PageMessage::Session &message, const QString &page);
    void handleState(const PageMessage::State &message);
    void handlePublication(const PageMessage::Publication &message);
    void play(const PageMessage::Scene &scene);
    // Sets the watcher's next look for the given idle time and activation.
    void armAttention(double idle, bool active);

    QUrl m_baseURL;
    Phase m_phase = Phase::loading();
    std::optional<Account> m_account;
    QString m_screen;
    bool m_composerOpen = false;
    std::optional<Moment> m_moment;
    bool m_workspaceReady = false;
    std::optional<QDateTime> m_readyDue;
    std::unique_ptr<Clock::Timer> m_readyFallback;
    // A page of the service that has not answered within its time fails.
    std::unique_ptr<Clock::Timer> m_loadDeadline;
    std::unique_ptr<Clock::Timer> m_momentTimer;
    std::unique_ptr<Clock::Timer> m_greetingTimer;
    std::unique_ptr<Clock::Timer> m_attention;
    InWindowCatStage *m_stage;
    QHash<QString, QString> m_seenPublications;
    // When each publication under way was last reported.
    QHash<QString, QDateTime> m_publicationsUnderWay;
    bool m_greeted = false;
    QString m_focusScript;
    std::optional<bool> m_calm;
    std::optional<QDateTime> m_lastAssistantVisit;
    std::optional<QDateTime> m_lastComposerLeap;
    bool m_composerSceneShown = false;
    bool m_catInside = false;
    // The document that reported the account signed in last.
    QString m_accountPage;
    // The account last sent back to its sign-in, and when; none once the page has shown it.
    std::optional<Account> m_sentBack;
    QDateTime m_sentBackAt;
    bool m_signedOutInPage = false;
    bool m_started = false;
    quint64 m_entryGeneration = 0;
};
