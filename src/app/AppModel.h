#pragma once

#include "app/AppEvent.h"
#include "app/AppValues.h"
#include "app/AskValues.h"
#include "app/ComposerSubmission.h"
#include "app/DraftEditStore.h"
#include "app/PublishRecords.h"
#include "app/PlanMerge.h"
#include "app/UnsavedPlanStore.h"
#include "app/UnsentTextStore.h"
#include "base/CancelToken.h"
#include "base/Clock.h"
#include "base/FileWrite.h"
#include "companion/CatWellbeing.h"
#include "companion/CompanionTypes.h"
#include "design/AppLanguage.h"
#include "design/AppNotice.h"
#include "design/AppTheme.h"
#include "focus/FocusGuard.h"
#include "focus/FocusSession.h"
#include "services/ChatModels.h"
#include "services/Surface.h"
#include "services/WireModels.h"
#include "services/auth/WebAuthSession.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class DefaultsStore;
class RecordStore;
class ServiceClient;
struct AskIntent;
class UserNotifications;
class WindowSource;

// The one state object of the application, confined to the main thread. Every
// window, panel and controller reads its properties and calls its operations;
// it tells the coordinator what it wants only through `events`.
//
// Properties. Each observable property has a getter, a setter and one change
// signal named after it (`theme()`, `setTheme()`, `themeChanged()`). A setter's
// own work (writing a setting, raising an event, saving unsent text) runs on
// every set, also when the value is the one already held; the change signal is
// emitted only when the value actually changed, so a view that writes back what
// it shows does not start a loop.
//
// Flows live in files of their own beside this one (AppModelFocus.cpp,
// AppModelCare.cpp, ...); each is a member of this class and runs on the main
// thread, resuming there after every wait.
class AppModel final : public QObject {
    Q_OBJECT

public:
    // What the model is built over; everything left out takes the application's own.
    struct Environment {
        ServiceClient *api = nullptr;               // else the client over ZephylAPI::shared()
        DefaultsStore *defaults = nullptr;          // else DefaultsStore::shared()
        Clock *clock = nullptr;                     // else Clock::shared()
        UserNotifications *notifications = nullptr; // else UserNotifications::system() at each post
        WindowSource *windows = nullptr;            // else WindowSource::system() at each use
        std::function<QString()> selectedVariantID; // else CompanionLibrary::selectedVariantID()
    };

    // Reads the settings and records from the store; writes nothing, raises nothing.
    explicit AppModel(Environment environment, QObject *parent = nullptr);
    AppModel();
    ~AppModel() override;

    // The instance of the application, made on first use.
    static AppModel &shared();

    // ---- Coordinator hooks (not observable)
    using EventHandler = std::function<void(const AppEvent &)>;
    // The only road to the coordinator; every raise is dropped while it is unset.
    void setEvents(EventHandler handler) { m_events = std::move(handler); }
    bool hasEvents() const { return bool(m_events); }
    // For the screens that tell the coordinator something themselves ("Ask the
    // cat", a summary card's "Discuss"); dropped while no handler is installed.
    void raiseEvent(const AppEvent &event) { raise(event); }
    // The window the browser sign-in sheets attach to.
    WebAuthSession::AnchorProvider anchorWindow = [] { return static_cast<QWidget *>(nullptr); };

    ServiceClient &api() const { return *m_api; }
    DefaultsStore &defaults() const { return *m_defaults; }
    Clock &clock() const;
    // The desktop's windows as the focus guard reads them (the profile screen's scan).
    WindowSource &windows() const;

    // ---- Session and account
    SessionState session() const { return m_session; }
    void setSession(SessionState value);
    const std::optional<ZephylWire::User> &user() const { return m_user; }
    void setUser(std::optional<ZephylWire::User> value);
    bool sessionUnverified() const { return m_sessionUnverified; }
    void setSessionUnverified(bool value);
    bool signInBusy() const { return m_signInBusy; }
    void setSignInBusy(bool value);

    // ---- Instagram and feed
    const std::optional<ZephylWire::InstagramProfile> &instagram() const { return m_instagram; }
    void setInstagram(std::optional<ZephylWire::InstagramProfile> value);
    // True while an account is connected; follows instagramChanged.
    bool instagramConnected() const { return m_instagram.has_value(); }
    // The service has said, since the account was taken, whether an Instagram
    // account is connected; until then (off line) the lack of a profile says
    // nothing of it. Follows instagramChanged.
    bool instagramKnown() const { return m_instagramKnown; }
    bool instagramBusy() const { return m_instagramBusy; }
    void setInstagramBusy(bool value);
    const QList<ZephylWire::InstagramFeedItem> &feedItems() const { return m_feedItems; }
    void setFeedItems(QList<ZephylWire::InstagramFeedItem> value);
    const FeedStatus &feedStatus() const { return m_feedStatus; }
    void setFeedStatus(FeedStatus value);
    bool feedHasMore() const { return m_feedHasMore; }
    void setFeedHasMore(bool value);
    // The service's cursor for the next feed page (not observable).
    std::optional<QString> feedCursor;

