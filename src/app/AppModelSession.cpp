// Session bootstrap and loading after sign-in: the stored session or the page's
// report, then the account's data, each load on its own too.
#include "app/AppModel.h"

#include "app/PlanMerge.h"
#include "app/ServiceClient.h"
#include "design/L10n.h"
#include "base/DefaultsStore.h"
#include "base/RecordStore.h"

namespace {

// No mail address is longer; a longer report is no usable identity.
constexpr qsizetype kMaxEmailLength = 320;
// A display name is shown in a line or two at most.
constexpr qsizetype kMaxDisplayNameLength = 200;
// The account signed in with the stored session (native workspace) or with the
// page's (web workspace), kept so that a start without the service knows whose
// unsent text, conversation and plan to show, and for whom to keep what is typed.
const QString kKeptAccountKey = QStringLiteral("zephyl.mac.session.account");
// Asking the service again who is signed in: first after this wait, then each
// wait twice the last, up to the longest.
constexpr std::chrono::milliseconds kAccountCheckFirst{5000};
constexpr std::chrono::milliseconds kAccountCheckLongest{60000};

// The page's e-mail address as an identity: trimmed, without spaces or control
// characters inside, of a sane length; empty when it is none of that.
QString usableEmail(const QString &reported)
{
    const QString email = reported.trimmed();
    if (email.size() > kMaxEmailLength)
        return {};
    for (const QChar c : email) {
        if (c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return {};
    }
    return email;
}

QString usableDisplayName(const QString &reported)
{
    QString name = reported;
    for (QChar &c : name) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    name = name.simplified();
    // Never cut a surrogate pair in two.
    if (name.size() > kMaxDisplayNameLength)
        name.truncate(name.at(kMaxDisplayNameLength).isLowSurrogate() ? kMaxDisplayNameLength - 1
                                                                       : kMaxDisplayNameLength);
    return name;
}

// The code an unusable feed page is reported under.
QString unavailableCode(ZephylWire::InstagramFeedResponse::Status status)
{
    using Status = ZephylWire::InstagramFeedResponse::Status;
    switch (status) {
    case Status::notConfigured: return QStringLiteral("not_configured");
    case Status::unsupportedProvider: return QStringLiteral("unsupported_provider");
    case Status::unavailable: return QStringLiteral("unavailable");
    default: return QStringLiteral("unknown");
    }
}

} // namespace

AppModel::FlowGuard AppModel::flowGuard() const
{
    return {QPointer<AppModel>(const_cast<AppModel *>(this)), m_accountFlows.token()};
}

void AppModel::adoptIdentity(const QString &email)
{
    const QString owner = RecordStore::ownerKey(email);
    // An account without a name is never taken for another one, nor another for it.
    if (m_accountAdopted && (owner.isEmpty() || owner != m_accountIdentity))
        clearAccountData();
    // Nor has it a conversation of its own: the one in view is nobody's (the
    // exchange an ended session left in view, the signed-out panel's lines).
    if (!m_accountAdopted && owner.isEmpty()) {
        setCatChat({});
        setAskReply(std::nullopt);
        setAskQuestion(std::nullopt);
    }
    m_accountIdentity = owner;
    m_accountAdopted = true;
    m_pending = m_pendingStore.load(owner);
}

void AppModel::adoptAccount(const ZephylWire::User &account)
{
    // Records are kept only under an address; an account without one lives in memory alone.
    const QString email = usableEmail(account.email);
    adoptIdentity(email);
    setUser(account);
    restoreUnsentText(email);
    restoreCatChat(email);
    returnComposerPost();
}

std::optional<ZephylWire::User> AppModel::keptAccount() const
{
    const auto stored = m_defaults->object(kKeptAccountKey);
    if (!stored)
        return std::nullopt;
    try {
        ZephylWire::User account = ZephylWire::User::fromJson(*stored);
        if (usableEmail(account.email).isEmpty())
            return std::nullopt;
        return account;
    } catch (...) {
        return std::nullopt; // a damaged entry names nobody
    }
}

void AppModel::keepAccount(const std::optional<ZephylWire::User> &account)
{
    // Written only when it changes; an account without an address is not kept.
    if (account && !usableEmail(account->email).isEmpty()) {
        const QJsonObject value = account->toJson();
        if (m_defaults->object(kKeptAccountKey) != value)
            m_defaults->set(kKeptAccountKey, value);
    } else if (m_defaults->contains(kKeptAccountKey)) {
        m_defaults->remove(kKeptAccountKey);
    }
}

bool AppModel::accountUnconfirmed() const
{
    return m_session == SessionState::signedIn && m_sessionUnverified && m_accountAdopted;
}

void AppModel::clearAccountData()
{
    // What an account without a name typed was kept nowhere but here; it is nobody else's.
    if (m_accountAdopted && m_accountIdentity.isEmpty()) {
        setAssistantDraft(QString());
        setAskInput(QString());
    }
    // Loads, saves and replies still on their way belong to the account that goes.
    m_accountFlows.renew();
    m_accountIdentity.clear();
    m_accountAdopted = false;
    m_verifyingAccount = false;
    m_accountCheck.reset();
    m_accountCheckDelay = kAccountCheckFirst;

    // Not known for the next account until the service says.
    setInstagramState(std::nullopt, false);
    m_instagramLoading = false;
    setFeedItems({});
    setFeedStatus(FeedStatus::idle());
    setFeedHasMore(false);
    feedCursor.reset();

    m_planSaverRunning = false;
    m_planSaveWanted = false;
    releasePlanSaveWaiters();
    setPlanDrafts({});
    setPublications({});
    setPlanUnsaved(false);
    setPlanUnavailable(false);
    m_planBase.clear();
    m_planRead = false;
    m_planSent.reset();
    m_draftEditsTyped.clear();
    m_planRefused = false;
    m_planRetry.reset();
    m_planRetryDelay = kPlanRetryFirst;
    setPlanLoading(false);
    setPlanSaving(false);
    m_returnedDraftEdit.reset();
    // Kept for the account that goes; asked about again when it is back.
    m_pending.clear();
    m_pendingLookup.reset();
    m_pendingLookupDelay = kPlanRetryFirst;
    m_settlingPending = false;
    m_settledOutcomes.clear();
    m_returnedComposer.reset();
    m_composerReturned = false;

    setThreads({});
    setActiveThreadID(std::nullopt);
    setMessages({});
    setAssistantBusy(false);

    // The conversation stays its owner's, stored and in memory, for when the account comes back.
    if (!m_chatOwner.isEmpty())
        m_leftChat = LeftChat{m_chatOwner, m_catChat};
    m_chatOwner.clear();
    setCatChat({});
    setAskReply(std::nullopt);
    setAskQuestion(std::nullopt);
    setAskBusy(false);
    setObservations({});
}

void AppModel::clearCatConversation()
{
    setCatChat({});
    setAskReply(std::nullopt);
    setAskQuestion(std::nullopt);
    CatChatLine::save({}, *m_records, m_chatOwner);
}

void AppModel::restoreCatChat(const QString &owner)
{
    const QString lowered = RecordStore::ownerKey(owner);
    if (lowered.isEmpty() || lowered == m_chatOwner)
        return;
    QList<CatChatLine> lines;
    if (m_leftChat && m_leftChat->owner == lowered) {
        lines = m_leftChat->lines; // with every line and chip it had in memory
        m_leftChat.reset();
    } else {
        lines = CatChatLine::load(*m_records, lowered);
    }
    m_chatOwner = lowered;
    setCatChat(std::move(lines));
}

void AppModel::storeCatChat() { CatChatLine::save(m_catChat, *m_records, m_chatOwner); }

QCoro::Task<> AppModel::bootstrap()
{
    setSession(SessionState::restoring);
    // The page signs the user in and reports the account (webAccountChanged).
    if (m_usesWebWorkspace)
        co_return;
    const FlowGuard guard = flowGuard();
    const auto outcome = co_await m_api->restoreSession();
    if (!guard.alive() || m_session != SessionState::restoring)
        co_return; // a sign-in finished meanwhile and decided
    switch (outcome) {
    case ServiceClient::RestoreOutcome::signedIn:
        setSessionUnverified(false);
        setSession(SessionState::signedIn);
        co_await loadAfterSignIn(keptAccount());
        break;
    case ServiceClient::RestoreOutcome::unverified:
        setSessionUnverified(true);
        setSession(SessionState::signedIn);
        co_await loadAfterSignIn(keptAccount());
        break;
    case ServiceClient::RestoreOutcome::signedOut:
        // No session is stored any more: nobody's data is shown at the next start either.
        keepAccount(std::nullopt);
        setSession(SessionState::signedOut);
        break;
    }
}

QCoro::Task<> AppModel::loadAfterSignIn(std::optional<ZephylWire::User> kept)
{
    if (kept && m_sessionUnverified && m_session == SessionState::signedIn) {
        // The service did not answer (offline): the account kept with the session
        // is shown at once, and the service asked who is signed in.
        adoptKeptAccount(*kept);
        co_await verifyAccount();
        co_return;
    }
    const QPointer<AppModel> self(this);
    std::optional<ZephylWire::User> account;
    try {
        account = co_await m_api->currentUser();
    } catch (...) {
        // Not shown: the loads below meet a gone session themselves.
    }
    if (!self || m_session != SessionState::signedIn)
        co_return;
    if (account) {
        adoptAccount(*account);
        setSessionUnverified(false);
        keepAccount(account);
    } else if (kept) {
        adoptKeptAccount(*kept);
        scheduleAccountCheck();
        co_return;
    } else {
        setUser(std::nullopt);
        if (m_sessionUnverified)
            scheduleAccountCheck(); // the account is taken once the service answers
    }
    co_await loadAccountData();
}

void AppModel::adoptKeptAccount(const ZephylWire::User &kept)
{
    // Taken for now, so its unsent text, conversation and kept plan show and
    // what is typed is kept for it; nothing is loaded or sent for it until the
    // service has said it is the one signed in.
    adoptAccount(kept);
    setSessionUnverified(true);
    showKeptPlan();
    rebuildObservations();
}

QCoro::Task<> AppModel::loadAccountData()
{
    const FlowGuard guard = flowGuard();
    co_await loadInstagram();
    if (!guard.alive())
        co_return;
    co_await loadPlan();
    if (!guard.alive())
        co_return;
    co_await loadThreads();
    if (!guard.alive())
        co_return;
    co_await loadFeed(true);
}

void AppModel::showKeptPlan()
{
    if (m_planRead)
        return;
    // Not the plan: what the service holds is not known yet.
    setPlanUnavailable(true);
    if (!m_planUnsaved) {
        if (const auto kept = m_unsavedPlan.load(m_accountIdentity)) {
            m_planBase = kept->base;
            m_planRefused = kept->refused;
            m_planSent = kept->sent;
            setPlanDrafts(kept->drafts);
            setPlanUnsaved(true);
        }
    }
}

void AppModel::scheduleAccountCheck()
{
    if (m_usesWebWorkspace || m_accountCheck)
        return;
    const auto delay = m_accountCheckDelay;
    m_accountCheckDelay = std::min(m_accountCheckDelay * 2, kAccountCheckLongest);
    m_accountCheck = clock().after(delay, [this] {
        m_accountCheck.reset();
        verifyAccountSoon();
    });
}

void AppModel::verifyAccountSoon()
{
    // In the web workspace the page says who is signed in, once it can be loaded.
    if (m_usesWebWorkspace || m_verifyingAccount)
        return;
    [](AppModel *model) -> QCoro::Task<> { co_await model->verifyAccount(); }(this);
}

QCoro::Task<> AppModel::verifyAccount()
{
    if (m_usesWebWorkspace || m_verifyingAccount || m_session != SessionState::signedIn || !m_sessionUnverified)
        co_return;
    m_verifyingAccount = true;
    m_accountCheck.reset();
    const FlowGuard guard = flowGuard();
    std::optional<ZephylWire::User> account;
    std::exception_ptr error;
    try {
        account = co_await m_api->currentUser();
    } catch (...) {
        error = std::current_exception();
    }
    if (!guard.alive())
        co_return;
    if (!account && isSessionFailure(error)) {
        // An access token that lapsed while offline is renewed; a session the
        // service no longer knows ends (the unsent text stays its owner's).
        const auto outcome = co_await m_api->restoreSession();
        if (!guard.alive())
            co_return;
        if (outcome == ServiceClient::RestoreOutcome::signedOut) {
            m_verifyingAccount = false;
            co_await expireSession();
            co_return;
        }
        if (outcome == ServiceClient::RestoreOutcome::signedIn) {
            try {
                account = co_await m_api->currentUser();
            } catch (...) {
            }
            if (!guard.alive())
                co_return;
        }
    }
    m_verifyingAccount = false;
    if (!account) {
        scheduleAccountCheck();
        co_return;
    }
    // The same account is confirmed; another one is an account change: what the
    // first one typed and planned stays in its own records, the other's shows.
    adoptAccount(*account);
    setSessionUnverified(false);
    keepAccount(account);
    m_accountCheckDelay = kAccountCheckFirst;
    co_await loadAccountData();
}

void AppModel::webAccountChanged(const std::optional<WebAccount> &account, bool signedOut)
{
    if (!m_usesWebWorkspace)
        return;
    if (account) {
        const QString email = usableEmail(account->email);
        const QString name = usableDisplayName(account->displayName);
        // Another account brings nothing of the last one; a report without a
        // usable address is an account of its own, kept in memory only.
        const ZephylWire::User user{email, email, name.isEmpty() ? std::nullopt : std::optional<QString>(name),
                                    QStringLiteral("member")};
        adoptAccount(user);
        keepAccount(user);
        setSessionUnverified(false);
        setSession(SessionState::signedIn);
        // Threads first: the page shows the plan itself.
        [](AppModel *model) -> QCoro::Task<> {
            const FlowGuard guard = model->flowGuard();
            co_await model->loadThreads();
            if (guard.alive())
                co_await model->loadPlan();
        }(this);
        return;
    }
    // The account the page signed out: the one in memory, or the one whose
    // session ended here while the page still held it.
    const QString chatOwner = m_chatOwner.isEmpty() ? m_inputOwner : m_chatOwner;
    if (signedOut) {
        // The page signed the account out: what it kept here goes, as at the
        // native sign-out (another account's records stay).
        keepAccount(std::nullopt);
        forgetUnsentText();
    }
    if (m_session != SessionState::signedOut) {
        // Nobody signed in: a page reload reports this too, so the unsent text
        // and its owner stay (only a sign-out forgets them).
        setUser(std::nullopt);
        clearAccountData();
        // What is on screen belongs to the account that went: emptied in memory, and
        // what is typed next waits for the next owner. The stored record stays.
        m_inputOwner.clear();
        m_storedUnsent = {};
        setAssistantDraft(QString());
        setAskInput(QString());
        setSession(SessionState::signedOut);
    }
    if (signedOut) {
        CatChatLine::save({}, *m_records, chatOwner);
        if (m_leftChat && m_leftChat->owner == chatOwner)
            m_leftChat.reset();
        clearCatConversation(); // what an ended session left in view goes too
    }
}

void AppModel::webSignInShown()
{
    if (!m_usesWebWorkspace)
        return;
    // The page holds no session: no account is kept for an offline start. What
    // the account typed stays its own, as after an expiry.
    keepAccount(std::nullopt);
    webAccountChanged(std::nullopt);
}

void AppModel::webPageUnavailable()
{
    if (!m_usesWebWorkspace || m_session == SessionState::signedIn)
        return;
    const auto kept = keptAccount();
    if (!kept)
        return;
    // The page would say who is signed in, but cannot be loaded (offline): the
    // account it last reported goes on unconfirmed until the page can say.
    setSession(SessionState::signedIn);
    adoptKeptAccount(*kept);
}

void AppModel::newCatChat()
{
    setAskInput(QString());
    clearCatConversation();
}

QCoro::Task<> AppModel::loadThreads()
{
    if (m_session != SessionState::signedIn)
        co_return;
    if (accountUnconfirmed()) {
        verifyAccountSoon(); // loads for the account once the service has named it
        co_return;
    }
    const FlowGuard guard = flowGuard();
    std::optional<ZephylWire::AssistantThreadStore> store;
    std::exception_ptr error;
    try {
        store = co_await m_api->assistantThreadStore();
    } catch (...) {
        error = std::current_exception();
    }
    if (!guard.alive())
        co_return;
    if (store) {
        apply(*store);
        serviceAnswered();
    } else if (isSessionFailure(error)) {
        co_await expireSession();
    }
}

QCoro::Task<> AppModel::loadPlan()
{
    if (m_session != SessionState::signedIn)
        co_return;
    if (accountUnconfirmed()) {
        verifyAccountSoon();
        co_return;
    }
    const FlowGuard guard = flowGuard();
    const quint64 editsBefore = m_planEdits;
    setPlanLoading(true);
    std::optional<QList<ZephylWire::PlanDraft>> drafts;
    std::exception_ptr error;
    try {
        drafts = co_await m_api->planDrafts();
    } catch (...) {
        error = std::current_exception();
    }
    if (!guard.alive())
        co_return;
    if (isSessionFailure(error)) {
        co_await expireSession();
        if (guard.alive())
            setPlanLoading(false);
        co_return;
    }
    // A save that began meanwhile or is under way settles the list itself: the
    // answer may be older than what it wrote.
    const bool saveBetween = editsBefore != m_planEdits || m_planSaverRunning;
    if (drafts && !saveBetween) {
        // Edits the service has not taken, made in this run (a failed save, an
        // offline spell) or kept from an earlier one (the application ended,
        // the service refused them), are newer than its answer where they differ
        // from the list they were made from; its own changes since stay.
        const bool wasUnsaved = m_planUnsaved;
        const auto local = wasUnsaved ? std::optional(keptPlan()) : m_unsavedPlan.load(m_accountIdentity);
        // Drafts that cannot be read are not the plan's here: a save writes them back as they came.
        QList<ZephylWire::PlanDraft> readable = *drafts;
        readable.removeIf([](const ZephylWire::PlanDraft &draft) { return !draft.readable(); });
        PlanMerge::Merged met = local ? metPlan(*local, readable) : PlanMerge::Merged{readable, {}};
        // Work an editor kept when the application ended, on a draft deleted there since.
        const QList<KeptDraftEdit> back = bringBackDraftEdits(met);
        const QList<ZephylWire::PlanDraft> &plan = met.drafts;
        takePlanBase(readable);
        setPlanUnavailable(false);
        setPlanDrafts(plan);
        const QList<ZephylWire::PlanDraft> unreadable = untoldUnreadable(*drafts);
        sayPlanConflicts(met, unreadable);
        if ((local || !back.isEmpty()) && !PlanMerge::sameList(plan, readable)) {
            setPlanUnsaved(true);
            m_planRefused = local && local->refused;
            // Now in the plan's record: not offered again by an editor.
            if (m_unsavedPlan.save(m_accountIdentity, keptPlan()))
                for (const KeptDraftEdit &edit : back)
                    forgetDraftEdit(edit);
            if (!m_planRefused) {
                // A refused one was said when it was refused; it waits for the
                // user's next change. One of this run was said when it failed;
                // one met with a change there, or beside a draft that cannot be
                // read, was said just now.
                if (!wasUnsaved && met.conflicted.isEmpty() && met.keptDeleted.isEmpty() && met.keptChanged.isEmpty() &&
                    unreadable.isEmpty())
                    setNotice(AppNotice::make(planUnsavedText(), AppNotice::Tone::attention));
                resendPlan();
            }
        } else if (local) {
            planTaken(); // the service holds it all already
        }
    }
    if (!drafts) {
        if (!m_planRead)
            setPlanUnavailable(true);
        if (!saveBetween && !m_planRead && !m_planUnsaved) {
            // The service's list could not be read: a plan kept from before is
            // shown as not saved yet, and goes once the service's list is read.
            showKeptPlan();
            if (m_planUnsaved && !m_planRefused)
                schedulePlanRetry();
        }
    }
    if (drafts) {
        serviceAnswered();
        returnDraftEdit();
    }
    try {
        auto publications = co_await m_api->instagramPublications();
        if (!guard.alive())
            co_return;
        setPublications(std::move(publications));
    } catch (...) {
        if (!guard.alive())
            co_return;
    }
    rebuildObservations();
    setPlanLoading(false);
}

QCoro::Task<> AppModel::loadInstagram()
{
    if (accountUnconfirmed()) {
        verifyAccountSoon();
        co_return;
    }
    const FlowGuard guard = flowGuard();
    std::exception_ptr error;
    m_instagramLoading = true;
    try {
        auto profile = co_await m_api->instagramProfile();
        if (!guard.alive())
            co_return;
        m_instagramLoading = false;
        setInstagram(std::move(profile));
        serviceAnswered();
    } catch (...) {
        error = std::current_exception();
    }
    if (!guard.alive())
        co_return;
    m_instagramLoading = false;
    if (isSessionFailure(error)) {
        co_await expireSession();
        if (!guard.alive())
            co_return;
    }
    rebuildObservations();
}

QCoro::Task<> AppModel::loadFeed(bool reset)
{
    if (m_session != SessionState::signedIn)
        co_return;
    if (accountUnconfirmed()) {
        verifyAccountSoon();
        co_return;
    }
    if (reset) {
        feedCursor.reset();
    } else if (!m_feedHasMore || m_feedStatus.kind == FeedStatus::Kind::loading) {
        co_return;
    }
    // A later reset supersedes this load: its answer, whenever it comes, is dropped.
    const quint64 generation = ++m_feedGeneration;
    const FlowGuard guard = flowGuard();
    setFeedStatus(FeedStatus::loading());
    std::optional<ZephylWire::InstagramFeedResponse> page;
    std::exception_ptr error;
    try {
        // Named first: a temporary inside a co_await would be destroyed twice (GCC 12).
        const std::optional<QString> after = reset ? std::nullopt : feedCursor;
        page = co_await m_api->instagramFeed(after);
    } catch (...) {
        error = std::current_exception();
    }
    if (!guard.alive() || generation != m_feedGeneration)
        co_return;
    if (page) {
        serviceAnswered();
        using Status = ZephylWire::InstagramFeedResponse::Status;
        switch (page->status) {
        case Status::synced: {
            QList<ZephylWire::InstagramFeedItem> items = reset ? QList<ZephylWire::InstagramFeedItem>() : m_feedItems;
            items.append(page->items);
            setFeedItems(std::move(items));
            feedCursor = page->cursor;
            setFeedHasMore(page->hasMore && page->cursor.has_value());
            setFeedStatus(FeedStatus::synced());
            break;
        }
        case Status::disconnected:
            setFeedItems({});
            setFeedHasMore(false);
            setFeedStatus(FeedStatus::disconnected());
            break;
        case Status::notConfigured:
        case Status::unsupportedProvider:
        case Status::unavailable:
        case Status::unknown:
            // The items already shown stay.
            setFeedHasMore(false);
            setFeedStatus(FeedStatus::unavailable(unavailableCode(page->status)));
            break;
        }
    } else {
        setFeedStatus(FeedStatus::unavailable(describe(error)));
        if (isSessionFailure(error)) {
            co_await expireSession();
            if (!guard.alive())
                co_return;
        }
    }
    rebuildObservations();
}
