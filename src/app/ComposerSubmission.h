#pragma once

#include "app/PublishFormat.h"
#include "services/media/ImportedMedia.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the composer hands to publishing. The idempotency key was made when the
// composer opened, so a retry of the same post sends the same key.
struct ComposerSubmission {
    PublishFormat format = PublishFormat::feed;
    QString caption;
    QString hashtags; // as typed
    QList<ImportedMedia> media;
    std::optional<ImportedMedia> cover;
    std::optional<QDateTime> scheduledAt; // absent: publish now
    bool shareToFeed = true;
    bool trialEnabled = false;
    QString trialGraduation;
    QStringList collaborators;
    QString audioName;
    bool isAIGenerated = false;
    bool saveAsDraft = false;
    QString idempotencyKey;

    friend bool operator==(const ComposerSubmission &, const ComposerSubmission &) = default;
};
