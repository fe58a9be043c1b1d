#include "app/ComposerActions.h"

#include "app/AppModel.h"
#include "app/ComposerState.h"
#include "app/ServiceClient.h"
#include "design/L10n.h"
#include "services/ops/Publications.h"

#include <QCoro/QCoroSignal>
#include <QPointer>

namespace ComposerActions {

namespace {

// What every action checks after a wait: the model and the sheet's post are still there.
struct Alive {
    QPointer<AppModel> model;
    QPointer<ComposerState> state;
    explicit operator bool() const { return model && state; }
};

// The post as it stands once its imports have ended, or none when a rule fails.
QCoro::Task<bool> readyToSend(ComposerState &state, Alive alive)
{
    co_await state.importsSettled();
    if (!alive)
        co_return false;
    // The footer enabled the button for the post as it was; the rules are read again
    // for the post as it is now (a clock that moved on, an import that landed).
    co_return !state.validationMessage().has_value();
}

QCoro::Task<> send(AppModel &model, ComposerState &state, bool saveAsDraft)
{
    // One at a time: a second press while the first waits for an import would
    // send the post twice. Nor while it is being saved to the plan: it would be
    // both planned and sent.
    if (state.sending() || state.savingToPlan())
        co_return;
    const Alive alive{&model, &state};
    state.setSending(true);
    const bool ready = co_await readyToSend(state, alive);
    if (!alive)
        co_return;
    if (!ready || (!saveAsDraft && !model.instagramConnected())) {
        state.setSending(false); // back to the editor, which says what stands in the way
        co_return;
    }
    ComposerSubmission submission = state.submission(saveAsDraft);
    // The same post sent before, the service not known to have made it or not,
    // goes under that sending's key: the service answers with the first.
    if (const auto key = model.pendingKeyFor(submission)) {
        state.adoptKey(*key, saveAsDraft);
    } else if (const auto spent = state.spentKeyFor(saveAsDraft)) {
        // The version that went out, as it went: answered with what was made of it.
        state.adoptKey(*spent, saveAsDraft);
    } else if (state.changedSinceSent(saveAsDraft)) {
        // Changed since it went, its outcome not known: what became of that
        // version is asked first. Out, or still not known, the user is told,
        // and the changes wait: both versions would go out.
        const QString sentKey = saveAsDraft ? state.draftIdempotencyKey() : state.idempotencyKey();
        const std::optional<PublishOutcome> before = co_await model.askAboutPending(sentKey);
        if (!alive)
            co_return;
        if (before && before->kind != PublishOutcome::Kind::failed) {
            state.setSending(false);
            state.settled(*before, saveAsDraft);
            co_return;
        }
        // Under that key the service would answer with what it made of the
        // version sent before.
        state.adoptKey(ComposerState::newKey(), saveAsDraft);
    }
    submission.idempotencyKey = saveAsDraft ? state.draftIdempotencyKey() : state.idempotencyKey();
    state.noteSent(submission);
    const PublishOutcome outcome = co_await model.publish(submission);
    if (!alive)
        co_return;
    state.setSending(false);
    state.setOutcome(outcome);
}

} // namespace

Footer footer(const AppModel &model, const ComposerState &state)
{
    // A confirmed post still waiting for an import is as good as being handed over.
    const bool publishing = model.publishing().has_value() || state.sending();
    const bool valid = !state.validationMessage().has_value();
    Footer f;
    // Closing would end the post's state, and with it a send under way; a save
    // to the plan goes on without the sheet.
    f.close = !publishing;
    // The plan takes any post with words or a picture, but not while the same
    // post is being handed to Instagram: it would be sent once and planned again.
    f.saveToPlan = !state.savingToPlan() && !(state.caption().isEmpty() && state.media().isEmpty()) && !publishing;
    // Nor is it handed over while it is being saved to the plan.
    f.saveDraft = valid && !publishing && !state.savingToPlan();
    f.publish = valid && !publishing && !state.savingToPlan() && model.instagramConnected();
    return f;
}

QCoro::Task<> confirm(AppModel &model, ComposerState &state)
{
    state.setConfirming(false);
    co_await send(model, state, false);
}

QCoro::Task<> saveDraft(AppModel &model, ComposerState &state) { co_await send(model, state, true); }

void followPlan(AppModel &model, ComposerState &state)
{
    const auto saying = [&state] { return state.planUnsavedLine && state.importProblem() == state.planUnsavedLine; };
    // Said by the retry before it wrote; the notice that says it is under the sheet.
    QObject::connect(&model, &AppModel::planConflictsSaid, &state, [&state, saying](const QString &said) {
        if (saying())
            state.planConflictsSaid = said;
    });
    QObject::connect(&model, &AppModel::planUnsavedChanged, &state, [&model, &state, saying] {
        if (model.planUnsaved() || !saying())
            return;
        state.planUnsavedLine.reset();
        state.setImportProblem(std::exchange(state.planConflictsSaid, std::nullopt));
    });
}

QString planTitle(const QString &caption)
{
    const QStringList lines = caption.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return {};
    const QString &first = lines.first();
    qsizetype from = 0;
    qsizetype to = first.size();
    auto horizontal = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (from < to && horizontal(first.at(from)))
        ++from;
    while (to > from && horizontal(first.at(to - 1)))
        --to;
    return first.mid(from, to - from);
}

QCoro::Task<bool> saveToPlan(AppModel &model, ComposerState &state)
{
    if (state.savingToPlan() || model.publishing() || state.sending())
        co_return false;
    const Alive alive{&model, &state};
    state.setSavingToPlan(true);
    co_await state.importsSettled();
    if (!alive)
        co_return false;

    const QList<ImportedMedia> media = state.media();
    std::optional<QString> mediaId;
    std::optional<QString> posterId;
    std::exception_ptr failure;
    if (!media.isEmpty()) {
        const ImportedMedia first = media.first();
        try {
            const MediaUpload::MediaSource source = first.data.source();
            const QString id = co_await model.api().uploadInstagramMedia(source, first.contentType, first.fileName);
            if (!alive)
                co_return false;
            mediaId = id;
            if (first.kind == ImportedMedia::Kind::video) {
                const std::optional<QString> poster = co_await model.uploadPoster(first);
                if (!alive)
                    co_return false;
                posterId = poster;
            }
        } catch (...) {
            failure = std::current_exception();
        }
        if (!alive)
            co_return false;
        if (failure) {
            state.setImportProblem(AppModel::describe(failure));
            state.setSavingToPlan(false);
            // A session the service ended ends here as everywhere; the sheet and its caption stay.
            if (AppModel::isSessionFailure(failure))
                model.expireSession();
            co_return false;
        }
    }

    ZephylWire::PlanDraft draft;
    // A retry after a failed save replaces its own earlier draft rather than adding another.
    draft.id = state.planDraftID.value_or(model.nextDraftID());
    state.planDraftID = draft.id;
    draft.title = planTitle(state.caption());
    draft.caption = state.caption();
    draft.hashtags = state.hashtags();
    draft.format = PublishFormats::planValue(state.format());
    draft.scheduledAt = state.scheduleLater() ? Publications::internetDateTime(state.scheduledAt()) : QString();
    draft.mediaId = mediaId;
    draft.posterMediaId = posterId;
    QList<ZephylWire::PlanDraft> drafts = model.planDrafts();
    const auto it = std::find_if(drafts.begin(), drafts.end(), [&](const auto &d) { return d.id == draft.id; });
    if (it != drafts.end()) {
        // Only what the post holds: its place and visibility in the grid, and
        // what other clients wrote on it meanwhile (in the form they wrote it,
        // where it still reads the same), stay with it.
        ZephylWire::PlanDraft kept = *it;
        if (kept.mediaId != draft.mediaId || kept.posterMediaId != draft.posterMediaId)
            kept.preview.reset(); // the service's picture of other media
        kept.title = draft.title;
        kept.caption = draft.caption;
        kept.hashtags = draft.hashtags;
        kept.format = draft.format;
        kept.scheduledAt = draft.scheduledAt;
        kept.mediaId = draft.mediaId;
        kept.posterMediaId = draft.posterMediaId;
        *it = kept;
    } else {
        drafts.append(draft);
    }
    model.setPlanDrafts(std::move(drafts));

    co_await model.savePlan();
    // A save already under way carries this list too; its end is what tells.
    while (alive && model.planSaving())
        co_await qCoro(&model, &AppModel::planSavingChanged);
    if (!alive)
        co_return false;
    const bool saved = model.session() == SessionState::signedIn && !model.planUnsaved();
    state.setSavingToPlan(false);
    if (!saved) {
        // The model has said why in its notice; the post stays here to try again.
        state.planUnsavedLine = model.planUnsavedText();
        state.setImportProblem(state.planUnsavedLine);
        co_return false;
    }
    model.setNotice(AppNotice::make(L10n::t("Saved to the plan."), AppNotice::Tone::settled));
    Q_EMIT state.savedToPlan();
    // Closed by the user meanwhile: a composer opened since is another post's.
    // A post being confirmed, sent or shown with its outcome keeps the sheet:
    // closing it would hide how the publication went.
    const bool goingOut = state.confirming() || state.sending() || model.publishing() || state.outcome();
    if (!state.sheetClosed && !goingOut)
        model.setComposerPresented(false);
    co_return true;
}

} // namespace ComposerActions
