// Publishing: from a confirmed submission to an outcome, through the service.
#include "app/AppModel.h"

#include "app/CaptionComposer.h"
#include "app/ComposerState.h"
#include "app/ServiceClient.h"
#include "design/L10n.h"
#include "services/AsyncSupport.h"
#include "services/ServiceErrors.h"
#include "services/ops/Publications.h"

#include <QPointer>

#include <algorithm>

struct AppModel::PublishRun {
    QString key;
    std::shared_ptr<Async::Shared<PublishOutcome>> outcome;
};

namespace {

PublishProgress step(const QString &text, double fraction) { return PublishProgress{text, fraction}; }

bool isFailureStatus(const QString &status)
{
    return status == QLatin1String("failed") || status == QLatin1String("cancelled") ||
           status == QLatin1String("preparation_failed");
}

// Why the service gave up on a publication, for the user.
QString failureMessage(const std::optional<QString> &code)
{
    if (!code || code->isEmpty())
        return L10n::t("Instagram did not accept it, and the server recorded no reason.");
    if (*code == QLatin1String("media_processing_timeout"))
        return L10n::t("Instagram took too long to process the media.");
    if (*code == QLatin1String("caption_too_long"))
        return L10n::t("The caption is over the limit.");
    if (*code == QLatin1String("format_invalid"))
        return L10n::t("This format is not accepted for that media.");
    QString words = *code;
    words.replace(QLatin1Char('_'), QLatin1Char(' '));
    return words; // the server's own code, not translated
}

ServiceClient::PublicationRequest requestFor(const ComposerSubmission &s, const QStringList &mediaIds,
                                             const std::optional<QString> &coverId, const QDateTime &now)
{
    ServiceClient::PublicationRequest r;
    r.confirm = true;
    r.format = PublishFormats::rawValue(s.format);
    r.caption = CaptionComposer::caption(s.caption, s.hashtags);
    r.mediaIds = mediaIds;
    r.scheduledAt = Publications::internetDateTime(s.scheduledAt.value_or(now));
    r.shareToFeed = s.shareToFeed;
    r.trialEnabled = s.trialEnabled;
    r.trialGraduation = s.trialGraduation;
    r.coverMediaId = coverId;
    r.thumbOffsetMs = std::nullopt;
    r.collaborators = s.collaborators;
    r.audioName = s.audioName;
    r.isAiGenerated = s.isAIGenerated;
    r.isDraft = s.saveAsDraft;
    return r;
}

} // namespace

QCoro::Task<PublishOutcome> AppModel::publish(ComposerSubmission submission)
{
    QPointer<AppModel> self(this);
    // One run at a time. A second press for the same post shares the run under
    // way; another post waits until it has ended.
    while (m_publishRun) {
        const std::shared_ptr<PublishRun> running = m_publishRun;
        const ServiceNetworkError never(ServiceNetworkError::Code::cancelled); // nothing aborts this wait
        const PublishOutcome theirs = co_await Async::Shared<PublishOutcome>::wait(running->outcome, nullptr, never);
        if (running->key == submission.idempotencyKey)
            co_return theirs;
        if (!self)
            co_return PublishOutcome::failed(QString());
    }
    auto run = std::make_shared<PublishRun>();
    run->key = submission.idempotencyKey;
    run->outcome = std::make_shared<Async::Shared<PublishOutcome>>(this);
    m_publishRun = run;
    ++m_publishRunsStarted;
    // Runs up to its first wait before this returns: "Preparing…" is showing by then.
    const PublishOutcome outcome = co_await runPublication(std::move(submission));
    if (self && m_publishRun == run)
        m_publishRun.reset();
    run->outcome->set(outcome);
    co_return outcome;
}

