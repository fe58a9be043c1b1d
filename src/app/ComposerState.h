#pragma once

#include "app/AppValues.h"
#include "app/ComposerSubmission.h"
#include "app/PublishFormat.h"
#include "app/PublishRecords.h"
#include "services/media/ImportedMedia.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class Clock;

// The state of one open publication composer: what the user chose for one post,
// the flags the composer's screens show, and the keys that identify the post to
// the service. Main thread only. What the composer's sheet keeps of it through
// a kill is keptPost(). Every setter emits changed() when the value differs.
class ComposerState final : public QObject {
    Q_OBJECT

public:
    // Imports one file; throws MediaImportError (or another error) on failure.
    using ImportFile = std::function<QCoro::Task<ImportedMedia>(QUrl)>;

    // The bounds the validation enforces, and the counters show.
    static constexpr qsizetype kCaptionLimit = 2200;
    static constexpr qsizetype kHashtagLimit = 30;
    static constexpr qsizetype kCollaboratorLimit = 3;
    static constexpr qsizetype kAudioNameLimit = 100;
    static constexpr double kStoryLimitSeconds = 60.0;
    static constexpr qint64 kScheduleLeadSeconds = 300;

    // `clock` is read for the schedule's default and rule; it must outlive the state.
    ComposerState(Clock &clock, ImportFile importFile, QObject *parent = nullptr);

    PublishFormat format() const { return m_format; }
    void setFormat(PublishFormat value);
    const QList<ImportedMedia> &media() const { return m_media; }
    void setMedia(QList<ImportedMedia> value);
    const std::optional<ImportedMedia> &cover() const { return m_cover; }
    void setCover(std::optional<ImportedMedia> value);
    const QString &caption() const { return m_caption; }
    void setCaption(QString value);
    const QString &hashtags() const { return m_hashtags; }
    void setHashtags(QString value);
    bool scheduleLater() const { return m_scheduleLater; }
    void setScheduleLater(bool value);
    const QDateTime &scheduledAt() const { return m_scheduledAt; }
    void setScheduledAt(QDateTime value);
    bool shareToFeed() const { return m_shareToFeed; }
    void setShareToFeed(bool value);
    bool trialEnabled() const { return m_trialEnabled; }
    void setTrialEnabled(bool value);
    // "MANUAL" or "SS_PERFORMANCE".
    const QString &trialGraduation() const { return m_trialGraduation; }
    void setTrialGraduation(QString value);
    const QString &collaboratorsText() const { return m_collaboratorsText; }
    void setCollaboratorsText(QString value);
    const QString &audioName() const { return m_audioName; }
    void setAudioName(QString value);
    bool isAIGenerated() const { return m_isAIGenerated; }
    void setIsAIGenerated(bool value);
    bool moreOptions() const { return m_moreOptions; }
    void setMoreOptions(bool value);
    // A batch of files is being imported (any of several batches).
    bool importing() const { return m_runningBatches > 0; }
    const std::optional<QString> &importProblem() const { return m_importProblem; }
    void setImportProblem(std::optional<QString> value);
    bool confirming() const { return m_confirming; }
    void setConfirming(bool value);
    const std::optional<PublishOutcome> &outcome() const { return m_outcome; }
    void setOutcome(std::optional<PublishOutcome> value);
    bool dropTargeted() const { return m_dropTargeted; }
    void setDropTargeted(bool value);
    bool savingToPlan() const { return m_savingToPlan; }
    void setSavingToPlan(bool value);
    // A confirmed publish or a server draft is on its way, from the press until
    // its outcome (it may first wait for imports before the model publishes).
    bool sending() const { return m_sending; }
    void setSending(bool value);

    // The key a publication of this post is sent under.
    const QString &idempotencyKey() const { return m_idempotencyKey; }
    // The key a server draft of this post is sent under: a draft is a publication
    // of its own on the service, so it must never answer for the real one.
    const QString &draftIdempotencyKey() const { return m_draftIdempotencyKey; }
    bool appliedPrefill() const { return m_appliedPrefill; }
    // The plan draft an earlier save to the plan made, so a retry replaces it.
    std::optional<qint64> planDraftID;
    // The sheet showing this post has closed; a save to the plan under way
    // finishes without it.
    bool sheetClosed = false;
    // The line a save to the plan that did not go through left under the
    // media, and what the plan's retry said meanwhile of another device's
    // changes (ComposerActions::followPlan).
    std::optional<QString> planUnsavedLine;
    std::optional<QString> planConflictsSaid;