    // ---- Plan
    const QList<ZephylWire::PlanDraft> &planDrafts() const { return m_planDrafts; }
    void setPlanDrafts(QList<ZephylWire::PlanDraft> value);
    const QList<ZephylWire::Publication> &publications() const { return m_publications; }
    void setPublications(QList<ZephylWire::Publication> value);
    bool planLoading() const { return m_planLoading; }
    void setPlanLoading(bool value);
    bool planSaving() const { return m_planSaving; }
    void setPlanSaving(bool value);

    // ---- Assistant
    const QList<ZephylWire::AssistantThreadSummary> &threads() const { return m_threads; }
    void setThreads(QList<ZephylWire::AssistantThreadSummary> value);
    const std::optional<QString> &activeThreadID() const { return m_activeThreadID; }
    void setActiveThreadID(std::optional<QString> value);
    const QList<ChatMessage> &messages() const { return m_messages; }
    void setMessages(QList<ChatMessage> value);
    bool assistantBusy() const { return m_assistantBusy; }
    void setAssistantBusy(bool value);
    // Kept as unsent text of the current owner on every set.
    const QString &assistantDraft() const { return m_assistantDraft; }
    void setAssistantDraft(QString value);

    // ---- Workspace
    Surface surface() const { return m_surface; }
    void setSurface(Surface value);
    bool composerPresented() const { return m_composerPresented; }
    void setComposerPresented(bool value);
    const std::optional<ComposerPrefill> &composerPrefill() const { return m_composerPrefill; }
    void setComposerPrefill(std::optional<ComposerPrefill> value);
    const std::optional<AppNotice> &notice() const { return m_notice; }
    void setNotice(std::optional<AppNotice> value);
    const QList<Observation> &observations() const { return m_observations; }
    void setObservations(QList<Observation> value);
    const std::optional<PublishProgress> &publishing() const { return m_publishing; }
    void setPublishing(std::optional<PublishProgress> value);

    // ---- Ask panel
    // Kept as unsent text of the current owner on every set.
    const QString &askInput() const { return m_askInput; }
    void setAskInput(QString value);
    const std::optional<QString> &askQuestion() const { return m_askQuestion; }
    void setAskQuestion(std::optional<QString> value);
    const std::optional<AskReply> &askReply() const { return m_askReply; }
    void setAskReply(std::optional<AskReply> value);
    const QList<CatChatLine> &catChat() const { return m_catChat; }
    void setCatChat(QList<CatChatLine> value);
    bool askBusy() const { return m_askBusy; }
    void setAskBusy(bool value);

    // ---- Focus
    const FocusSession &focus() const { return m_focus; }
    void setFocus(FocusSession value);
    const std::vector<DistractingWindow> &distractions() const { return m_distractions; }
    void setDistractions(std::vector<DistractingWindow> value);
    bool accessibilityTrusted() const { return m_accessibilityTrusted; }
    void setAccessibilityTrusted(bool value);

    // ---- Settings (each written back under its "zephyl.mac." key)
    AppLanguage language() const { return m_language; }
    void setLanguage(AppLanguage value);
    AppTheme theme() const { return m_theme; }
    void setTheme(AppTheme value);
    // Changed only through setCompanionEnabled.
    bool companionEnabled() const { return m_companionEnabled; }
    void setCompanionEnabled(bool enabled);
    const QString &companionName() const { return m_companionName; }
    void setCompanionName(QString value);
    bool companionWalksOnWindows() const { return m_companionWalksOnWindows; }
    void setCompanionWalksOnWindows(bool value);
    bool companionClickOpensAsk() const { return m_companionClickOpensAsk; }
    void setCompanionClickOpensAsk(bool value);
    bool companionWanders() const { return m_companionWanders; }
    void setCompanionWanders(bool value);
    CompanionTemper companionTemper() const { return m_companionTemper; }
    void setCompanionTemper(CompanionTemper value);
    const QString &companionVariantID() const { return m_companionVariantID; }
    void setCompanionVariantID(QString value);
    // Fixed for the process: the embedded web app (true) or the native screens.
    bool usesWebWorkspace() const { return m_usesWebWorkspace; }
    // 1...180; a stored or given value outside is brought inside.
    int focusMinutes() const { return m_focusMinutes; }
    void setFocusMinutes(int value);
    bool focusGuardEnabled() const { return m_focusGuardEnabled; }
    void setFocusGuardEnabled(bool value);
    const CatWellbeing &wellbeing() const { return m_wellbeing; }
    void setWellbeing(CatWellbeing value);
    bool breakRemindersEnabled() const { return m_breakRemindersEnabled; }
    void setBreakRemindersEnabled(bool value);
    bool catRemindersEnabled() const { return m_catRemindersEnabled; }
    void setCatRemindersEnabled(bool value);

