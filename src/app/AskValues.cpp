#include "app/AskValues.h"

#include "base/DefaultsStore.h"
#include "base/RecordStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

std::optional<QList<CatChatLine>> CatChatLine::decode(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    const QJsonArray array = doc.array();
    QList<CatChatLine> lines;
    lines.reserve(std::min<qsizetype>(array.size(), kKept));
    // Only the last 40 are kept, but every element must decode.
    const qsizetype firstKept = std::max<qsizetype>(0, array.size() - kKept);
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonValue value = array.at(i);
        if (!value.isObject())
            return std::nullopt;
        const QJsonObject o = value.toObject();
        const QJsonValue id = o.value(QLatin1String("id"));
        const QJsonValue mine = o.value(QLatin1String("mine"));
        const QJsonValue text = o.value(QLatin1String("text"));
        const QJsonValue look = o.value(QLatin1String("look"));
        if (!id.isString() || !mine.isBool() || !text.isString() || !look.isString())
            return std::nullopt;
        // The standard textual form only: 36 characters, no braces. The nil UUID
        // is a valid one, though QUuid reads it as "null" like any failure.
        const QString idText = id.toString();
        const QUuid uuid = QUuid::fromString(idText);
        if (idText.size() != 36 || (uuid.isNull() && idText != QLatin1String("00000000-0000-0000-0000-000000000000")))
            return std::nullopt;
        if (i < firstKept)
            continue;
        lines.append({uuid, mine.toBool(), text.toString(), catLookFromRaw(look.toString()).value_or(CatLook::neutral),
                      {}});
    }
    return lines;
}

QByteArray CatChatLine::encode(const QList<CatChatLine> &lines)
{
    QJsonArray array;
    for (qsizetype i = std::max<qsizetype>(0, lines.size() - kKept); i < lines.size(); ++i) {
        const CatChatLine &line = lines.at(i);
        array.append(QJsonObject{{QStringLiteral("id"), line.id.toString(QUuid::WithoutBraces).toUpper()},
                                 {QStringLiteral("mine"), line.mine},
                                 {QStringLiteral("text"), line.text},
                                 {QStringLiteral("look"), rawValue(line.look)}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QList<CatChatLine> CatChatLine::load(const DefaultsStore &defaults)
{
    const auto data = defaults.data(QLatin1String(kDefaultsKey));
    if (!data)
        return {};
    auto lines = decode(*data);
    if (!lines)
        RecordStore::unreadable(QLatin1String(kRecordName), QString());
    return lines.value_or(QList<CatChatLine>());
}

void CatChatLine::save(const QList<CatChatLine> &lines, DefaultsStore &defaults)
{
    if (lines.isEmpty()) {
        defaults.remove(QLatin1String(kDefaultsKey));
        return;
    }
    defaults.setData(QLatin1String(kDefaultsKey), encode(lines));
}

QList<CatChatLine> CatChatLine::load(const RecordStore &records, const QString &owner)
{
    const auto data = records.read(QLatin1String(kRecordName), owner);
    if (!data)
        return {};
    auto lines = decode(*data);
    if (!lines)
        RecordStore::unreadable(QLatin1String(kRecordName), owner);
    return lines.value_or(QList<CatChatLine>());
}

void CatChatLine::save(const QList<CatChatLine> &lines, RecordStore &records, const QString &owner)
{
    if (lines.isEmpty())
        records.remove(QLatin1String(kRecordName), owner);
    else
        records.write(QLatin1String(kRecordName), owner, encode(lines));
}
