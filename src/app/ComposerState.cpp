#include "app/ComposerState.h"

#include "app/AppModel.h"
#include "app/CaptionComposer.h"
#include "base/Clock.h"
#include "design/L10n.h"
#include "services/Json.h"

#include <QCoro/QCoroSignal>
#include <QPointer>
#include <QUuid>

#include <algorithm>

ComposerState::ComposerState(Clock &clock, ImportFile importFile, QObject *parent)
    : QObject(parent), m_clock(clock), m_importFile(std::move(importFile)),
      m_scheduledAt(clock.now().addSecs(3600)), m_idempotencyKey(newKey()), m_draftIdempotencyKey(newKey())
{
}

QString ComposerState::newKey() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

template <typename T>
void ComposerState::assign(T &field, T value)
{
    if (field == value)
        return;
    field = std::move(value);
    Q_EMIT changed();
}

void ComposerState::setFormat(PublishFormat value) { assign(m_format, value); }
void ComposerState::setCover(std::optional<ImportedMedia> value) { assign(m_cover, std::move(value)); }
void ComposerState::setCaption(QString value) { assign(m_caption, std::move(value)); }
void ComposerState::setHashtags(QString value) { assign(m_hashtags, std::move(value)); }
void ComposerState::setScheduleLater(bool value) { assign(m_scheduleLater, value); }
void ComposerState::setScheduledAt(QDateTime value) { assign(m_scheduledAt, std::move(value)); }
void ComposerState::setShareToFeed(bool value) { assign(m_shareToFeed, value); }
void ComposerState::setTrialEnabled(bool value) { assign(m_trialEnabled, value); }
void ComposerState::setTrialGraduation(QString value) { assign(m_trialGraduation, std::move(value)); }
void ComposerState::setCollaboratorsText(QString value) { assign(m_collaboratorsText, std::move(value)); }
void ComposerState::setAudioName(QString value) { assign(m_audioName, std::move(value)); }
void ComposerState::setIsAIGenerated(bool value) { assign(m_isAIGenerated, value); }
void ComposerState::setMoreOptions(bool value) { assign(m_moreOptions, value); }
void ComposerState::setImportProblem(std::optional<QString> value) { assign(m_importProblem, std::move(value)); }
void ComposerState::setConfirming(bool value) { assign(m_confirming, value); }
void ComposerState::setOutcome(std::optional<PublishOutcome> value)
{
    // Another outcome, or none, is no longer that of an earlier version.
    const bool wasEarlier = m_earlierVersion.has_value();
    m_earlierVersion.reset();
    if (m_outcome == value) {
        if (wasEarlier)
            Q_EMIT changed();
        return;
    }
    m_outcome = std::move(value);
    Q_EMIT changed();
}
void ComposerState::setDropTargeted(bool value) { assign(m_dropTargeted, value); }
void ComposerState::setSavingToPlan(bool value) { assign(m_savingToPlan, value); }
void ComposerState::setSending(bool value) { assign(m_sending, value); }

void ComposerState::setMedia(QList<ImportedMedia> value)
{
    // Items compare by id alone, so a list of the same ids in the same order is no change.
    assign(m_media, std::move(value));
}

void ComposerState::apply(const ComposerPrefill &prefill)
{
    if (m_appliedPrefill)
        return;
    m_appliedPrefill = true;
    if (prefill.format)
        setFormat(*prefill.format);
    setCaption(prefill.caption.isEmpty() ? prefill.title : prefill.caption);
    setHashtags(prefill.hashtags);
}

QStringList ComposerState::collaborators() const
{
    QStringList names;
    QString piece;
    auto flush = [&] {
        qsizetype from = 0;
        qsizetype to = piece.size();
        while (from < to && (piece.at(from) == QLatin1Char(' ') || piece.at(from) == QLatin1Char('\t')))
            ++from;
        while (to > from && (piece.at(to - 1) == QLatin1Char(' ') || piece.at(to - 1) == QLatin1Char('\t')))
            --to;
        QString name = piece.mid(from, to - from);
        piece.clear();
        if (name.startsWith(QLatin1Char('@')))
            name.remove(0, 1);
        if (!name.isEmpty())
            names.append(name);
    };
    for (const QChar c : m_collaboratorsText) {
        if (c == QLatin1Char(',') || c == QLatin1Char(' ') || c == QLatin1Char('\n'))
            flush();
        else
            piece.append(c);
    }
    flush();
    return names;
}

qsizetype ComposerState::captionLength() const
{
    return Text::graphemeCount(CaptionComposer::caption(m_caption, m_hashtags));
}

qsizetype ComposerState::hashtagCount() const { return CaptionComposer::tags(m_hashtags).size(); }

