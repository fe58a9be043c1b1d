#include "app/DraftEditStore.h"

#include "app/UnsavedPlanStore.h"
#include "base/RecordStore.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

std::optional<PublishFormat> formatOf(const QJsonValue &value)
{
    for (PublishFormat format : PublishFormats::allCases) {
        if (value.isString() && value.toString() == PublishFormats::planValue(format))
            return format;
    }
    return std::nullopt;
}

// Milliseconds since 1970, within the range a date can hold.
std::optional<qint64> instantOf(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d || std::fabs(d) > 8.64e15)
        return std::nullopt;
    return qint64(d);
}

} // namespace

DraftEditStore::DraftEditStore(RecordStore &records) : m_records(&records) {}

QByteArray DraftEditStore::encode(const QString &owner, const KeptDraftEdit &edit)
{
    QJsonObject draft = edit.draft.toJson();
    // The service's preview is never sent back, but the editor shows it until removed.
    if (edit.draft.preview)
        draft.insert(QStringLiteral("preview"), edit.draft.preview->toString());
    const QJsonObject record{{QStringLiteral("owner"), RecordStore::ownerKey(owner)},
                             {QStringLiteral("draft"), draft},
                             {QStringLiteral("isNew"), edit.isNew},
                             {QStringLiteral("format"), PublishFormats::planValue(edit.format)},
                             {QStringLiteral("date"), double(edit.date.toMSecsSinceEpoch())},
                             {QStringLiteral("hasDate"), edit.hasDate},
                             {QStringLiteral("surface"), Surfaces::rawValue(edit.surface)}};
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

std::optional<KeptDraftEdit> DraftEditStore::decode(const QByteArray &bytes, const QString &owner)
{
    QJsonParseError error{};
    const QJsonObject record = QJsonDocument::fromJson(bytes, &error).object();
    const QJsonValue storedOwner = record.value(QLatin1String("owner"));
    const auto draft = UnsavedPlanStore::readDraft(record.value(QLatin1String("draft")));
    const auto format = formatOf(record.value(QLatin1String("format")));
    const auto instant = instantOf(record.value(QLatin1String("date")));
    const QJsonValue surfaceValue = record.value(QLatin1String("surface"));
    const Surface surface = Surfaces::fromRaw(surfaceValue.toString()).value_or(Surface::summary);
    const QJsonValue isNew = record.value(QLatin1String("isNew"));
    const QJsonValue hasDate = record.value(QLatin1String("hasDate"));
    // Only the two screens that edit drafts can take it back.
    if (error.error != QJsonParseError::NoError || !storedOwner.isString() || !draft || !format || !instant ||
        !isNew.isBool() || !hasDate.isBool() || (surface != Surface::plan && surface != Surface::grid)) {
        RecordStore::unreadable(QLatin1String(kRecordName), owner);
        return std::nullopt;
    }
    if (storedOwner.toString() != RecordStore::ownerKey(owner))
        return std::nullopt;
    return KeptDraftEdit{*draft, isNew.toBool(), *format, QDateTime::fromMSecsSinceEpoch(*instant), hasDate.toBool(),
                         surface};
}

bool DraftEditStore::save(const QString &owner, const KeptDraftEdit &edit)
{
    if (owner.isEmpty())
        return false;
    return m_records->write(QLatin1String(kRecordName), owner, encode(owner, edit));
}

std::optional<KeptDraftEdit> DraftEditStore::load(const QString &owner) const
{
    if (owner.isEmpty())
        return std::nullopt;
    const auto bytes = m_records->read(QLatin1String(kRecordName), owner);
    return bytes ? decode(*bytes, owner) : std::nullopt;
}

void DraftEditStore::remove(const QString &owner)
{
    if (!owner.isEmpty())
        m_records->remove(QLatin1String(kRecordName), owner);
}