    static constexpr int kMinFocusMinutes = 1;
    static constexpr int kMaxFocusMinutes = 180;
    static int clampedFocusMinutes(qint64 minutes);

    // ---- Unsent text and summary
    const BreakClock &breakClock() const { return m_breakClock; }
    const QString &inputOwner() const { return m_inputOwner; }
    UnsentTextStore &unsentText() { return m_unsentText; }
    // Loads the owner's unsent texts, unless the owner is the current one. Text
    // typed while nobody was known is kept, and saved under the owner.
    void restoreUnsentText(const QString &owner);
    // Forgets the stored unsent text, the owner and the two inputs (nobody is signed in any more).
    void forgetUnsentText();
    void rebuildObservations();

    // ---- Focus flows
    // A fresh work round of `minutes`, or of focusMinutes when none.
    void startFocus(std::optional<int> minutes = std::nullopt);
    void stopFocus();
    void resumeFocus();
    // Asks for the right to read and minimise other windows, and reads it again 2 s later.
    void requestAccessibility();

    // ---- Tucking distractions away (AppModelTuck.cpp)
    // Scans for distracting windows and tucks them away one after another: the
    // cat is sent to each (visitWindow), the window is minimised when the cat
    // arrives there or 7 s after the visit began, and the next visit starts
    // 0.7 s after each minimise (visitEnded). The closing line follows the last.
    // Without the right to minimise, or with nothing found, nothing starts.
    void tuckAwayDistractions();
    // The companion reports that it arrived where a goal sent it. Only the
    // arrival at the window being visited now completes that visit: a late
    // landing of an earlier visit, or any other goal, changes nothing.
    void tuckVisitArrived(const CompanionGoal &arrived);
    // Where a visit sends the cat: the window's top edge, 24 points in from
    // either side. The coordinator builds the visit goal with this, so an
    // arrival can be matched with the visit it belongs to.
    static Ledge visitLedge(const QRectF &frame);
    // Seconds a visit may take before the window is minimised anyway, and the
    // pause after each minimise.
    static constexpr std::chrono::milliseconds kTuckVisitLimit{7000};
    static constexpr std::chrono::milliseconds kTuckPacing{700};

    // ---- Publishing (AppModelPublishing.cpp)
    // Uploads the submission's media and cover, asks the service to publish it
    // under its idempotency key, waits a while for a final state, reloads the
    // plan and answers the outcome; never throws. `publishing` is set before
    // this returns the first time, so a second press while a run is under way
    // starts nothing: with the same key it receives that run's outcome, another
    // post waits for its turn.
    QCoro::Task<PublishOutcome> publish(ComposerSubmission submission);
    // Uploads a video's poster frame as "poster.jpg"; none, without a request,
    // when the media has no poster. Upload errors reach the caller.
    QCoro::Task<std::optional<QString>> uploadPoster(ImportedMedia media);
    // The creation's own time limit is the client's; these are the wait's.
    static constexpr int kPublishWaitAttempts = 8;
    static constexpr double kPublishWaitDelaySeconds = 1.6;
    // The key under which the same post (PendingPublication::postOf) was sent
    // without the service saying whether it made it: sent again under it, the
    // post is answered with what became of the first. None when none waits.
    std::optional<QString> pendingKeyFor(const ComposerSubmission &submission) const;
    bool publicationPending(const QString &key) const;
    // What was sent under a key whose outcome is not known yet.
    std::optional<PendingPublication> pendingPublication(const QString &key) const;
    // Asks the service at once what became of the post sent under a key whose
    // outcome is not known (none when none is pending under it), for a
    // composer about to send a changed version: `unknown` while it cannot say.
    // Told, it is the caller's to show; no notice says it.
    QCoro::Task<std::optional<PublishOutcome>> askAboutPending(QString key);
    // What the service said at last of a publication whose outcome was not
    // known, for a composer showing it (publicationSettled says when); none
    // once taken. One nobody takes is told in a notice.
    std::optional<PublishOutcome> takeSettledOutcome(const QString &key);

    // ---- The composer's post, kept as typed for the account signed in
    // (records are kept under it; empty for an account without an address).
    const QString &accountIdentity() const { return m_accountIdentity; }
    KeptComposerStore &keptComposer() { return m_keptComposer; }
    // The post a composer held when the application last ended, handed once to
    // the composer that opens for it once the account is known.
    std::optional<KeptComposerPost> takeReturnedComposerPost();