std::optional<QString> ComposerState::validationMessage() const
{
    const qsizetype count = m_media.size();
    if (count == 0)
        return L10n::t("Add a picture or a video.");
    if (m_format == PublishFormat::carousel) {
        if (count < 2 || count > 10)
            return L10n::t("A carousel takes two to ten items.");
    } else if (count != 1) {
        return L10n::t("This format takes exactly one item.");
    }
    const ImportedMedia &first = m_media.first();
    if (m_format == PublishFormat::reel && first.kind != ImportedMedia::Kind::video)
        return L10n::t("A Reel needs a video.");
    if (m_format == PublishFormat::story && first.duration && *first.duration > kStoryLimitSeconds)
        return L10n::t("A Story video must be a minute or shorter.");
    if (captionLength() > kCaptionLimit)
        return L10n::t("The caption is over 2,200 characters.");
    if (hashtagCount() > kHashtagLimit)
        return L10n::t("Instagram allows up to 30 hashtags.");
    if (m_format != PublishFormat::story && collaborators().size() > kCollaboratorLimit)
        return L10n::t("Up to three collaborators.");
    // For every format, though only a reel shows the field and sends the name.
    if (Text::graphemeCount(m_audioName) > kAudioNameLimit)
        return L10n::t("The audio name is over 100 characters.");
    if (m_scheduleLater && m_scheduledAt < m_clock.now().addSecs(kScheduleLeadSeconds))
        return L10n::t("Choose a time at least five minutes from now.");
    return std::nullopt;
}

void ComposerState::importStarted(bool batch)
{
    const bool wasImporting = importing();
    ++m_runningImports;
    if (batch)
        ++m_runningBatches;
    if (importing() != wasImporting)
        Q_EMIT changed();
}

void ComposerState::importEnded(bool batch)
{
    const bool wasImporting = importing();
    --m_runningImports;
    if (batch)
        --m_runningBatches;
    if (importing() != wasImporting)
        Q_EMIT changed();
    if (m_runningImports == 0)
        Q_EMIT importsIdle();
}

QCoro::Task<> ComposerState::importsSettled()
{
    QPointer<ComposerState> self(this);
    while (self && m_runningImports > 0)
        co_await qCoro(this, &ComposerState::importsIdle);
}

namespace {
QString problemOf(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const MediaImportError &e) {
        return e.errorDescription();
    } catch (...) {
        return AppModel::describe(error);
    }
}
} // namespace

