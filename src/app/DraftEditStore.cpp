#include "app/DraftEditStore.h"

#include "app/PlanMerge.h"
#include "app/UnsavedPlanStore.h"
#include "base/RecordStore.h"
#include "planner/PlanCalendar.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

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

QJsonObject draftJson(const ZephylWire::PlanDraft &draft)
{
    QJsonObject out = draft.toTypedJson();
    // The service's preview is never sent back, but the editor shows it until removed.
    if (draft.preview)
        out.insert(QStringLiteral("preview"), draft.preview->toString());
    return out;
}

QJsonObject editJson(const KeptDraftEdit &edit)
{
    QJsonObject out{{QStringLiteral("draft"), draftJson(edit.draft)},
                    {QStringLiteral("isNew"), edit.isNew},
                    {QStringLiteral("format"), PublishFormats::planValue(edit.format)},
                    {QStringLiteral("date"), double(edit.date.toMSecsSinceEpoch())},
                    {QStringLiteral("hasDate"), edit.hasDate},
                    {QStringLiteral("surface"), Surfaces::rawValue(edit.surface)},
                    {QStringLiteral("place"), edit.place},
                    {QStringLiteral("reopen"), edit.reopen}};
    if (!edit.picture.isEmpty())
        out.insert(QStringLiteral("picture"), QString::fromLatin1(edit.picture.toBase64()));
    out.insert(QStringLiteral("shown"), draftJson(edit.shown));
    // Beside the drafts: older versions read each draft alone, as before.
    QJsonObject written;
    for (const auto &[name, draft] :
         {std::pair(QStringLiteral("draft"), &edit.draft), std::pair(QStringLiteral("shown"), &edit.shown)}) {
        if (const QJsonObject members = UnsavedPlanStore::writtenJson(*draft); !members.isEmpty())
            written.insert(name, members);
    }
    if (!written.isEmpty())
        out.insert(QStringLiteral("asWritten"), written);
    return out;
}

// `reopen` stands for a record that says nothing of it (one kept at a session's end).
std::optional<KeptDraftEdit> readEdit(const QJsonObject &record, bool reopen)
{
    auto draft = UnsavedPlanStore::readDraft(record.value(QLatin1String("draft")));
    // Kept before it was kept with the edit: the working copy stands for it.
    const QJsonValue shownValue = record.value(QLatin1String("shown"));
    auto shown = shownValue.isUndefined() ? draft : UnsavedPlanStore::readDraft(shownValue);
    const QJsonValue written = record.value(QLatin1String("asWritten"));
    bool writtenRead = written.isUndefined() || written.isObject();
    for (const auto &[name, read] : {std::pair("draft", &draft), std::pair("shown", &shown)}) {
        const QJsonValue members = written.toObject().value(QLatin1String(name));
        if (*read && !members.isUndefined())
            writtenRead = writtenRead && UnsavedPlanStore::readWritten(members, **read);
    }
    const auto format = formatOf(record.value(QLatin1String("format")));
    const auto instant = instantOf(record.value(QLatin1String("date")));
    const Surface surface =
        Surfaces::fromRaw(record.value(QLatin1String("surface")).toString()).value_or(Surface::summary);
    const QJsonValue isNew = record.value(QLatin1String("isNew"));
    const QJsonValue hasDate = record.value(QLatin1String("hasDate"));
    const QJsonValue place = record.value(QLatin1String("place")).isUndefined() ? QJsonValue(0)
                                                                                 : record.value(QLatin1String("place"));
    const QJsonValue again = record.value(QLatin1String("reopen")).isUndefined() ? QJsonValue(reopen)
                                                                                 : record.value(QLatin1String("reopen"));
    const QJsonValue picture = record.value(QLatin1String("picture"));
    const auto pictureBytes = QByteArray::fromBase64Encoding(picture.toString().toLatin1(),
                                                             QByteArray::AbortOnBase64DecodingErrors);
    const bool wholePlace = place.isDouble() && place.toDouble() >= 0 &&
                            place.toDouble() <= std::numeric_limits<int>::max() &&
                            std::trunc(place.toDouble()) == place.toDouble();
    // Only the two screens that edit drafts can take it back.
    if (!draft || !shown || !writtenRead || !format || !instant || !isNew.isBool() || !hasDate.isBool() ||
        !again.isBool() || !wholePlace || (surface != Surface::plan && surface != Surface::grid) ||
        !(picture.isUndefined() || (picture.isString() && pictureBytes)))
        return std::nullopt;
    return KeptDraftEdit{*draft,           isNew.toBool(), *format, QDateTime::fromMSecsSinceEpoch(*instant),
                         hasDate.toBool(), surface,        int(place.toDouble()), pictureBytes.decoded,
                         again.toBool(),   *shown};
}

} // namespace

