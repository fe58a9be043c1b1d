// Publications (creation with an idempotency key, reading, waiting) and the plan's drafts.

#include "services/ZephylAPI_p.h"

namespace {

using ZephylWire::PlanDraft;
using ZephylWire::Publication;

const QString kPublicationsPath = QString::fromLatin1(Publications::collectionPath);
const QString kPlanDraftsPath = QString::fromLatin1(Publications::planDraftsPath);

// A publication whose link is not a URL is kept, without the link: one odd
// link must not fail a whole list, and with it the plan's load.
Publication decodePublication(const QJsonValue &value)
{
    try {
        return Publication::fromJson(value);
    } catch (const ServiceDecodingError &e) {
        if (e.key() != QLatin1String("platformUrl") || !value.isObject())
            throw;
        QJsonObject withoutLink = value.toObject();
        withoutLink.remove(QStringLiteral("platformUrl"));
        return Publication::fromJson(withoutLink);
    }
}

struct PublicationResponse {
    Publication publication;
    static PublicationResponse fromJson(const QJsonValue &value)
    {
        const QJsonObject o = Json::object(value);
        const QJsonObject inner = Json::objectAt(o, QLatin1String("publication"));
        return {Json::at(QLatin1String("publication"), [&] { return decodePublication(inner); })};
    }
};

struct PublicationsResponse {
    QList<Publication> publications;
    static PublicationsResponse fromJson(const QJsonValue &value)
    {
        const QJsonArray array = Json::array(Json::object(value), QLatin1String("publications"));
        PublicationsResponse r;
        for (qsizetype i = 0; i < array.size(); ++i) {
            try {
                r.publications.append(decodePublication(array.at(i)));
            } catch (const ServiceDecodingError &e) {
                throw e.nested(QStringLiteral("[%1]").arg(i)).nested(QStringLiteral("publications"));
            }
        }
        return r;
    }
};

struct PlanDraftsResponse {
    QList<PlanDraft> drafts;
    // A draft that cannot be read is kept as it came: it must not fail the
    // whole list, and with it every save of the plan.
    static PlanDraftsResponse fromJson(const QJsonValue &value)
    {
        const QJsonArray array = Json::array(Json::object(value), QLatin1String("drafts"));
        PlanDraftsResponse r;
        r.drafts.reserve(array.size());
        for (const QJsonValue &item : array)
            r.drafts.append(PlanDraft::fromListJson(item));
        return r;
    }
};

// Saving reads nothing back: a 204 is as good as the count.
struct SavedResponse {
    static constexpr bool nothingNeeded = true;
    qint64 saved = 0;
    static SavedResponse fromJson(const QJsonValue &value)
    {
        return {Json::integer(Json::object(value), QLatin1String("saved"))};
    }
};

QJsonObject draftsBody(const QList<PlanDraft> &drafts)
{
    QJsonArray list;
    for (const PlanDraft &draft : drafts)
        list.append(draft.toListJson());
    return QJsonObject{{QStringLiteral("drafts"), list}};
}

} // namespace

QCoro::Task<ZephylAPI::Publication> ZephylAPI::createInstagramPublication(PublicationRequest request,
                                                                         QString idempotencyKey)
{
    RequestSpec spec(kPublicationsPath, "POST", request.toJson(), true);
    spec.idempotencyKey = idempotencyKey;
    spec.timeout = std::chrono::duration_cast<std::chrono::milliseconds>(Publications::creationTimeout);
    // Renewed even while the page carries the call; the repeat carries the same
    // key, so the service never makes the post twice.
    std::function<QCoro::Task<PublicationResponse>(Sent &)> attempt = [this, spec](Sent &sent) {
        return send<PublicationResponse>(spec, nullptr, &sent);
    };
    co_return (co_await withOneRenewal<PublicationResponse>(std::move(attempt), true)).publication;
}

QCoro::Task<ZephylAPI::Publication> ZephylAPI::instagramPublication(QString id)
{
    co_return (co_await authenticated<PublicationResponse>(Publications::path(id), QByteArray("GET"))).publication;
}

QCoro::Task<std::optional<ZephylAPI::Publication>> ZephylAPI::existingInstagramPublication(QString id)
{
    try {
        co_return co_await instagramPublication(id);
    } catch (const APIError &error) {
        if (error.kind() != APIError::Kind::rejected || error.code() != QLatin1String(Publications::notFoundCode))
            throw;
    }
    co_return std::nullopt;
}

QCoro::Task<ZephylAPI::Publication> ZephylAPI::waitForInstagramPublication(Publication publication,
                                                                          int maximumAttempts, double delaySeconds,
                                                                          CancelToken cancel)
{
    QPointer<ZephylAPI> self(this);
    auto read = [self](QString id) -> QCoro::Task<Publication> {
        if (!self)
            throw APIError::invalidResponse();
        co_return co_await self->instagramPublication(id);
    };
    co_return co_await Publications::waitFor<Publication>(std::move(publication), maximumAttempts, delaySeconds, read,
                                                          clock(), cancel);
}

QCoro::Task<ZephylAPI::Publication> ZephylAPI::waitForInstagramPublication(Publication publication,
                                                                          int maximumAttempts, double delaySeconds)
{
    return waitForInstagramPublication(std::move(publication), maximumAttempts, delaySeconds, CancelToken());
}

QCoro::Task<QList<ZephylAPI::Publication>> ZephylAPI::instagramPublications()
{
    co_return (co_await authenticated<PublicationsResponse>(kPublicationsPath, QByteArray("GET"), std::nullopt,
                                                            HttpCall::AnswerLimit::collection))
        .publications;
}

QCoro::Task<QList<ZephylAPI::PlanDraft>> ZephylAPI::planDrafts()
{
    co_return (co_await authenticated<PlanDraftsResponse>(kPlanDraftsPath, QByteArray("GET"), std::nullopt,
                                                          HttpCall::AnswerLimit::collection))
        .drafts;
}

QCoro::Task<> ZephylAPI::savePlanDrafts(QList<PlanDraft> drafts, std::function<void()> wentOut)
{
    const QJsonObject body = draftsBody(drafts);
    co_await authenticated<SavedResponse>(kPlanDraftsPath, QByteArray("PUT"), body, HttpCall::AnswerLimit::record,
                                          std::move(wentOut));
}
