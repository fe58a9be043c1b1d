#include "app/UnsentTextStore.h"

#include "base/DefaultsStore.h"
#include "services/Json.h"

#include <QJsonDocument>
#include <QJsonObject>

UnsentTextStore::UnsentTextStore(DefaultsStore &defaults, QString key) : m_defaults(&defaults), m_key(std::move(key)) {}

QString UnsentTextStore::prefix(const QString &text, qsizetype limit)
{
    return ::Text::prefixGraphemes(text, limit);
}

void UnsentTextStore::save(const QString &owner, const Text &text)
{
    if (owner.isEmpty())
        return;
    const QJsonObject texts{{QStringLiteral("assistant"), prefix(text.assistant, kMaxCharacters)},
                            {QStringLiteral("ask"), prefix(text.ask, kMaxCharacters)}};
    const QJsonObject record{{QStringLiteral("owner"), owner.toLower()}, {QStringLiteral("text"), texts}};
    m_defaults->setData(m_key, QJsonDocument(record).toJson(QJsonDocument::Compact));
}

UnsentTextStore::Text UnsentTextStore::load(const QString &owner) const
{
    if (owner.isEmpty())
        return {};
    const auto data = m_defaults->data(m_key);
    if (!data)
        return {};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(*data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {};
    const QJsonObject record = doc.object();
    const QJsonValue storedOwner = record.value(QLatin1String("owner"));
    const QJsonValue texts = record.value(QLatin1String("text"));
    if (!storedOwner.isString() || !texts.isObject())
        return {};
    const QJsonValue assistant = texts.toObject().value(QLatin1String("assistant"));
    const QJsonValue ask = texts.toObject().value(QLatin1String("ask"));
    if (!assistant.isString() || !ask.isString())
        return {};
    if (storedOwner.toString() != owner.toLower())
        return {};
    return {assistant.toString(), ask.toString()};
}

void UnsentTextStore::remove() { m_defaults->remove(m_key); }
