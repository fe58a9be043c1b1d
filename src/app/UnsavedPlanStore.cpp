#include "app/UnsavedPlanStore.h"

#include "base/DefaultsStore.h"
#include "base/RecordStore.h"
#include "services/Json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <functional>

namespace {

// The list's drafts, each field in its own type, as JSON bytes; what goes back
// as another client wrote it, by the draft's place, into `written`.
UnsavedPlanStore::Encoded listBytes(const QList<ZephylWire::PlanDraft> &drafts)
{
    QJsonArray list;
    QJsonObject written;
    for (qsizetype i = 0; i < drafts.size(); ++i) {
        list.append(drafts[i].toTypedJson());
        if (const QJsonObject members = UnsavedPlanStore::writtenJson(drafts[i]); !members.isEmpty())
            written.insert(QString::number(i), members);
    }
    return {drafts, QJsonDocument(list).toJson(QJsonDocument::Compact), written};
}

// The record, each list put in as `list` encodes it.
QByteArray assemble(const QString &owner, const UnsavedPlanStore::Kept &kept,
                    const std::function<UnsavedPlanStore::Encoded(const QList<ZephylWire::PlanDraft> &)> &list)
{
    const QByteArray head = QJsonDocument(QJsonObject{{QStringLiteral("owner"), RecordStore::ownerKey(owner)}})
                                .toJson(QJsonDocument::Compact);
    const UnsavedPlanStore::Encoded drafts = list(kept.drafts), base = list(kept.base);
    // Left out when there is none: older versions read the rest as before.
    const UnsavedPlanStore::Encoded sent = kept.sent ? list(*kept.sent) : UnsavedPlanStore::Encoded();
    // Beside the lists: older versions read each draft alone, as before.
    QJsonObject written;
    for (const auto &[name, encoded] : {std::pair("drafts", &drafts), std::pair("base", &base), std::pair("sent", &sent)}) {
        if (!encoded->written.isEmpty())
            written.insert(QLatin1String(name), encoded->written);
    }
    QByteArray out;
    out.reserve(head.size() + drafts.bytes.size() + base.bytes.size() + sent.bytes.size() + 64);
    out.append(head.chopped(1)).append(",\"drafts\":").append(drafts.bytes).append(",\"base\":").append(base.bytes);
    if (kept.refused)
        out.append(",\"refused\":true");
    if (kept.sent)
        out.append(",\"sent\":").append(sent.bytes);
    if (!written.isEmpty())
        out.append(",\"asWritten\":").append(QJsonDocument(written).toJson(QJsonDocument::Compact));
    out.append('}');
    return out;
}

std::optional<QList<ZephylWire::PlanDraft>> readList(const QJsonValue &value, const QJsonValue &written)
{
    if (!value.isArray() || !(written.isUndefined() || written.isObject()))
        return std::nullopt;
    QList<ZephylWire::PlanDraft> out;
    for (const QJsonValue &item : value.toArray()) {
        auto draft = UnsavedPlanStore::readDraft(item);
        if (!draft)
            return std::nullopt;
        out.append(std::move(*draft));
    }
    const QJsonObject asCame = written.toObject();
    for (auto it = asCame.constBegin(); it != asCame.constEnd(); ++it) {
        bool number = false;
        const qsizetype at = it.key().toLongLong(&number);
        if (!number || at < 0 || at >= out.size() || !UnsavedPlanStore::readWritten(it.value(), out[at]))
            return std::nullopt;
    }
    return out;
}

} // namespace

UnsavedPlanStore::UnsavedPlanStore(RecordStore &records) : m_records(&records) {}

UnsavedPlanStore::UnsavedPlanStore(DefaultsStore &defaults) : m_records(&RecordStore::of(defaults)) {}

std::optional<ZephylWire::PlanDraft> UnsavedPlanStore::readDraft(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    const auto isText = [&](const char *key) { return o.value(QLatin1String(key)).isString(); };
    const auto optional = [&](const char *key, auto check) {
        return !o.contains(QLatin1String(key)) || check(o.value(QLatin1String(key)));
    };
    // Every 64-bit id as it was written: one beyond a double's exact range is kept whole.
    if (!Json::isInteger(o.value(QLatin1String("id"))) || !isText("title") || !isText("caption") || !isText("hashtags") ||
        !isText("format") || !isText("scheduledAt") || !o.value(QLatin1String("hiddenFromGrid")).isBool() ||
        !optional("gridSlot", Json::isInteger) || !optional("mediaId", [](const QJsonValue &v) { return v.isString(); }) ||
        !optional("posterMediaId", [](const QJsonValue &v) { return v.isString(); }))
        return std::nullopt;
    try {
        return ZephylWire::PlanDraft::fromJson(o);
    } catch (...) {
        return std::nullopt;
    }
}

