// Plan drafts: ids for new drafts, the grid's order, moving and hiding drafts,
// and writing the whole plan back.
#include "app/AppModel.h"

#include "app/DraftPlace.h"
#include "app/PlanMerge.h"
#include "app/ServiceClient.h"
#include "design/L10n.h"
#include "design/TextDirection.h"
#include "services/AsyncSupport.h"
#include "services/ServiceErrors.h"

#include <QJsonDocument>

#include <algorithm>

namespace {

// The service refused the list for what it holds (not the session, not a passing
// trouble): sending it unchanged again would be refused again.
bool refusedForContent(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ServiceAPIError &e) {
        switch (e.kind()) {
        case ServiceAPIError::Kind::rejected: return true;
        case ServiceAPIError::Kind::serverRefused:
            return e.status() >= 400 && e.status() < 500 && e.status() != 408 && e.status() != 429;
        default: return false;
        }
    } catch (...) {
        return false;
    }
}

// The service's list with the drafts that cannot be read set apart, each with
// the number of readable drafts before it there.
struct ServiceList {
    QList<ZephylWire::PlanDraft> readable;
    QList<std::pair<qsizetype, ZephylWire::PlanDraft>> unreadable;
};

ServiceList split(const QList<ZephylWire::PlanDraft> &list)
{
    ServiceList out;
    if (std::all_of(list.cbegin(), list.cend(), [](const auto &draft) { return draft.readable(); })) {
        out.readable = list;
        return out;
    }
    for (const auto &draft : list) {
        if (draft.readable())
            out.readable.append(draft);
        else
            out.unreadable.append({out.readable.size(), draft});
    }
    return out;
}

// The list to write: the drafts that cannot be read go back as they came,
// where they stood among the others.
QList<ZephylWire::PlanDraft> withUnreadable(QList<ZephylWire::PlanDraft> drafts, const ServiceList &server)
{
    qsizetype put = 0;
    for (const auto &[before, draft] : server.unreadable)
        drafts.insert(std::min(before + put++, drafts.size()), draft);
    return drafts;
}

// The write of the whole list; `settled` is told once it has gone out whole
// to the service (`*wentOut` then set), or once it ended without.
QCoro::Task<> writePlan(ServiceClient &api, QList<ZephylWire::PlanDraft> drafts, std::shared_ptr<bool> wentOut,
                        std::function<void()> settled)
{
    const auto out = [wentOut, settled] {
        *wentOut = true;
        settled();
    };
    try {
        co_await api.savePlanDrafts(std::move(drafts), out);
    } catch (...) {
        settled();
        throw;
    }
    settled();
}

} // namespace

qint64 AppModel::nextDraftID() const
{
    const qint64 now = clock().now().toMSecsSinceEpoch();
    qint64 top = 0;
    for (const auto &draft : m_planDrafts)
        top = std::max(top, draft.id);
    // An id at the very top of the range has no successor; the clock then decides.
    return top < std::numeric_limits<qint64>::max() ? std::max(top + 1, now) : now;
}

QList<qsizetype> AppModel::gridOrder() const { return DraftPlace::gridOrder(m_planDrafts); }

QList<ZephylWire::PlanDraft> AppModel::gridDrafts() const
{
    QList<ZephylWire::PlanDraft> out;
    for (const qsizetype index : gridOrder())
        out.append(m_planDrafts[index]);
    return out;
}

QCoro::Task<> AppModel::moveDraft(qint64 id, int offset, int place)
{
    QList<qsizetype> grid = gridOrder();
    const qsizetype index = grid.indexOf(DraftPlace::indexOf(m_planDrafts, id, place));
    if (index < 0)
        co_return;
    const qint64 target = qint64(index) + offset;
    if (target < 0 || target >= grid.size())
        co_return;
    grid.swapItemsAt(index, qsizetype(target));
    // Numbered by where each stands in the plan, so two drafts under one id each get their own slot.
    QList<ZephylWire::PlanDraft> drafts = m_planDrafts;
    for (qsizetype slot = 0; slot < grid.size(); ++slot)
        drafts[grid[slot]].gridSlot = slot;
    setPlanDrafts(std::move(drafts));
    co_await savePlan();
}