namespace DraftForms {

std::optional<QDateTime> plannedTime(const QString &scheduledAt)
{
    return scheduledAt.isEmpty() ? std::nullopt : PlanCalendar::parseInternetDateTime(scheduledAt);
}

ZephylWire::PlanDraft written(ZephylWire::PlanDraft draft, PublishFormat format, std::optional<QDateTime> planned)
{
    draft.format = PublishFormats::planValue(format);
    draft.scheduledAt = planned ? PlanCalendar::formatInternetDateTime(*planned) : QString();
    draft.title = draft.title.trimmed();
    return draft;
}

} // namespace DraftForms

ZephylWire::PlanDraft KeptDraftEdit::saved() const
{
    return DraftForms::written(draft, format, hasDate ? std::optional(date) : std::nullopt);
}

bool KeptDraftEdit::changesShown() const
{
    const ZephylWire::PlanDraft untouched =
        DraftForms::written(shown, PublishFormats::fromPlanValue(shown.format), DraftForms::plannedTime(shown.scheduledAt));
    return !PlanMerge::sameDraft(saved(), untouched);
}

bool KeptDraftEdit::sameDraft(const KeptDraftEdit &other) const
{
    if (isNew || other.isNew)
        return isNew == other.isNew;
    return draft.id == other.draft.id && place == other.place && PlanMerge::sameDraft(shown, other.shown);
}

DraftEditStore::DraftEditStore(RecordStore &records) : m_records(&records) {}

QByteArray DraftEditStore::encode(const QString &owner, const QList<KeptDraftEdit> &edits)
{
    QJsonArray list;
    for (const KeptDraftEdit &edit : edits)
        list.append(editJson(edit));
    const QJsonObject record{{QStringLiteral("owner"), RecordStore::ownerKey(owner)}, {QStringLiteral("edits"), list}};
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

QList<KeptDraftEdit> DraftEditStore::decode(const QByteArray &bytes, const QString &owner)
{
    QJsonParseError error{};
    const QJsonObject record = QJsonDocument::fromJson(bytes, &error).object();
    const QJsonValue storedOwner = record.value(QLatin1String("owner"));
    const QJsonValue list = record.value(QLatin1String("edits"));
    QList<KeptDraftEdit> edits;
    bool whole = error.error == QJsonParseError::NoError && storedOwner.isString();
    if (whole && list.isArray()) {
        for (const QJsonValue &value : list.toArray()) {
            const auto edit = readEdit(value.toObject(), false);
            whole = whole && value.isObject() && edit;
            if (edit)
                edits.append(*edit);
        }
    } else if (whole) {
        const auto edit = readEdit(record, true);
        whole = edit.has_value();
        if (edit)
            edits.append(*edit);
    }
    if (!whole) {
        RecordStore::unreadable(QLatin1String(kRecordName), owner);
        return {};
    }
    if (storedOwner.toString() != RecordStore::ownerKey(owner))
        return {};
    return edits;
}

bool DraftEditStore::write(const QString &owner, const QList<KeptDraftEdit> &edits)
{
    if (edits.isEmpty())
        return m_records->remove(QLatin1String(kRecordName), owner);
    return m_records->write(QLatin1String(kRecordName), owner, encode(owner, edits));
}

bool DraftEditStore::save(const QString &owner, const KeptDraftEdit &edit)
{
    if (owner.isEmpty())
        return false;
    QList<KeptDraftEdit> edits = load(owner);
    edits.removeIf([&](const KeptDraftEdit &kept) { return kept.sameDraft(edit); });
    if (edit.reopen) {
        for (KeptDraftEdit &kept : edits)
            kept.reopen = false;
    }
    edits.append(edit);
    while (edits.size() > kKept)
        edits.removeFirst();
    return write(owner, edits);
}

QList<KeptDraftEdit> DraftEditStore::load(const QString &owner) const
{
    if (owner.isEmpty())
        return {};
    const auto bytes = m_records->read(QLatin1String(kRecordName), owner);
    return bytes ? decode(*bytes, owner) : QList<KeptDraftEdit>();
}

void DraftEditStore::remove(const QString &owner, const KeptDraftEdit &edit)
{
    QList<KeptDraftEdit> edits = load(owner);
    if (edits.removeIf([&](const KeptDraftEdit &kept) { return kept.sameDraft(edit); }) > 0)
        write(owner, edits);
}

void DraftEditStore::remove(const QString &owner)
{
    if (!owner.isEmpty())
        m_records->remove(QLatin1String(kRecordName), owner);
}