    // ---- Care
    // One care tick of the coordinator's 60 s timer: the break clock, hunger and
    // the late hour, each raising its event (at most two meet in one tick).
    void careTick(double idleSeconds, const QDateTime &now);
    // Records a meal now.
    void feedCat();
    // The date as the cat says it: abbreviated, no time, in the interface language.
    static QString spoken(const QDateTime &date);
    // The four break lines, translated.
    static QStringList breakWords();

    // ---- Errors put into words (one place)
    // A caught error is passed as std::current_exception(); a typed one directly.
    // True exactly for APIError unauthorized and sessionExpired: the session is gone.
    static bool isSessionFailure(const std::exception_ptr &error);
    // The sentence for a server error code, compared exactly.
    static QString messageForCode(const QString &code);
    // One sentence for any error.
    static QString describe(const std::exception_ptr &error);
    // Nothing for a web sign-in, Google sign-in or Instagram connection the user cancelled.
    static std::optional<QString> describeIfWorthShowing(const std::exception_ptr &error);
    template <typename E>
    static bool isSessionFailure(const E &error)
    {
        return isSessionFailure(std::make_exception_ptr(error));
    }
    template <typename E>
    static QString describe(const E &error)
    {
        return describe(std::make_exception_ptr(error));
    }
    template <typename E>
    static std::optional<QString> describeIfWorthShowing(const E &error)
    {
        return describeIfWorthShowing(std::make_exception_ptr(error));
    }
    // Shows the error as an attention notice when it is worth showing; then, when
    // the session is gone, ends it (expireSession).
    void show(const std::exception_ptr &error);
    template <typename E>
    void show(const E &error)
    {
        show(std::make_exception_ptr(error));
    }

    // ==== Session, account, links, Instagram, plan, assistant and ask flows
    // (AppModelSession.cpp, AppModelAccount.cpp, AppModelLinks.cpp,
    // AppModelInstagram.cpp, AppModelPlan.cpp, AppModelAssistant.cpp, AppModelAsk.cpp).
    //
    // Every flow that waits resumes on the main thread and, after each wait, goes
    // on only while the model exists and the account it started for is still the
    // one in memory: a sign-out, an expiry or another account drops what it brings.

    // The signed-in account as the embedded page reports it.
    struct WebAccount {
        QString email;
        QString displayName;
        friend bool operator==(const WebAccount &, const WebAccount &) = default;
    };

    // ---- Session and loading
    // Once at start: restores the stored session (native workspace) or waits for the page.
    QCoro::Task<> bootstrap();
    // The account, then the Instagram profile, plan, threads and first feed page, one after another.
    // `kept`: the account kept with a restored session, taken (unconfirmed) when the
    // service cannot say who is signed in; the loads then wait until it can.
    QCoro::Task<> loadAfterSignIn(std::optional<ZephylWire::User> kept = std::nullopt);
    // The page's report of the signed-in account, or of nobody (web workspace only).
    // `signedOut`: the nobody is the page's own sign-out, not a page that loads anew;
    // the account's unsent text and ask conversation are then forgotten.
    void webAccountChanged(const std::optional<WebAccount> &account, bool signedOut = false);
    // The page shows its sign-in: nobody is signed in there.
    void webSignInShown();
    // The page cannot be loaded: the account it last reported goes on, unconfirmed,
    // until the page can say again (web workspace only).
    void webPageUnavailable();
    // Empties the ask conversation and its input.
    void newCatChat();
    QCoro::Task<> loadInstagram();
    QCoro::Task<> loadPlan();
    QCoro::Task<> loadThreads();
    // `reset`: from the first page; else the next page, when there is one.
    QCoro::Task<> loadFeed(bool reset);

    // ---- Account (native workspace)
    QCoro::Task<bool> signIn(QString email, QString password);
    QCoro::Task<bool> createAccount(QString name, QString email, QString password);
    QCoro::Task<> resetPassword(QString email);
    QCoro::Task<bool> signInWithGoogle();
    // Forgets the account, its unsent text included; a plan it could not save
    // stays kept here for its next sign-in.
    QCoro::Task<> signOut();
    QCoro::Task<> finishSignIn();
    // The service no longer accepts the session: signed out, account data cleared, one notice.
    QCoro::Task<> expireSession();