QCoro::Task<> AppModel::setDraftHidden(qint64 id, bool hidden, int place)
{
    const qsizetype index = DraftPlace::indexOf(m_planDrafts, id, place);
    if (index < 0)
        co_return;
    QList<ZephylWire::PlanDraft> drafts = m_planDrafts;
    drafts[index].hiddenFromGrid = hidden;
    setPlanDrafts(std::move(drafts));
    co_await savePlan();
}

void AppModel::setPlanUnsaved(bool value)
{
    if (m_planUnsaved == value)
        return;
    m_planUnsaved = value;
    Q_EMIT planUnsavedChanged();
}

void AppModel::setPlanUnavailable(bool value)
{
    if (m_planUnavailable == value)
        return;
    m_planUnavailable = value;
    Q_EMIT planUnavailableChanged();
}

UnsavedPlanStore::Kept AppModel::keptPlan() const { return {m_planDrafts, m_planBase, m_planRefused, m_planSent}; }

PlanMerge::Merged AppModel::metPlan(const UnsavedPlanStore::Kept &local, const QList<ZephylWire::PlanDraft> &server) const
{
    // Unchanged there since; or it holds what was last sent, whose answer was
    // lost: what was edited here since goes on top of it.
    if (PlanMerge::sameList(local.base, server) || (local.sent && PlanMerge::sameList(*local.sent, server)))
        return {local.drafts, {}};
    return PlanMerge::merge(local.base, local.drafts, server, clock().now().toMSecsSinceEpoch(),
                            local.sent.value_or(QList<ZephylWire::PlanDraft>()));
}

QList<ZephylWire::PlanDraft> AppModel::untoldUnreadable(const QList<ZephylWire::PlanDraft> &list)
{
    QList<ZephylWire::PlanDraft> untold;
    for (const auto &draft : list) {
        if (draft.readable())
            continue;
        // Known again by what it holds where its id would be, and its title.
        const QJsonObject mark{{QStringLiteral("account"), m_accountIdentity},
                               {QStringLiteral("id"), draft.unreadable.toObject().value(QLatin1String("id"))},
                               {QStringLiteral("title"), draft.title}};
        const QString key = QString::fromUtf8(QJsonDocument(mark).toJson(QJsonDocument::Compact));
        if (!m_planUnreadableTold.contains(key)) {
            m_planUnreadableTold.insert(key);
            untold.append(draft);
        }
    }
    return untold;
}

void AppModel::sayPlanConflicts(const PlanMerge::Merged &met, const QList<ZephylWire::PlanDraft> &unreadable)
{
    // A few names, each short: the notice is read in one glance.
    const auto named = [](const QList<ZephylWire::PlanDraft> &drafts) {
        constexpr qsizetype kNamed = 3, kLength = 80;
        QStringList titles;
        for (const auto &draft : drafts.first(std::min(drafts.size(), kNamed))) {
            QString title = draft.title.isEmpty() ? L10n::t("Untitled draft") : draft.title;
            if (title.size() > kLength)
                title = title.left(title.at(kLength - 1).isHighSurrogate() ? kLength - 1 : kLength) + QChar(0x2026);
            titles << isolatedPiece(title);
        }
        if (drafts.size() > kNamed)
            titles << QString(QChar(0x2026));
        return L10n::locale().createSeparatedList(titles);
    };
    QStringList said;
    if (!met.conflicted.isEmpty())
        said << L10n::tf("Also changed on another device: %@. Where both changed the same thing, your change here was "
                         "kept and the other device's was replaced.",
                         named(met.conflicted));
    if (!met.keptDeleted.isEmpty())
        said << L10n::tf("Deleted here but changed on another device meanwhile, so it was kept: %@.",
                         named(met.keptDeleted));
    if (!met.keptChanged.isEmpty())
        said << L10n::tf("Deleted on another device but changed here, so it was kept: %@.", named(met.keptChanged));
    if (!unreadable.isEmpty())
        said << L10n::tf(
            "Written elsewhere in a form that can't be edited here: %@. It is kept as it is, and not shown in the plan.",
            named(unreadable));
    if (said.isEmpty())
        return;
    setNotice(AppNotice::make(said.join(QLatin1Char(' ')), AppNotice::Tone::attention));
    Q_EMIT planConflictsSaid(said.join(QLatin1Char(' ')));
}

