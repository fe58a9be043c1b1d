#include "app/PublishRecords.h"

#include "app/CaptionComposer.h"
#include "app/ComposerSubmission.h"
#include "base/RecordStore.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// A whole JSON number as it was written, every 64-bit value exactly (the
// reader keeps integers as integers); none for a fraction or anything else.
std::optional<qint64> wholeNumber(const QJsonValue &value)
{
    if (!value.isDouble() || value.toInteger(0) != value.toInteger(1))
        return std::nullopt;
    return value.toInteger();
}

// The record's object when it is one, whole, and the owner's; none otherwise
// (a damaged record is said in the log, another owner's is simply not theirs).
std::optional<QJsonObject> ownRecord(const QByteArray &bytes, const char *name, const QString &owner,
                                     const QStringList &required)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    const QJsonObject record = document.object();
    bool whole = error.error == QJsonParseError::NoError && document.isObject() &&
                 record.value(QLatin1String("owner")).isString();
    for (const QString &key : required)
        whole = whole && record.contains(key);
    if (!whole) {
        RecordStore::unreadable(QLatin1String(name), owner);
        return std::nullopt;
    }
    if (record.value(QLatin1String("owner")).toString() != RecordStore::ownerKey(owner))
        return std::nullopt;
    return record;
}

// A key and what went under it.
QJsonObject pendingJson(const PendingPublication &p)
{
    return QJsonObject{{QStringLiteral("key"), p.key},
                       {QStringLiteral("post"), p.post},
                       {QStringLiteral("draft"), p.draft},
                       {QStringLiteral("words"), p.words}};
}

// None when it is not one whole (its words may be missing: kept before they were).
std::optional<PendingPublication> pendingFrom(const QJsonValue &value)
{
    const QJsonObject o = value.toObject();
    const QJsonValue key = o.value(QLatin1String("key")), post = o.value(QLatin1String("post")),
                     draft = o.value(QLatin1String("draft")), words = o.value(QLatin1String("words"));
    if (!value.isObject() || !key.isString() || key.toString().isEmpty() || !post.isString() || !draft.isBool() ||
        !(words.isUndefined() || words.isString()))
        return std::nullopt;
    return PendingPublication{key.toString(), post.toString(), draft.toBool(), words.toString()};
}

} // namespace

// ---- The composer's post

KeptComposerStore::KeptComposerStore(RecordStore &records) : m_records(&records) {}