    // ---- What draft editors hold and the plan does not
    // Keeps an editor's unsaved work for the account signed in now, in place of
    // what was kept for the same draft (an editor does so as the user types, and
    // on sessionExpiring to reopen); nothing when no account is known.
    void keepDraftEdit(const KeptDraftEdit &edit);
    // The editor of that draft is done with its work (saved, deleted or dropped).
    void forgetDraftEdit(const KeptDraftEdit &edit);
    // The plan's draft shown at that place under its id is deleted here: what
    // editors kept for it goes too, never to be taken for a deletion elsewhere.
    void forgetDraftEditsOf(const ZephylWire::PlanDraft &shown, int place);
    // The work kept for the editor of that draft: any new draft's, or the one
    // the plan's `draft`, shown at that place under its id, is now.
    std::optional<KeptDraftEdit> keptDraftEdit(bool isNew, const ZephylWire::PlanDraft &draft, int place) const;
    // The editor the signed-in account left open when its session expired, for
    // the screen it was on, handed out once (draftEditReturned says when).
    std::optional<KeptDraftEdit> takeReturnedDraftEdit(Surface surface);

    // ---- Links
    // A "sorvane:" link as received (any text); returns at once.
    void handleURL(const QString &raw);

    // ---- Instagram
    QCoro::Task<> connectInstagram(bool freshLogin);
    QCoro::Task<> disconnectInstagram();

    // ---- Plan drafts
    // Larger than every draft id and not below the current time in milliseconds.
    qint64 nextDraftID() const;
    // The visible drafts in grid order.
    QList<ZephylWire::PlanDraft> gridDrafts() const;
    // Where each of them stands in planDrafts, in the same order.
    QList<qsizetype> gridOrder() const;
    // Writes the whole plan. One save is in flight at a time: a call while one
    // runs is carried by it (the list is sent again once it ends). A failed save
    // keeps the local list, marks it unsaved and says so.
    QCoro::Task<> savePlan();
    // The draft is the one with `id` at `place` among the drafts under that id
    // (DraftPlace): the service may hold several under one id.
    QCoro::Task<> moveDraft(qint64 id, int offset, int place = 0);
    QCoro::Task<> setDraftHidden(qint64 id, bool hidden, int place = 0);
    // Drafts another device deleted that a change here kept, said as a merge says them.
    void sayKeptChanged(const QList<ZephylWire::PlanDraft> &drafts);
    // Local plan changes the service has not taken yet.
    bool planUnsaved() const { return m_planUnsaved; }
    // The plan as edited is written on this computer, so a restart finds it.
    // Changes of it are told by planUnsavedChanged too.
    bool planKept() const;
    // What the user is told while the plan is unsaved: kept here, or not even that.
    QString planUnsavedText() const;
    // The service's list has not been read for this account yet, and could not
    // be (an offline start, a load that failed): the plan shows only what was
    // kept on this computer, which is not the plan. Told by planUnavailableChanged.
    bool planUnavailable() const { return m_planUnavailable; }
    // A desktop notification (the focus and care reminders, and notices with nowhere else to show).
    void notify(const QString &title, const QString &body);
    // An unsaved plan is sent again when the service answers again: at the next
    // call that succeeds, or after these waits, each twice the last, up to the longest.
    static constexpr std::chrono::milliseconds kPlanRetryFirst{5000};
    static constexpr std::chrono::milliseconds kPlanRetryLongest{300000};

    // ---- Assistant
    // Takes a thread store from the service. While a reply is awaited only the
    // thread list is taken: the open conversation stays the one the message went to.
    void apply(const ZephylWire::AssistantThreadStore &store);
    // Opens another conversation; refused while a reply is awaited.
    QCoro::Task<> selectThread(QString id);
    // The assistant's reply, or none when nothing was sent or the request failed.
    QCoro::Task<std::optional<ChatMessage>> send(QString text);
    void performAction(const ZephylWire::AssistantReply::Action &action);