bool UnsavedPlanStore::readWritten(const QJsonValue &value, ZephylWire::PlanDraft &draft)
{
    static const QStringList members = {
        QStringLiteral("title"),    QStringLiteral("caption"),        QStringLiteral("hashtags"),
        QStringLiteral("format"),   QStringLiteral("scheduledAt"),    QStringLiteral("gridSlot"),
        QStringLiteral("hiddenFromGrid"), QStringLiteral("mediaId"), QStringLiteral("posterMediaId")};
    if (!value.isObject())
        return false;
    const QJsonObject asCame = value.toObject();
    for (auto it = asCame.constBegin(); it != asCame.constEnd(); ++it) {
        if (!members.contains(it.key()))
            return false;
    }
    draft.asWritten = asCame;
    return true;
}

QByteArray UnsavedPlanStore::encode(const QString &owner, const Kept &kept)
{
    return assemble(owner, kept, listBytes);
}

std::optional<UnsavedPlanStore::Kept> UnsavedPlanStore::decode(const QByteArray &bytes, const QString &owner)
{
    QJsonParseError error{};
    const QJsonObject record = QJsonDocument::fromJson(bytes, &error).object();
    const QJsonValue storedOwner = record.value(QLatin1String("owner"));
    const QJsonValue written = record.value(QLatin1String("asWritten"));
    const auto writtenIn = [&](const char *name) { return written.toObject().value(QLatin1String(name)); };
    auto drafts = readList(record.value(QLatin1String("drafts")), writtenIn("drafts"));
    // Older records kept no base: one that holds nothing makes every difference a change of both sides.
    const QJsonValue baseValue = record.value(QLatin1String("base"));
    auto base = baseValue.isUndefined() ? std::optional(QList<ZephylWire::PlanDraft>())
                                        : readList(baseValue, writtenIn("base"));
    const QJsonValue refused = record.value(QLatin1String("refused"));
    const QJsonValue sentValue = record.value(QLatin1String("sent"));
    auto sent = sentValue.isUndefined() ? std::optional(QList<ZephylWire::PlanDraft>())
                                        : readList(sentValue, writtenIn("sent"));
    if (error.error != QJsonParseError::NoError || !storedOwner.isString() || !drafts || !base || !sent ||
        !(refused.isUndefined() || refused.isBool()) || !(written.isUndefined() || written.isObject())) {
        RecordStore::unreadable(QLatin1String(kRecordName), owner);
        return std::nullopt;
    }
    if (storedOwner.toString() != RecordStore::ownerKey(owner))
        return std::nullopt;
    return Kept{std::move(*drafts), std::move(*base), refused.toBool(false),
                sentValue.isUndefined() ? std::nullopt : std::move(sent)};
}

bool UnsavedPlanStore::save(const QString &owner, const Kept &kept)
{
    if (owner.isEmpty())
        return false;
    QList<Encoded> encoded;
    const QByteArray bytes = assemble(owner, kept, [&](const QList<ZephylWire::PlanDraft> &drafts) {
        for (const Encoded &done : std::as_const(encoded))
            if (done.drafts == drafts)
                return done;
        for (const Encoded &before : std::as_const(m_encoded)) {
            if (before.drafts == drafts) {
                encoded.append(before);
                return before;
            }
        }
        encoded.append(listBytes(drafts));
        return encoded.last();
    });
    m_encoded = std::move(encoded);
    return m_records->write(QLatin1String(kRecordName), owner, bytes);
}

std::optional<UnsavedPlanStore::Kept> UnsavedPlanStore::load(const QString &owner) const
{
    if (owner.isEmpty())
        return std::nullopt;
    const auto bytes = m_records->read(QLatin1String(kRecordName), owner);
    return bytes ? decode(*bytes, owner) : std::nullopt;
}

bool UnsavedPlanStore::remove(const QString &owner)
{
    m_encoded.clear();
    return m_records->remove(QLatin1String(kRecordName), owner);
}

bool UnsavedPlanStore::isKept(const QString &owner) const
{
    return m_records->holds(QLatin1String(kRecordName), owner);
}