QByteArray KeptComposerStore::encode(const QString &owner, const KeptComposerPost &post)
{
    QJsonObject record{{QStringLiteral("owner"), RecordStore::ownerKey(owner)},
                       {QStringLiteral("format"), PublishFormats::rawValue(post.format)},
                       {QStringLiteral("caption"), post.caption},
                       {QStringLiteral("hashtags"), post.hashtags},
                       {QStringLiteral("key"), post.idempotencyKey},
                       {QStringLiteral("draftKey"), post.draftIdempotencyKey}};
    if (post.planDraftID)
        record.insert(QStringLiteral("planDraftID"), QJsonValue(*post.planDraftID));
    if (post.spent)
        record.insert(QStringLiteral("spent"), pendingJson(*post.spent));
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

std::optional<KeptComposerPost> KeptComposerStore::decode(const QByteArray &bytes, const QString &owner)
{
    const QStringList texts{QStringLiteral("format"), QStringLiteral("caption"), QStringLiteral("hashtags"),
                            QStringLiteral("key"), QStringLiteral("draftKey")};
    const auto record = ownRecord(bytes, kRecordName, owner, texts);
    if (!record)
        return std::nullopt;
    bool whole = true;
    for (const QString &key : texts)
        whole = whole && record->value(key).isString();
    const auto format = PublishFormats::fromRaw(record->value(QLatin1String("format")).toString());
    const QJsonValue planDraft = record->value(QLatin1String("planDraftID"));
    const auto planDraftID = wholeNumber(planDraft);
    // Absent from a record kept before keys were spent.
    const QJsonValue spentValue = record->value(QLatin1String("spent"));
    const auto spent = pendingFrom(spentValue);
    if (!whole || !format || (!planDraft.isUndefined() && !planDraftID) || (!spentValue.isUndefined() && !spent)) {
        RecordStore::unreadable(QLatin1String(kRecordName), owner);
        return std::nullopt;
    }
    return KeptComposerPost{*format,
                            record->value(QLatin1String("caption")).toString(),
                            record->value(QLatin1String("hashtags")).toString(),
                            record->value(QLatin1String("key")).toString(),
                            record->value(QLatin1String("draftKey")).toString(),
                            planDraftID,
                            spent};
}

bool KeptComposerStore::save(const QString &owner, const KeptComposerPost &post)
{
    return m_records->write(QLatin1String(kRecordName), owner, encode(owner, post));
}

std::optional<KeptComposerPost> KeptComposerStore::load(const QString &owner) const
{
    const auto bytes = m_records->read(QLatin1String(kRecordName), owner);
    return bytes ? decode(*bytes, owner) : std::nullopt;
}

void KeptComposerStore::remove(const QString &owner) { m_records->remove(QLatin1String(kRecordName), owner); }

// ---- Publications whose fate is not known

QString PendingPublication::postOf(const ComposerSubmission &s)
{
    QJsonArray files;
    const auto file = [&](const ImportedMedia &m) {
        // What it shows, by its preview (made the same way at every import of
        // the same file): another picture under the same name and size is
        // another post, never one answered with the first.
        const QByteArray look =
            m.thumbnail ? QCryptographicHash::hash(m.thumbnail->pixels, QCryptographicHash::Sha256).toHex() : QByteArray();
        files.append(QJsonArray{m.kind == ImportedMedia::Kind::video ? QStringLiteral("video") : QStringLiteral("image"),
                                m.fileName, m.pixelSize.width(), m.pixelSize.height(), QString::fromLatin1(look)});
    };
    for (const ImportedMedia &m : s.media)
        file(m);
    if (s.cover)
        file(*s.cover);
    const QJsonArray post{PublishFormats::rawValue(s.format), CaptionComposer::caption(s.caption, s.hashtags),
                          s.saveAsDraft, files, s.cover.has_value()};
    const QByteArray bytes = QJsonDocument(post).toJson(QJsonDocument::Compact);
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString PendingPublication::wordsOf(PublishFormat format, const QString &caption, const QString &hashtags, bool draft)
{
    const QJsonArray words{PublishFormats::rawValue(format), CaptionComposer::caption(caption, hashtags), draft};
    const QByteArray bytes = QJsonDocument(words).toJson(QJsonDocument::Compact);
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString PendingPublication::wordsOf(const ComposerSubmission &s)
{
    return wordsOf(s.format, s.caption, s.hashtags, s.saveAsDraft);
}

PendingPublicationStore::PendingPublicationStore(RecordStore &records) : m_records(&records) {}

QByteArray PendingPublicationStore::encode(const QString &owner, const QList<PendingPublication> &pending)
{
    QJsonArray list;
    for (const PendingPublication &p : pending)
        list.append(pendingJson(p));
    const QJsonObject record{{QStringLiteral("owner"), RecordStore::ownerKey(owner)}, {QStringLiteral("pending"), list}};
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

std::optional<QList<PendingPublication>> PendingPublicationStore::decode(const QByteArray &bytes, const QString &owner)
{
    const auto record = ownRecord(bytes, kRecordName, owner, {QStringLiteral("pending")});
    if (!record)
        return std::nullopt;
    QList<PendingPublication> out;
    const QJsonValue list = record->value(QLatin1String("pending"));
    bool whole = list.isArray();
    for (const QJsonValue &item : list.toArray()) {
        const auto p = pendingFrom(item);
        whole = whole && p;
        if (p)
            out.append(*p);
    }
    if (!whole) {
        RecordStore::unreadable(QLatin1String(kRecordName), owner);
        return std::nullopt;
    }
    return out;
}

bool PendingPublicationStore::save(const QString &owner, QList<PendingPublication> pending)
{
    if (owner.isEmpty())
        return false;
    while (pending.size() > kKept)
        pending.removeFirst();
    if (pending.isEmpty())
        return m_records->remove(QLatin1String(kRecordName), owner);
    return m_records->write(QLatin1String(kRecordName), owner, encode(owner, pending));
}

QList<PendingPublication> PendingPublicationStore::load(const QString &owner) const
{
    const auto bytes = m_records->read(QLatin1String(kRecordName), owner);
    return bytes ? decode(*bytes, owner).value_or(QList<PendingPublication>()) : QList<PendingPublication>();
}