    // Imports still running, files and covers alike.
    int runningImports() const { return m_runningImports; }
    // Resumes once no import runs (at once when none does).
    QCoro::Task<> importsSettled();

    // Fills the composer from a prefill, once per instance.
    void apply(const ComposerPrefill &prefill);
    // The collaborators' names as typed: split at ",", space and line feed, each
    // trimmed, one leading "@" removed, empty ones dropped, order and repeats kept.
    QStringList collaborators() const;
    // The first rule the post breaks, translated; none when it can go out.
    std::optional<QString> validationMessage() const;
    // Imports each file in turn into the media; failures go to importProblem.
    QCoro::Task<> addFiles(QList<QUrl> urls);
    // Imports a picture as the cover; a video is refused.
    QCoro::Task<> addCover(QUrl url);
    // Swaps the item with its neighbour `offset` away; nothing at the ends.
    void move(const ImportedMedia &item, int offset);
    // Takes every item with this item's id out of the media.
    void remove(const ImportedMedia &item);
    ComposerSubmission submission(bool saveAsDraft) const;
    // A new post in the same composer: new keys, no media, cover, text or schedule.
    void prepareAnother();
    // What is kept of the post through a kill: its words, format and keys.
    KeptComposerPost keptPost() const;
    // Fills the composer with a kept post, in place of a prefill.
    void restore(const KeptComposerPost &post);
    // Sends the post (or its server draft) under this key from now on; what
    // went under the former key is no longer this key's.
    void adoptKey(const QString &key, bool draft);

    // What went to the service under the current publication (or draft) key:
    // the post and its words as PendingPublication digests them, and its text
    // as published (empty when only the digests are known: a post kept
    // through a kill learns them from the record of the key).
    struct Sent {
        QString post;
        QString words;
        QString caption;
    };
    const std::optional<Sent> &sent(bool draft) const { return draft ? m_sentDraft : m_sentPost; }
    void noteSent(const ComposerSubmission &submission);
    void noteSent(const PendingPublication &pending);
    // The post was changed since it went under its key: its words, or its
    // files while it has any (a post kept through a kill has lost them).
    // Under that key the service would answer it with what it made of the first.
    bool changedSinceSent(bool draft) const;
    // What went out under the key is a version sent before the post was
    // changed: its outcome is shown with the text it went out with, and the
    // post as changed stays as typed, to go under a key of its own.
    void earlierVersionSettled(PublishOutcome outcome, bool draft);
    // What became of the post sent under its publication (or draft) key, told
    // once the service said: as that of an earlier version when it went out
    // and the post was changed since.
    void settled(const PublishOutcome &outcome, bool draft);
    // While that outcome shows: the text of the version that went out (empty
    // when not known).
    const std::optional<QString> &earlierVersion() const { return m_earlierVersion; }
    // The key that version went out under, while the post is that version
    // again: sent so, the service answers with what it made of it rather
    // than making it twice.
    std::optional<QString> spentKeyFor(bool draft) const;

    // Characters as the user sees them: the caption as it will be published,
    // hashtags included; and the number of distinct hashtags.
    qsizetype captionLength() const;
    qsizetype hashtagCount() const;

    static QString newKey();

Q_SIGNALS:
    void changed();
    // No import runs any more.
    void importsIdle();
    // The post went into the plan.
    void savedToPlan();

private:
    template <typename T>
    void assign(T &field, T value);
    void importStarted(bool batch);
    void importEnded(bool batch);

    Clock &m_clock;
    ImportFile m_importFile;

    PublishFormat m_format = PublishFormat::feed;
    QList<ImportedMedia> m_media;
    std::optional<ImportedMedia> m_cover;
    QString m_caption;
    QString m_hashtags;
    bool m_scheduleLater = false;
    QDateTime m_scheduledAt;
    bool m_shareToFeed = true;
    bool m_trialEnabled = false;
    QString m_trialGraduation = QStringLiteral("MANUAL");
    QString m_collaboratorsText;
    QString m_audioName;
    bool m_isAIGenerated = false;
    bool m_moreOptions = false;
    std::optional<QString> m_importProblem;
    bool m_confirming = false;
    std::optional<PublishOutcome> m_outcome;
    bool m_dropTargeted = false;
    bool m_savingToPlan = false;
    bool m_sending = false;
    QString m_idempotencyKey;
    QString m_draftIdempotencyKey;
    std::optional<Sent> m_sentPost;
    std::optional<Sent> m_sentDraft;
    std::optional<QString> m_earlierVersion;
    std::optional<PendingPublication> m_spent;
    bool m_appliedPrefill = false;
    int m_runningBatches = 0;
    int m_runningImports = 0;
};
