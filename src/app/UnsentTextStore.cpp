#include "app/UnsentTextStore.h"

#include "base/DefaultsStore.h"
#include "base/RecordStore.h"
#include "services/Json.h"

#include <QJsonDocument>
#include <QJsonObject>

UnsentTextStore::UnsentTextStore(RecordStore &records) : m_records(&records) {}

UnsentTextStore::UnsentTextStore(DefaultsStore &defaults) : m_records(&RecordStore::of(defaults)) {}

QString UnsentTextStore::prefix(const QString &text, qsizetype limit)
{
    return ::Text::prefixGraphemes(text, limit);
}

QByteArray UnsentTextStore::encode(const QString &owner, const Text &text)
{
    const QJsonObject texts{{QStringLiteral("assistant"), prefix(text.assistant, kMaxCharacters)},
                            {QStringLiteral("ask"), prefix(text.ask, kMaxCharacters)}};
    const QJsonObject record{{QStringLiteral("owner"), RecordStore::ownerKey(owner)}, {QStringLiteral("text"), texts}};
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

bool UnsentTextStore::save(const QString &owner, const Text &text)
{
    if (owner.isEmpty())
        return false;
    // Nothing typed is nothing to keep: no record, and the account's folder goes with its last one.
    if (text.isEmpty())
        return remove(owner);
    return m_records->write(QLatin1String(kRecordName), owner, encode(owner, text));
}

UnsentTextStore::Text UnsentTextStore::decode(const QByteArray &bytes, const QString &owner)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    const QJsonObject record = doc.object();
    const QJsonValue storedOwner = record.value(QLatin1String("owner"));
    const QJsonObject texts = record.value(QLatin1String("text")).toObject();
    const QJsonValue assistant = texts.value(QLatin1String("assistant"));
    const QJsonValue ask = texts.value(QLatin1String("ask"));
    if (error.error != QJsonParseError::NoError || !doc.isObject() || !storedOwner.isString() ||
        !record.value(QLatin1String("text")).isObject() || !assistant.isString() || !ask.isString()) {
        RecordStore::unreadable(QLatin1String(kRecordName), owner);
        return {};
    }
    if (storedOwner.toString() != RecordStore::ownerKey(owner))
        return {};
    return {assistant.toString(), ask.toString()};
}

UnsentTextStore::Text UnsentTextStore::load(const QString &owner) const
{
    if (owner.isEmpty())
        return {};
    const auto bytes = m_records->read(QLatin1String(kRecordName), owner);
    return bytes ? decode(*bytes, owner) : Text{};
}

bool UnsentTextStore::remove(const QString &owner) { return m_records->remove(QLatin1String(kRecordName), owner); }
