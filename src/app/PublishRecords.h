#pragma once

#include "app/PublishFormat.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class RecordStore;
struct ComposerSubmission;

// A publication asked for whose fate is not known: its creation went out and
// neither its answer nor a look-up by its key has said whether the service
// made it. Kept (across a kill too) until the service says, so that the same
// post sent again goes under the same key and the service answers with the
// first rather than making a second.
struct PendingPublication {
    QString key;
    // Which post it is (postOf).
    QString post;
    // A draft on the service rather than a publication.
    bool draft = false;
    // Its words alone (wordsOf): what a composer that lost its files through
    // a kill still holds of it. Empty in a record kept before words were.
    QString words;

    // The same post, as far as the service is concerned: one format, the same
    // published text, the same kind of request (draft or not), and the same
    // files in the same order, known by their names, sizes in pixels and
    // previews (a file picked again is imported into the same ones; its bytes
    // are not read again for this, a video may be hundreds of megabytes). The time it is
    // for and the other options are not part of it: a post sent again for
    // another moment is still the one that may be out already. A digest, so
    // that no words of the post stay here once the account has signed out.
    static QString postOf(const ComposerSubmission &submission);
    // The same words: one format, the same published text, the same kind of
    // request; a digest too.
    static QString wordsOf(PublishFormat format, const QString &caption, const QString &hashtags, bool draft);
    static QString wordsOf(const ComposerSubmission &submission);
    friend bool operator==(const PendingPublication &, const PendingPublication &) = default;
};

// What an open composer holds of its post, but for the media (they live only
// as long as the files they were read from are open): kept for the account
// that typed it from the moment it holds words until it is published, saved
// to the plan or put away by the user, so that a kill loses none of it; the
// next start opens the composer with it again.
struct KeptComposerPost {
    PublishFormat format = PublishFormat::feed;
    QString caption;
    QString hashtags;
    // The keys it goes out under: sent before a kill, it is the same post to
    // the service after it, and the service answers with what it made of it.
    QString idempotencyKey;
    QString draftIdempotencyKey;
    // The plan draft an earlier save to the plan made, so a retry replaces it.
    std::optional<qint64> planDraftID;
    // A key that went out with a version sent before the post was changed:
    // that version, sent again, goes under it, and the service answers with
    // what it made rather than making it twice.
    std::optional<PendingPublication> spent;

    // Words are what a kill could lose; a composer without any is not kept.
    bool worthKeeping() const { return !caption.isEmpty() || !hashtags.isEmpty(); }
    friend bool operator==(const KeptComposerPost &, const KeptComposerPost &) = default;
};

class KeptComposerStore {
public:
    static constexpr const char *kRecordName = "composer";

    explicit KeptComposerStore(RecordStore &records);
    // Replaces the owner's post; nothing for an empty owner. False when it
    // could not be written (the store keeps it and tries again).
    bool save(const QString &owner, const KeptComposerPost &post);
    // None when there is none or it cannot be read whole.
    std::optional<KeptComposerPost> load(const QString &owner) const;
    void remove(const QString &owner);

    static QByteArray encode(const QString &owner, const KeptComposerPost &post);
    // Never throws: what cannot be read is none, said in the log only.
    static std::optional<KeptComposerPost> decode(const QByteArray &bytes, const QString &owner);

private:
    RecordStore *m_records;
};

class PendingPublicationStore {
public:
    static constexpr const char *kRecordName = "pending-publications";
    // A key never answered for stays this long a list: the oldest go first.
    static constexpr qsizetype kKept = 20;

    explicit PendingPublicationStore(RecordStore &records);
    // Replaces the owner's list (removes it when empty); nothing for an empty owner.
    bool save(const QString &owner, QList<PendingPublication> pending);
    QList<PendingPublication> load(const QString &owner) const;

    static QByteArray encode(const QString &owner, const QList<PendingPublication> &pending);
    static std::optional<QList<PendingPublication>> decode(const QByteArray &bytes, const QString &owner);

private:
    RecordStore *m_records;
};
