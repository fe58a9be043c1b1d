#include "services/ops/Publications.h"

#include "services/ServiceErrors.h"

#include <QJsonArray>
#include <QUrl>

namespace Publications {

bool isInProgress(const QString &status)
{
    static const QStringList inProgress{QStringLiteral("creating"), QStringLiteral("reconciling"),
                                        QStringLiteral("waiting"), QStringLiteral("publishing"),
                                        QStringLiteral("processing")};
    return inProgress.contains(status, Qt::CaseSensitive);
}

bool isUsableId(const QString &id)
{
    return !id.isEmpty() && id != QLatin1String(".") && id != QLatin1String("..");
}

QString path(const QString &id)
{
    if (!isUsableId(id))
        throw ServiceNetworkError(ServiceNetworkError::Code::badURL);
    return QLatin1String(collectionPath) + QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(id));
}

QString internetDateTime(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

QJsonObject PublicationRequest::toJson() const
{
    QJsonObject o{
        {QStringLiteral("confirm"), confirm},
        {QStringLiteral("format"), format},
        {QStringLiteral("caption"), caption},
        {QStringLiteral("mediaIds"), QJsonArray::fromStringList(mediaIds)},
        {QStringLiteral("scheduledAt"), scheduledAt},
        {QStringLiteral("shareToFeed"), shareToFeed},
        {QStringLiteral("trialEnabled"), trialEnabled},
        {QStringLiteral("trialGraduation"), trialGraduation},
        {QStringLiteral("collaborators"), QJsonArray::fromStringList(collaborators)},
        {QStringLiteral("audioName"), audioName},
        {QStringLiteral("isAiGenerated"), isAiGenerated},
        {QStringLiteral("isDraft"), isDraft},
    };
    if (coverMediaId)
        o.insert(QStringLiteral("coverMediaId"), *coverMediaId);
    if (thumbOffsetMs)
        o.insert(QStringLiteral("thumbOffsetMs"), double(*thumbOffsetMs));
    return o;
}

} // namespace Publications