    // ---- Ask panel
    QCoro::Task<> ask(QString question);
    void performAsk(const AskAction &action);
    // The web workspace's composer, or the native one with the prefill.
    void openComposer(std::optional<ComposerPrefill> prefill);

Q_SIGNALS:
    void sessionChanged();
    // The service ended the session; the account's data is about to go. An
    // open draft editor hands its unsaved work over (keepDraftEdit).
    void sessionExpiring();
    // The account came back to a draft editor it left open: its screen takes it.
    void draftEditReturned();
    // The service said what became of a publication whose outcome was not known.
    void publicationSettled(const QString &key);
    void userChanged();
    void sessionUnverifiedChanged();
    void signInBusyChanged();
    void instagramChanged();
    void instagramBusyChanged();
    void feedItemsChanged();
    void feedStatusChanged();
    void feedHasMoreChanged();
    void planDraftsChanged();
    void publicationsChanged();
    void planLoadingChanged();
    void planSavingChanged();
    void threadsChanged();
    void activeThreadIDChanged();
    void messagesChanged();
    void assistantBusyChanged();
    void assistantDraftChanged();
    void surfaceChanged();
    void composerPresentedChanged();
    void composerPrefillChanged();
    void noticeChanged();
    void observationsChanged();
    void publishingChanged();
    void askInputChanged();
    void askQuestionChanged();
    void askReplyChanged();
    void catChatChanged();
    void askBusyChanged();
    void focusChanged();
    void distractionsChanged();
    void accessibilityTrustedChanged();
    void languageChanged();
    void themeChanged();
    void companionEnabledChanged();
    void companionNameChanged();
    void companionWalksOnWindowsChanged();
    void companionClickOpensAskChanged();
    void companionWandersChanged();
    void companionTemperChanged();
    void companionVariantIDChanged();
    void focusMinutesChanged();
    void focusGuardEnabledChanged();
    void wellbeingChanged();
    void breakRemindersEnabledChanged();
    void catRemindersEnabledChanged();
    // ---- Flows
    void planUnsavedChanged();
    // What a merge with another device's changes said to the user (also the notice).
    void planConflictsSaid(const QString &said);
    void planUnavailableChanged();

private:
    // Stores the value; emits the change signal when it differs. True on a change.
    template <typename T>
    bool assign(T &field, T value, void (AppModel::*changed)());
    void raise(const AppEvent &event);
    void saveUnsentText();
    // A write of the settings or of a record failed, or all are written again:
    // said once (and unsaid), and the plan's keeping told.
    void followWrites();
    std::optional<FileWriteError> m_writeProblem;
    QUuid m_writeNotice;
    // Moves the single records older versions kept in the settings to their accounts.
    void moveSingleRecords();
    UserNotifications &notifications() const;
    void tickFocus();

    // ---- Flows (session, account, links, Instagram, plan, assistant, ask)
    // What a flow checks after every wait.
    struct FlowGuard {
        QPointer<AppModel> model;
        CancelToken account;
        bool alive() const { return model && !account.isCancelled(); }
    };
    FlowGuard flowGuard() const;
    // Data of the account in memory belongs to `email` (lower-cased); another
    // account's arrival clears it first. An empty address is an account the
    // application cannot name: kept in memory only, and never taken for another.
    void adoptIdentity(const QString &email);
    // The account in memory from now: its identity, user, unsent text and conversation.
    void adoptAccount(const ZephylWire::User &account);
    // The account signed in with the stored session or the page's, kept so that
    // an offline start knows whose data to show; none when nobody is kept.
    std::optional<ZephylWire::User> keptAccount() const;
    void keepAccount(const std::optional<ZephylWire::User> &account);
    // The account in memory was taken from what was kept and the service has not
    // said yet that it is the one signed in: loads and plan saves wait for that.
    bool accountUnconfirmed() const;
    // Asks the service who is signed in; the same account is confirmed, another
    // one replaces it (nothing of either lost). Tried again until it answers.
    QCoro::Task<> verifyAccount();
    void verifyAccountSoon();
    void scheduleAccountCheck();
    // The kept account taken, unconfirmed (offline).
    void adoptKeptAccount(const ZephylWire::User &kept);
    // The Instagram profile, plan, threads and first feed page, one after another.
    QCoro::Task<> loadAccountData();
    // The plan the account kept unsaved, shown while the service's cannot be read.
    void showKeptPlan();
    // Drops every account-bound value and every result still on its way for it.
    // The unsent text is left alone, but for an account without a name's.
    void clearAccountData();
    // After the plan has loaded: reopens the editor this account left open, if any.
    void returnDraftEdit();
    // After a read of the plan: each draft gone from `met` whose editor kept a
    // change in an earlier run (the application ended under it) comes back
    // into it with that change, named among the drafts kept against a deletion
    // there. The edits it took.
    QList<KeptDraftEdit> bringBackDraftEdits(PlanMerge::Merged &met);
    // Ids of the drafts whose editors kept work in this run: open, or closed and done.
    QSet<qint64> m_draftEditsTyped;
    // Once the account is known (its plan may not load for a while off line,
    // and a composer opened meanwhile would write over the post): opens the
    // composer again with the post it held, if any.
    void returnComposerPost();
    // The ask conversation emptied and its owner's record removed; the input is kept.
    void clearCatConversation();
    // The owner's ask conversation: the one it left in memory (an expiry, a page
    // that reloaded), else its stored lines. Nothing for an empty owner.
    void restoreCatChat(const QString &owner);
    // Stores the conversation for its owner; nothing while nobody is known.
    void storeCatChat();
    void setPlanUnsaved(bool value);
    void showSurface(Surface surface);
    QCoro::Task<AskReply> answer(const AskIntent &intent);
    void acceptGoogleCallback(const QString &token);
    // The frame of every sign-in: one at a time, its failure shown, and a session
    // obtained (`step` answers true) followed by the loads.
    QCoro::Task<bool> signInWith(std::function<QCoro::Task<bool>()> step);

