#pragma once

#include "base/CancelToken.h"
#include "base/Clock.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cmath>
#include <functional>
#include <optional>

// Publications: the body that asks for one, the paths, and the wait for an outcome.
namespace Publications {

inline constexpr const char *collectionPath = "/api/instagram/publications";
inline constexpr const char *planDraftsPath = "/api/plan/drafts";
inline constexpr const char *notFoundCode = "publication_not_found";
inline constexpr std::chrono::seconds creationTimeout{90};

// "creating", "reconciling", "waiting", "publishing", "processing": compared exactly.
bool isInProgress(const QString &status);

// Whether an id can name one publication: not empty, and not "." or "..",
// which stay dot segments after escaping and would be folded into the path
// ("/api/instagram/publications/.." is "/api/instagram").
bool isUsableId(const QString &id);

// The path of one publication: the id percent-encoded as a single path segment,
// so an id holding "/", "?" or "#" can never name another resource. An id that
// is not usable throws ServiceNetworkError badURL, and nothing is sent.
QString path(const QString &id);

// A time as the service takes it: UTC, whole seconds, "Z".
QString internetDateTime(const QDateTime &time);

// The body that asks the service to publish, schedule or keep a post as a draft.
struct PublicationRequest {
    bool confirm = true;
    QString format; // "reel", "story", "feed" or "carousel"
    QString caption;
    QStringList mediaIds;
    QString scheduledAt;
    bool shareToFeed = true;
    bool trialEnabled = false;
    QString trialGraduation;
    std::optional<QString> coverMediaId;
    std::optional<qint64> thumbOffsetMs;
    QStringList collaborators;
    QString audioName;
    bool isAiGenerated = false;
    bool isDraft = false;

    QJsonObject toJson() const;
};

// Re-reads a publication while the service reports it in progress: the status
// is tested first (a final one returns at once, with no request and no wait);
// then each of up to `maximumAttempts` attempts sleeps `delaySeconds` and reads
// again. A failed read keeps the publication in hand and uses up its attempt.
// Cancellation ends the wait with the publication in hand. Never throws.
template <typename Publication>
QCoro::Task<Publication> waitFor(Publication current, int maximumAttempts, double delaySeconds,
                                 std::function<QCoro::Task<Publication>(QString)> read, Clock &clock,
                                 CancelToken cancel = {})
{
    // A delay the clock cannot represent is a caller error; clamp rather than hang.
    double seconds = std::isfinite(delaySeconds) ? std::max(0.0, delaySeconds) : 0.0;
    seconds = std::min(seconds, 86'400.0 * 365);
    const auto delay = std::chrono::milliseconds(std::llround(seconds * 1000.0));
    for (int attempt = 0; attempt < maximumAttempts; ++attempt) {
        if (!isInProgress(current.status))
            break;
        if (cancel.isCancelled())
            break;
        co_await clock.sleep(delay);
        if (cancel.isCancelled())
            break;
        try {
            current = co_await read(current.id);
        } catch (...) {
            // The attempt is used up; the publication in hand stays current.
        }
    }
    co_return current;
}

} // namespace Publications