void AppModel::sayKeptChanged(const QList<ZephylWire::PlanDraft> &drafts)
{
    PlanMerge::Merged met;
    met.keptChanged = drafts;
    sayPlanConflicts(met);
}

void AppModel::takePlanBase(const QList<ZephylWire::PlanDraft> &server)
{
    m_planBase = server;
    m_planSent.reset();
    m_planRead = true;
}

void AppModel::planTaken()
{
    setPlanUnsaved(false);
    m_planRefused = false;
    m_planRetry.reset();
    m_planRetryDelay = kPlanRetryFirst;
    m_unsavedPlan.remove(m_accountIdentity);
}

QCoro::Task<> AppModel::savePlan()
{
    // Whatever the list holds now must reach the service, after any save under way;
    // a list the service refused goes again with the user's change.
    ++m_planEdits;
    m_planRefused = false;
    if (accountUnconfirmed()) {
        // The service has not said yet who is signed in: kept for this account,
        // sent once it has (verifyAccount loads the plan, which sends it).
        m_unsavedPlan.save(m_accountIdentity, keptPlan());
        setPlanUnsaved(true);
        setNotice(AppNotice::make(planUnsavedText(), AppNotice::Tone::attention));
        verifyAccountSoon();
        co_return;
    }
    if (m_session != SessionState::signedIn) {
        // Nobody to save for: the edit stays here, and the user hears it is not saved.
        setPlanUnsaved(true);
        setNotice(AppNotice::make(planUnsavedText(), AppNotice::Tone::attention));
        co_return;
    }
    m_planSaveWanted = true;
    if (m_planSaverRunning) {
        // The running save sends the list again when its request ends; whoever
        // awaits this call finds the list written (or marked unsaved) by then.
        // Kept meanwhile, so an end before then loses nothing.
        m_unsavedPlan.save(m_accountIdentity, keptPlan());
        Async::Trigger settled(this);
        m_planSaveWaiters.push_back(settled.firer());
        co_await settled;
        co_return;
    }
    m_planSaverRunning = true;
    setPlanSaving(true);
    const FlowGuard guard = flowGuard();
    std::exception_ptr error;
    // Whole-list writes, one at a time, so they land in the order they were made.
    const QString owner = m_accountIdentity;
    while (m_planSaveWanted) {
        m_planSaveWanted = false;
        // Kept until the service has it, so an end mid-way loses nothing.
        m_unsavedPlan.save(owner, keptPlan());
        // The service's list may have changed since it was last read (on
        // another device, or by the page): met first, so the whole list written
        // holds what was written there too.
        std::optional<QList<ZephylWire::PlanDraft>> server;
        try {
            server = co_await m_api->planDrafts();
        } catch (...) {
            error = std::current_exception();
        }
        if (!guard.alive())
            co_return;
        if (error)
            break;
        // Nothing but the merge stands between the read and the write: a
        // change another device saves in that moment is lost. The list is the
        // model's at once (an edit made from now on starts from it); the
        // screens, the record and the user hear of it once the write is out.
        const QList<ZephylWire::PlanDraft> shown = m_planDrafts;
        const ServiceList there = split(*server);
        const PlanMerge::Merged met = metPlan(keptPlan(), there.readable);
        m_planDrafts = met.drafts;
        takePlanBase(there.readable);
        // Edits made while the list was read go with this write: no other round for them.
        m_planSaveWanted = false;
        const QList<ZephylWire::PlanDraft> sending = m_planDrafts;
        const auto wentOut = std::make_shared<bool>(false);
        Async::Trigger out(this);
        QCoro::Task<> writing = writePlan(*m_api, withUnreadable(sending, there), wentOut, out.firer());
        co_await out;
        if (!guard.alive())
            co_return; // the account went; its plan went with it
        // Gone out whole: should its answer never come (lost on the way, or
        // the application ended first), the service may hold it. Kept so
        // before anything else; not earlier, for a list that never left is
        // held nowhere but here.
        if (*wentOut)
            m_planSent = sending;
        m_unsavedPlan.save(owner, keptPlan());
        if (m_planDrafts != shown)
            Q_EMIT planDraftsChanged();
        setPlanUnavailable(false);
        sayPlanConflicts(met, untoldUnreadable(*server));
        try {
            co_await std::move(writing);
        } catch (...) {
            error = std::current_exception();
        }
        if (!guard.alive())
            co_return; // the account went; its plan went with it
        if (error) {
            // Refused, or not all of it left: the service holds none of it.
            if (!*wentOut || !answerMayBeLost(error))
                m_planSent.reset();
            break;
        }
        m_planBase = sending;
        m_planSent.reset();
    }
    m_planSaverRunning = false;
    m_planSaveWanted = false;
    if (error) {
        // The edits stay: the service's list would undo them, and those made
        // meanwhile. The next save meets that list first.
        m_unsavedPlan.save(owner, keptPlan());
        setPlanUnsaved(true);
        if (isSessionFailure(error)) {
            show(error);
        } else {
            setNotice(AppNotice::make(describe(error) + QLatin1Char(' ') + planUnsavedText(), AppNotice::Tone::attention));
            if (refusedForContent(error)) {
                // Said once: the same list would be refused again at every start.
                m_planRefused = true;
                m_unsavedPlan.save(owner, keptPlan());
            } else {
                schedulePlanRetry();
            }
        }
    } else {
        planTaken();
    }
    rebuildObservations();
    setPlanSaving(false);
    releasePlanSaveWaiters();
}