    struct PendingExpiry;
    struct GoogleCallbackWait;
    CancelSource m_accountFlows;
    QString m_accountIdentity;
    // An account (named or not) is in memory.
    bool m_accountAdopted = false;
    bool m_verifyingAccount = false;
    std::unique_ptr<Clock::Timer> m_accountCheck;
    std::chrono::milliseconds m_accountCheckDelay{5000};
    // The expiry under way; a second one waits for it rather than signing out twice.
    std::shared_ptr<PendingExpiry> m_expiry;
    // A Google sign-in waiting for its callback: the dialog's or a link's token.
    std::weak_ptr<GoogleCallbackWait> m_googleWait;
    bool m_planUnsaved = false;
    bool m_planSaverRunning = false;
    bool m_planSaveWanted = false;
    // Saves that joined the running one, told when it has settled.
    std::vector<std::function<void()>> m_planSaveWaiters;
    void releasePlanSaveWaiters();
    quint64 m_planEdits = 0;
    // The service's list as last read or written: what the plan in memory was edited from.
    QList<ZephylWire::PlanDraft> m_planBase;
    // The service's list was read for this account in this run.
    bool m_planRead = false;
    bool m_planUnavailable = false;
    void setPlanUnavailable(bool value);
    // The last list sent that the service did not confirm: it may hold it.
    // Kept with the plan's record, so a restart knows it too.
    std::optional<QList<ZephylWire::PlanDraft>> m_planSent;
    // The plan in memory as the record keeps it.
    UnsavedPlanStore::Kept keptPlan() const;
    // The plan once the service's current list is met: the local drafts, edited
    // from their base (and maybe sent since), merged into `server` field by field.
    PlanMerge::Merged metPlan(const UnsavedPlanStore::Kept &local, const QList<ZephylWire::PlanDraft> &server) const;
    // Drafts changed on both sides, where the change here replaced the other device's.
    // With the drafts of the service's list that cannot be read, named once each a run.
    void sayPlanConflicts(const PlanMerge::Merged &met, const QList<ZephylWire::PlanDraft> &unreadable = {});
    // The drafts of `list` that cannot be read and were not named yet this run.
    QList<ZephylWire::PlanDraft> untoldUnreadable(const QList<ZephylWire::PlanDraft> &list);
    QSet<QString> m_planUnreadableTold;
    // The service's list just read becomes the base.
    void takePlanBase(const QList<ZephylWire::PlanDraft> &server);
    // The service holds the plan as it is here: nothing is kept or sent again.
    void planTaken();
    // The service refused the unsaved plan for what it holds: not sent again by itself.
    bool m_planRefused = false;
    std::unique_ptr<Clock::Timer> m_planRetry;
    std::chrono::milliseconds m_planRetryDelay = kPlanRetryFirst;
    void keepUnsavedPlan(const QList<ZephylWire::PlanDraft> &drafts);
    void schedulePlanRetry();
    // A call to the service succeeded: an unsaved plan goes again.
    void serviceAnswered();
    // Sends the unsaved plan again, unless the service refused it.
    void resendPlan();
    // The account whose ask conversation is in memory (lower-cased), and the
    // conversation an account left in memory when its session ended.
    QString m_chatOwner;
    struct LeftChat {
        QString owner;
        QList<CatChatLine> lines;
    };
    std::optional<LeftChat> m_leftChat;
    quint64 m_feedGeneration = 0;

    // ---- Tucking
    void advanceTuck();
    // Minimises the window of the current step and schedules the next one.
    void completeTuck();

    // ---- Publishing
    struct PublishRun;
    QCoro::Task<PublishOutcome> runPublication(ComposerSubmission submission);
    // `unknown`: the service may hold the post all the same.
    PublishOutcome publishFailed(const std::exception_ptr &error, bool unknown = false);
    // Publications whose fate is not known, of the account in memory (kept
    // under its identity), looked up again whenever the service answers and
    // on a timer, each wait twice the last, until it says.
    void setPending(QList<PendingPublication> pending);
    void forgetPending(const QString &key);
    void schedulePendingLookup();
    QCoro::Task<> settlePending();
    void settled(const PendingPublication &sent, const PublishOutcome &outcome);
    // What the service made under a pending key, found and waited for; none
    // when it has no record of it.
    PublishOutcome pendingOutcome(const std::optional<ZephylWire::Publication> &waited, bool savedAsDraft);
    void setInstagramState(std::optional<ZephylWire::InstagramProfile> value, bool known);
    PublishOutcome outcomeOf(const ZephylWire::Publication &publication, bool savedAsDraft);