QCoro::Task<PublishOutcome> AppModel::runPublication(ComposerSubmission submission)
{
    QPointer<AppModel> self(this);
    const PublishOutcome gone = PublishOutcome::failed(QString()); // nobody is left to see it
    setPublishing(step(L10n::t("Preparing…"), 0.05));
    // Sent before without the service saying whether it made it: whatever
    // happens now short of its answer, the first may be out.
    const bool wasPending = publicationPending(submission.idempotencyKey);
    const QString owner = m_accountIdentity;
    const auto sameAccount = [&] { return self && m_accountIdentity == owner; };

    QStringList mediaIds;
    std::optional<QString> coverId;
    std::exception_ptr failure;
    const qsizetype count = submission.media.size();
    try {
        // One after another, never in parallel.
        for (qsizetype k = 1; k <= count; ++k) {
            setPublishing(step(L10n::tf("Uploading %d of %d…", int(k), int(count)),
                               0.1 + 0.6 * double(k - 1) / double(std::max<qsizetype>(count, 1))));
            const ImportedMedia &item = submission.media.at(k - 1);
            // Named first: GCC 12 may destroy a temporary inside a co_await twice.
            const MediaUpload::MediaSource source = item.data.source();
            const QString id = co_await api().uploadInstagramMedia(source, item.contentType, item.fileName);
            if (!self)
                co_return gone;
            mediaIds.append(id);
        }
        if (submission.cover) {
            setPublishing(step(L10n::t("Uploading the cover…"), 0.72));
            const ImportedMedia &cover = *submission.cover;
            const MediaUpload::MediaSource source = cover.data.source();
            const QString id = co_await api().uploadInstagramMedia(source, cover.contentType, cover.fileName);
            if (!self)
                co_return gone;
            coverId = id;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return gone;
    if (failure)
        co_return publishFailed(failure, wasPending);

    setPublishing(step(L10n::t("Handing over to Instagram…"), 0.85));
    const ServiceClient::PublicationRequest request = requestFor(submission, mediaIds, coverId, clock().now());
    // From here until the service says, it may be made: kept before it goes,
    // so that neither a lost answer nor a kill lets it be sent under a new key
    // (again, when a look-up found nothing of it while its files went up).
    if (!publicationPending(submission.idempotencyKey))
        setPending(m_pending + QList{PendingPublication{submission.idempotencyKey, PendingPublication::postOf(submission),
                                                         submission.saveAsDraft,
                                                         PendingPublication::wordsOf(submission)}});
    std::optional<ZephylWire::Publication> created;
    try {
        created = co_await api().createInstagramPublication(request, submission.idempotencyKey);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return gone;
    // Whether the service may hold it although nothing says so: a creation
    // whose answer was lost is looked up under its key before anything is
    // reported; one refused, or whose connection never opened, is reported at once.
    bool unknown = false;
    if (failure && answerMayBeLost(failure)) {
        // The key doubles as the id the service finds the publication under.
        std::exception_ptr lookupFailure;
        std::optional<ZephylWire::Publication> found;
        try {
            found = co_await api().existingInstagramPublication(submission.idempotencyKey);
        } catch (...) {
            lookupFailure = std::current_exception();
        }
        if (!self)
            co_return gone;
        if (lookupFailure) {
            failure = lookupFailure;
            unknown = true;
        } else if (found) {
            created = std::move(found);
            failure = nullptr;
        }
        // Not found: the creation's own failure stands.
    } else if (failure) {
        // Refused, or never sent: this sending made nothing, an earlier one may have.
        unknown = wasPending;
    }
    if (!unknown && sameAccount())
        forgetPending(submission.idempotencyKey);
    if (failure)
        co_return publishFailed(failure, unknown);

    setPublishing(step(L10n::t("Waiting for confirmation…"), 0.95));
    const CancelToken cancel = m_publishCancel.token();
    const ZephylWire::Publication waited = co_await api().waitForInstagramPublication(
        *created, kPublishWaitAttempts, kPublishWaitDelaySeconds, cancel);
    if (!self)
        co_return gone;
    // The plan and the publication list include the new publication.
    co_await loadPlan();
    if (!self)
        co_return gone;
    const PublishOutcome outcome = outcomeOf(waited, submission.saveAsDraft);
    setPublishing(std::nullopt);
    co_return outcome;
}

PublishOutcome AppModel::publishFailed(const std::exception_ptr &error, bool unknown)
{
    const PublishOutcome outcome =
        unknown ? PublishOutcome::unknown(describe(error)) : PublishOutcome::failed(describe(error));
    // Asked again once the service answers, or after a while.
    if (unknown)
        schedulePendingLookup();
    show(error);
    setPublishing(std::nullopt);
    return outcome;
}

PublishOutcome AppModel::outcomeOf(const ZephylWire::Publication &publication, bool savedAsDraft)
{
    // A failure is a failure whatever was asked for: a draft the service could
    // not keep is not reported as saved.
    if (isFailureStatus(publication.status))
        return PublishOutcome::failed(failureMessage(publication.error));
    if (savedAsDraft)
        return PublishOutcome::draftSaved(publication);
    if (publication.status == QLatin1String("published")) {
        raise(AppEvent::published(publication));
        return PublishOutcome::published(publication);
    }
    const qint64 nowMs = clock().now().toMSecsSinceEpoch();
    if (publication.scheduledAt && *publication.scheduledAt - nowMs > 60'000) {
        raise(AppEvent::scheduled(publication));
        return PublishOutcome::scheduled(publication);
    }
    // Still in progress after the wait, or due within the minute.
    return PublishOutcome::stillWorking(publication);
}

QCoro::Task<std::optional<QString>> AppModel::uploadPoster(ImportedMedia media)
{
    if (!media.posterData)
        co_return std::nullopt;
    const QString contentType = QStringLiteral("image/jpeg");
    const QString fileName = QStringLiteral("poster.jpg");
    co_return co_await api().uploadInstagramMedia(*media.posterData, contentType, fileName);
}

// ---- Publications whose fate is not known

std::optional<QString> AppModel::pendingKeyFor(const ComposerSubmission &submission) const
{
    const QString post = PendingPublication::postOf(submission);
    for (auto it = m_pending.crbegin(); it != m_pending.crend(); ++it) {
        if (it->post == post)
            return it->key;
    }
    return std::nullopt;
}

bool AppModel::publicationPending(const QString &key) const { return pendingPublication(key).has_value(); }

std::optional<PendingPublication> AppModel::pendingPublication(const QString &key) const
{
    const auto it = std::find_if(m_pending.cbegin(), m_pending.cend(), [&](const PendingPublication &p) { return p.key == key; });
    return it == m_pending.cend() ? std::nullopt : std::optional(*it);
}

void AppModel::setPending(QList<PendingPublication> pending)
{
    while (pending.size() > PendingPublicationStore::kKept)
        pending.removeFirst();
    m_pending = std::move(pending);
    m_pendingStore.save(m_accountIdentity, m_pending);
    if (m_pending.isEmpty()) {
        m_pendingLookup.reset();
        m_pendingLookupDelay = kPlanRetryFirst;
    }
}

void AppModel::forgetPending(const QString &key)
{
    if (!publicationPending(key))
        return;
    QList<PendingPublication> pending = m_pending;
    pending.removeIf([&](const PendingPublication &p) { return p.key == key; });
    setPending(std::move(pending));
}

void AppModel::schedulePendingLookup()
{
    if (m_pending.isEmpty() || m_pendingLookup)
        return;
    const auto delay = m_pendingLookupDelay;
    m_pendingLookupDelay = std::min(m_pendingLookupDelay * 2, kPlanRetryLongest);
    m_pendingLookup = clock().after(delay, [this] {
        m_pendingLookup.reset();
        settlePending();
    });
}

QCoro::Task<> AppModel::settlePending()
{
    if (m_settlingPending || m_pending.isEmpty() || m_session != SessionState::signedIn || accountUnconfirmed())
        co_return;
    m_settlingPending = true;
    m_pendingLookup.reset();
    const FlowGuard guard = flowGuard();
    bool unanswered = false;
    bool deferred = false;
    bool made = false;
    const QList<PendingPublication> pending = m_pending;
    for (const PendingPublication &p : pending) {
        // A run sending it again now tells its own outcome.
        if (m_publishRun && m_publishRun->key == p.key)
            continue;
        const quint64 runsBefore = m_publishRunsStarted;
        std::optional<ZephylWire::Publication> found;
        try {
            found = co_await api().existingInstagramPublication(p.key);
        } catch (...) {
            unanswered = true;
        }
        if (!guard.alive())
            co_return;
        if (unanswered)
            break;
        std::optional<ZephylWire::Publication> waited;
        if (found) {
            const CancelToken cancel = m_publishCancel.token();
            waited = co_await api().waitForInstagramPublication(*found, kPublishWaitAttempts, kPublishWaitDelaySeconds,
                                                                cancel);
            if (!guard.alive())
                co_return;
        }
        // Settled meanwhile by a run of its own.
        if (!publicationPending(p.key))
            continue;
        // A post sent since it was asked: what was found may be from before it
        // went (a run of this post tells its own outcome, and keeps the key if
        // it cannot know); asked again later.
        if (m_publishRun || m_publishRunsStarted != runsBefore) {
            deferred = true;
            continue;
        }
        forgetPending(p.key);
        made = made || waited.has_value();
        settled(p, pendingOutcome(waited, p.draft));
    }
    m_settlingPending = false;
    if (unanswered || deferred)
        schedulePendingLookup();
    else
        m_pendingLookupDelay = kPlanRetryFirst;
    // The plan and the publication list include what was made.
    if (made)
        co_await loadPlan();
}

PublishOutcome AppModel::pendingOutcome(const std::optional<ZephylWire::Publication> &waited, bool savedAsDraft)
{
    return waited ? outcomeOf(*waited, savedAsDraft)
                  : PublishOutcome::failed(
                        L10n::t("The server has no record of it, so nothing was published. It can be sent again."));
}

QCoro::Task<std::optional<PublishOutcome>> AppModel::askAboutPending(QString key)
{
    const std::optional<PendingPublication> sent = pendingPublication(key);
    if (!sent)
        co_return std::nullopt;
    const FlowGuard guard = flowGuard();
    // The composer shows the wait, as for a publication of its own.
    setPublishing(step(L10n::t("Waiting for confirmation…"), 0.95));
    std::exception_ptr failure;
    std::optional<ZephylWire::Publication> waited;
    try {
        const std::optional<ZephylWire::Publication> found = co_await api().existingInstagramPublication(key);
        if (found && guard.alive()) {
            const CancelToken cancel = m_publishCancel.token();
            waited = co_await api().waitForInstagramPublication(*found, kPublishWaitAttempts, kPublishWaitDelaySeconds,
                                                                cancel);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!guard.model)
        co_return std::nullopt;
    setPublishing(std::nullopt); // even for an account gone meanwhile
    if (!guard.alive())
        co_return std::nullopt;
    if (failure) {
        // Still not known: asked again as every such post is.
        schedulePendingLookup();
        show(failure);
        co_return PublishOutcome::unknown(describe(failure));
    }
    forgetPending(key);
    const PublishOutcome outcome = pendingOutcome(waited, sent->draft);
    // The plan and the publication list include what was made.
    if (waited)
        co_await loadPlan();
    co_return outcome;
}

void AppModel::settled(const PendingPublication &sent, const PublishOutcome &outcome)
{
    const QString &key = sent.key;
    m_settledOutcomes.insert(key, outcome);
    Q_EMIT publicationSettled(key);
    const std::optional<PublishOutcome> untaken = takeSettledOutcome(key);
    if (!untaken)
        return;
    if (!untaken->wentOut()) {
        setNotice(AppNotice::make(L10n::t("The post whose answer was lost did not go out."), AppNotice::Tone::attention));
        return;
    }
    setNotice(AppNotice::make(L10n::t("The post whose answer was lost reached the server after all: the plan shows how "
                                      "it stands."),
                              AppNotice::Tone::settled));
    // Out: what a composer kept of it is done with, unless its words were
    // changed after it went: those are not out, and never go under its key
    // (the service would answer them with what it made of the first).
    auto kept = m_keptComposer.load(m_accountIdentity);
    if (!kept || (kept->idempotencyKey != key && kept->draftIdempotencyKey != key))
        return;
    const bool changed = !sent.words.isEmpty() &&
                         PendingPublication::wordsOf(kept->format, kept->caption, kept->hashtags, sent.draft) != sent.words;
    if (!changed) {
        m_keptComposer.remove(m_accountIdentity);
        return;
    }
    (kept->idempotencyKey == key ? kept->idempotencyKey : kept->draftIdempotencyKey) = ComposerState::newKey();
    kept->spent = sent;
    m_keptComposer.save(m_accountIdentity, *kept);
}

std::optional<PublishOutcome> AppModel::takeSettledOutcome(const QString &key)
{
    const auto it = m_settledOutcomes.constFind(key);
    if (it == m_settledOutcomes.cend())
        return std::nullopt;
    PublishOutcome outcome = *it;
    m_settledOutcomes.erase(it);
    return outcome;
}

// ---- The composer's post

void AppModel::returnComposerPost()
{
    if (m_usesWebWorkspace || m_session != SessionState::signedIn || std::exchange(m_composerReturned, true))
        return;
    // An open composer keeps its own post there: there is nothing else to return.
    if (m_composerPresented)
        return;
    m_returnedComposer = m_keptComposer.load(m_accountIdentity);
    if (!m_returnedComposer)
        return;
    setComposerPrefill(std::nullopt);
    setComposerPresented(true);
}

std::optional<KeptComposerPost> AppModel::takeReturnedComposerPost() { return std::exchange(m_returnedComposer, std::nullopt); }