bool AppModel::planKept() const { return m_unsavedPlan.isKept(m_accountIdentity); }

QString AppModel::planUnsavedText() const
{
    // "Here" is this computer: only a plan written on it survives a restart.
    return planKept() ? L10n::t("Plan changes are kept here but not saved yet.")
                      : L10n::t("Plan changes are not saved yet and could not be kept on this computer.");
}

void AppModel::schedulePlanRetry()
{
    const auto delay = m_planRetryDelay;
    m_planRetryDelay = std::min(m_planRetryDelay * 2, kPlanRetryLongest);
    m_planRetry = clock().after(delay, [this] {
        m_planRetry.reset();
        resendPlan();
    });
}

void AppModel::serviceAnswered()
{
    if (accountUnconfirmed())
        verifyAccountSoon();
    // Not known whether Instagram is connected only while the service could not say.
    else if (!m_instagramKnown && !m_instagramLoading && !m_usesWebWorkspace && m_session == SessionState::signedIn)
        loadInstagram();
    if (m_planUnsaved && !m_planSaverRunning)
        resendPlan();
    if (!m_pending.isEmpty())
        settlePending();
}

void AppModel::resendPlan()
{
    if (!m_planUnsaved || m_planRefused || m_planSaverRunning || m_session != SessionState::signedIn)
        return;
    m_planRetry.reset();
    [](AppModel *model) -> QCoro::Task<> { co_await model->savePlan(); }(this);
}