    EventHandler m_events;
    std::unique_ptr<ServiceClient> m_ownedApi;
    ServiceClient *m_api = nullptr;
    DefaultsStore *m_defaults = nullptr;
    RecordStore *m_records = nullptr;
    Clock *m_clock = nullptr;
    UserNotifications *m_notifications = nullptr;
    WindowSource *m_windows = nullptr;

    SessionState m_session = SessionState::restoring;
    std::optional<ZephylWire::User> m_user;
    bool m_sessionUnverified = false;
    bool m_signInBusy = false;
    std::optional<ZephylWire::InstagramProfile> m_instagram;
    bool m_instagramKnown = false;
    bool m_instagramLoading = false;
    bool m_instagramBusy = false;
    QList<ZephylWire::InstagramFeedItem> m_feedItems;
    FeedStatus m_feedStatus;
    bool m_feedHasMore = false;
    QList<ZephylWire::PlanDraft> m_planDrafts;
    QList<ZephylWire::Publication> m_publications;
    bool m_planLoading = false;
    bool m_planSaving = false;
    QList<ZephylWire::AssistantThreadSummary> m_threads;
    std::optional<QString> m_activeThreadID;
    QList<ChatMessage> m_messages;
    bool m_assistantBusy = false;
    QString m_assistantDraft;
    Surface m_surface = Surface::assistant;
    bool m_composerPresented = false;
    std::optional<ComposerPrefill> m_composerPrefill;
    std::optional<AppNotice> m_notice;
    QList<Observation> m_observations;
    std::optional<PublishProgress> m_publishing;
    QString m_askInput;
    std::optional<QString> m_askQuestion;
    std::optional<AskReply> m_askReply;
    QList<CatChatLine> m_catChat;
    bool m_askBusy = false;
    FocusSession m_focus;
    std::vector<DistractingWindow> m_distractions;
    bool m_accessibilityTrusted = false;

    // The 1 s focus tick while a session runs, and when it last advanced the session.
    std::unique_ptr<Clock::Timer> m_focusTimer;
    QDateTime m_focusLastTick;
    std::unique_ptr<Clock::Timer> m_accessibilityRecheck;
    // Tucking distractions away: the windows still to visit, first one next, and
    // the fallback of the current visit.
    std::vector<DistractingWindow> m_pendingTucks;
    std::unique_ptr<Clock::Timer> m_tuckTimeout;
    // The pause before the next visit, and the frame of the visit under way
    // (none between visits, so a late arrival finds nothing to complete).
    std::unique_ptr<Clock::Timer> m_tuckPacing;
    std::optional<QRectF> m_tuckVisit;

    // Publishing: the run under way, and its wait's cancellation, fired when the model goes.
    struct CancelledWithModel : CancelSource {
        ~CancelledWithModel() { cancel(); }
    };
    std::shared_ptr<PublishRun> m_publishRun;
    // Runs started so far: a look-up answered after one started may be out of date.
    quint64 m_publishRunsStarted = 0;
    CancelledWithModel m_publishCancel;

    bool m_usesWebWorkspace = true;
    BreakClock m_breakClock;
    UnsentTextStore m_unsentText;
    // What the current owner's record holds, as last read or written: an unchanged
    // pair is not written again.
    UnsentTextStore::Text m_storedUnsent;
    // The plan as last sent, until the service has taken it.
    UnsavedPlanStore m_unsavedPlan;
    // Draft editors left open by an expiry, per account; the one offered to the account now.
    DraftEditStore m_draftEdits;
    std::optional<KeptDraftEdit> m_returnedDraftEdit;
    // Publications whose fate is not known, and what the service said at last
    // of those, until a composer takes it.
    PendingPublicationStore m_pendingStore;
    QList<PendingPublication> m_pending;
    std::unique_ptr<Clock::Timer> m_pendingLookup;
    std::chrono::milliseconds m_pendingLookupDelay = kPlanRetryFirst;
    bool m_settlingPending = false;
    QHash<QString, PublishOutcome> m_settledOutcomes;
    KeptComposerStore m_keptComposer;
    std::optional<KeptComposerPost> m_returnedComposer;
    // Looked for once per account in memory.
    bool m_composerReturned = false;
    QString m_inputOwner;

    AppLanguage m_language = AppLanguage::system;
    AppTheme m_theme = AppTheme::system;
    bool m_companionEnabled = true;
    QString m_companionName;
    bool m_companionWalksOnWindows = true;
    bool m_companionClickOpensAsk = true;
    bool m_companionWanders = false;
    CompanionTemper m_companionTemper = CompanionTemper::calm;
    QString m_companionVariantID;
    int m_focusMinutes = 25;
    bool m_focusGuardEnabled = true;
    CatWellbeing m_wellbeing;
    bool m_breakRemindersEnabled = true;
    bool m_catRemindersEnabled = true;
};
