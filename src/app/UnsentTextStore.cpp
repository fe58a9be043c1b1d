#include "app/UnsentTextStore.h"

#include "base/DefaultsStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextBoundaryFinder>

UnsentTextStore::UnsentTextStore(DefaultsStore &defaults, QString key) : m_defaults(&defaults), m_key(std::move(key)) {}

QString UnsentTextStore::prefix(const QString &text, qsizetype limit)
{
    // A cluster is at least one code unit, so a short text needs no walk.
    if (text.size() <= limit)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    qsizetype end = 0;
    while (count < limit) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        end = next;
        ++count;
    }
    return text.left(end);
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