void AppModel::releasePlanSaveWaiters()
{
    for (auto &settled : std::exchange(m_planSaveWaiters, {}))
        settled();
}

// ---- What draft editors hold and the plan does not

void AppModel::keepDraftEdit(const KeptDraftEdit &edit)
{
    m_draftEditsTyped.insert(edit.draft.id);
    m_draftEdits.save(m_accountIdentity, edit);
}

void AppModel::forgetDraftEdit(const KeptDraftEdit &edit) { m_draftEdits.remove(m_accountIdentity, edit); }

void AppModel::forgetDraftEditsOf(const ZephylWire::PlanDraft &shown, int place)
{
    const qsizetype at = DraftPlace::find(m_planDrafts, shown, place);
    if (at < 0)
        return;
    for (const KeptDraftEdit &edit : m_draftEdits.load(m_accountIdentity)) {
        if (!edit.isNew && DraftPlace::find(m_planDrafts, edit.shown, edit.place) == at)
            m_draftEdits.remove(m_accountIdentity, edit);
    }
}

QList<KeptDraftEdit> AppModel::bringBackDraftEdits(PlanMerge::Merged &met)
{
    if (m_usesWebWorkspace)
        return {};
    QList<KeptDraftEdit> back;
    for (const KeptDraftEdit &edit : m_draftEdits.load(m_accountIdentity)) {
        // A new draft's work waits for the next new draft; one left open at a
        // session's end opens again with it; one typed in this run is its open
        // editor's, whose "Save draft" or "Cancel" decides.
        if (edit.isNew || edit.reopen || m_draftEditsTyped.contains(edit.draft.id) ||
            DraftPlace::find(met.drafts, edit.shown, edit.place) >= 0)
            continue;
        if (!edit.changesShown()) {
            forgetDraftEdit(edit); // nothing typed that its draft did not hold
            continue;
        }
        // Under its own id, which the service no longer uses: an editor opened
        // on it since still finds it.
        const ZephylWire::PlanDraft draft = edit.saved();
        met.drafts.append(draft);
        met.keptChanged.append(draft);
        back.append(edit);
    }
    return back;
}

std::optional<KeptDraftEdit> AppModel::keptDraftEdit(bool isNew, const ZephylWire::PlanDraft &draft, int place) const
{
    const qsizetype at = isNew ? -1 : DraftPlace::find(m_planDrafts, draft, place);
    for (const KeptDraftEdit &edit : m_draftEdits.load(m_accountIdentity)) {
        // A new draft the plan has taken since is not offered to the next new
        // one: saving that would replace it. A draft's is offered to the draft
        // it was typed for, wherever the plan holds it now among its twins.
        if (isNew ? edit.isNew && DraftPlace::indexOf(m_planDrafts, edit.draft.id, 0) < 0
                  : !edit.isNew && at >= 0 && DraftPlace::find(m_planDrafts, edit.shown, edit.place) == at)
            return edit;
    }
    return std::nullopt;
}

void AppModel::returnDraftEdit()
{
    if (m_usesWebWorkspace || m_session != SessionState::signedIn || m_returnedDraftEdit)
        return;
    for (const KeptDraftEdit &edit : m_draftEdits.load(m_accountIdentity)) {
        if (edit.reopen) {
            m_returnedDraftEdit = edit;
            setSurface(edit.surface);
            Q_EMIT draftEditReturned();
            return;
        }
    }
}

std::optional<KeptDraftEdit> AppModel::takeReturnedDraftEdit(Surface surface)
{
    if (!m_returnedDraftEdit || m_returnedDraftEdit->surface != surface)
        return std::nullopt;
    std::optional<KeptDraftEdit> edit = std::move(m_returnedDraftEdit);
    m_returnedDraftEdit.reset();
    // Reopened once; still kept, as every open editor's work is.
    edit->reopen = false;
    m_draftEdits.save(m_accountIdentity, *edit);
    return edit;
}