QCoro::Task<> ComposerState::addFiles(QList<QUrl> urls)
{
    if (urls.isEmpty())
        co_return;
    QPointer<ComposerState> self(this);
    // Counted, not a flag: a second batch that ends first must not say importing is over.
    importStarted(true);
    setImportProblem(std::nullopt);
    for (const QUrl &url : urls) {
        std::optional<ImportedMedia> item;
        std::exception_ptr failure;
        try {
            item = co_await m_importFile(url);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return; // the sheet closed; its post went with it
        if (failure) {
            setImportProblem(problemOf(failure));
            continue;
        }
        if (m_format == PublishFormat::carousel) {
            QList<ImportedMedia> next = m_media;
            next.append(*item);
            setMedia(std::move(next));
        } else {
            setMedia({*item});
        }
        if (item->kind == ImportedMedia::Kind::video && m_format == PublishFormat::feed)
            setFormat(PublishFormat::reel);
    }
    importEnded(true);
}

QCoro::Task<> ComposerState::addCover(QUrl url)
{
    QPointer<ComposerState> self(this);
    importStarted(false);
    std::optional<ImportedMedia> item;
    std::exception_ptr failure;
    try {
        item = co_await m_importFile(url);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure)
        setImportProblem(problemOf(failure));
    else if (item->kind == ImportedMedia::Kind::video)
        setImportProblem(L10n::t("A cover is a picture."));
    else
        setCover(std::move(item));
    importEnded(false);
}

void ComposerState::move(const ImportedMedia &item, int offset)
{
    const auto it = std::find_if(m_media.cbegin(), m_media.cend(), [&](const auto &m) { return m.id == item.id; });
    if (it == m_media.cend())
        return;
    const qsizetype from = it - m_media.cbegin();
    const qsizetype to = from + offset;
    if (to < 0 || to >= m_media.size())
        return;
    QList<ImportedMedia> next = m_media;
    next.swapItemsAt(from, to);
    // Equal ids in another order are a change, which the list's own comparison sees.
    assign(m_media, std::move(next));
}

void ComposerState::remove(const ImportedMedia &item)
{
    QList<ImportedMedia> next = m_media;
    next.removeIf([&](const ImportedMedia &m) { return m.id == item.id; });
    setMedia(std::move(next));
}

ComposerSubmission ComposerState::submission(bool saveAsDraft) const
{
    const bool reel = m_format == PublishFormat::reel;
    ComposerSubmission s;
    s.format = m_format;
    s.caption = m_caption;
    s.hashtags = m_hashtags;
    s.media = m_media;
    s.cover = reel ? m_cover : std::nullopt;
    s.scheduledAt = m_scheduleLater ? std::optional<QDateTime>(m_scheduledAt) : std::nullopt;
    s.shareToFeed = reel ? m_shareToFeed : true;
    s.trialEnabled = reel && m_trialEnabled;
    s.trialGraduation = m_trialGraduation;
    if (m_format != PublishFormat::story)
        s.collaborators = collaborators().mid(0, kCollaboratorLimit);
    s.audioName = reel ? m_audioName : QString();
    s.isAIGenerated = m_isAIGenerated;
    s.saveAsDraft = saveAsDraft;
    s.idempotencyKey = saveAsDraft ? m_draftIdempotencyKey : m_idempotencyKey;
    return s;
}

void ComposerState::prepareAnother()
{
    m_idempotencyKey = newKey();
    m_draftIdempotencyKey = newKey();
    m_sentPost.reset();
    m_sentDraft.reset();
    m_spent.reset();
    planDraftID.reset();
    setMedia({});
    setCover(std::nullopt);
    setCaption(QString());
    setHashtags(QString());
    setScheduleLater(false);
    setOutcome(std::nullopt);
    setImportProblem(std::nullopt);
}

KeptComposerPost ComposerState::keptPost() const
{
    return {m_format, m_caption, m_hashtags, m_idempotencyKey, m_draftIdempotencyKey, planDraftID, m_spent};
}

void ComposerState::restore(const KeptComposerPost &post)
{
    m_appliedPrefill = true;
    m_idempotencyKey = post.idempotencyKey;
    m_draftIdempotencyKey = post.draftIdempotencyKey;
    planDraftID = post.planDraftID;
    m_spent = post.spent;
    setFormat(post.format);
    setCaption(post.caption);
    setHashtags(post.hashtags);
}

void ComposerState::adoptKey(const QString &key, bool draft)
{
    QString &held = draft ? m_draftIdempotencyKey : m_idempotencyKey;
    if (held == key)
        return;
    held = key;
    (draft ? m_sentDraft : m_sentPost).reset();
    Q_EMIT changed();
}

void ComposerState::noteSent(const ComposerSubmission &submission)
{
    (submission.saveAsDraft ? m_sentDraft : m_sentPost) =
        Sent{PendingPublication::postOf(submission), PendingPublication::wordsOf(submission),
             CaptionComposer::caption(submission.caption, submission.hashtags)};
}

void ComposerState::noteSent(const PendingPublication &pending)
{
    (pending.draft ? m_sentDraft : m_sentPost) = Sent{pending.post, pending.words, QString()};
}

bool ComposerState::changedSinceSent(bool draft) const
{
    const std::optional<Sent> &sent = this->sent(draft);
    if (!sent)
        return false;
    const ComposerSubmission now = submission(draft);
    if (m_media.isEmpty())
        return !sent->words.isEmpty() && PendingPublication::wordsOf(now) != sent->words;
    return PendingPublication::postOf(now) != sent->post;
}

void ComposerState::earlierVersionSettled(PublishOutcome outcome, bool draft)
{
    // The service's own copy of what it made says best what went out.
    QString words = outcome.publication ? outcome.publication->caption.value_or(QString()) : QString();
    if (words.isEmpty() && sent(draft))
        words = sent(draft)->caption;
    // That key is spent: the post as changed goes out, if it is sent, as a post
    // of its own; that version, if it is sent again, under it.
    QString &key = draft ? m_draftIdempotencyKey : m_idempotencyKey;
    if (sent(draft))
        m_spent = PendingPublication{key, sent(draft)->post, draft, sent(draft)->words};
    key = newKey();
    (draft ? m_sentDraft : m_sentPost).reset();
    m_outcome = std::move(outcome);
    m_earlierVersion = words;
    Q_EMIT changed();
}

void ComposerState::settled(const PublishOutcome &outcome, bool draft)
{
    if (outcome.wentOut() && changedSinceSent(draft))
        earlierVersionSettled(outcome, draft);
    else
        setOutcome(outcome);
}

std::optional<QString> ComposerState::spentKeyFor(bool draft) const
{
    if (!m_spent || m_spent->draft != draft || PendingPublication::postOf(submission(draft)) != m_spent->post)
        return std::nullopt;
    return m_spent->key;
}
