#include "app/AskValues.h"

#include "base/DefaultsStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

QList<CatChatLine> CatChatLine::load(const DefaultsStore &defaults)
{
    const auto data = defaults.data(QLatin1String(kDefaultsKey));
    if (!data)
        return {};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(*data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return {};
    const QJsonArray array = doc.array();
    QList<CatChatLine> lines;
    lines.reserve(std::min<qsizetype>(array.size(), kKept));
    // Only the last 40 are kept, but every element must decode.
    const qsizetype firstKept = std::max<qsizetype>(0, array.size() - kKept);
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonValue value = array.at(i);
        if (!value.isObject())
            return {};
        const QJsonObject o = value.toObject();
        const QJsonValue id = o.value(QLatin1String("id"));
        const QJsonValue mine = o.value(QLatin1String("mine"));
        const QJsonValue text = o.value(QLatin1String("text"));
        const QJsonValue look = o.value(QLatin1String("look"));
        if (!id.isString() || !mine.isBool() || !text.isString() || !look.isString())
            return {};
        // The standard textual form only: 36 characters, no braces. The nil UUID
        // is a valid one, though QUuid reads it as "null" like any failure.
        const QString idText = id.toString();
        const QUuid uuid = QUuid::fromString(idText);
        if (idText.size() != 36 || (uuid.isNull() && idText != QLatin1String("00000000-0000-0000-0000-000000000000")))
            return {};
        if (i < firstKept)
            continue;
        lines.append({uuid, mine.toBool(), text.toString(), catLookFromRaw(look.toString()).value_or(CatLook::neutral),
                      {}});
    }
    return lines;
}

void CatChatLine::save(const QList<CatChatLine> &lines, DefaultsStore &defaults)
{
    if (lines.isEmpty()) {
        defaults.remove(QLatin1String(kDefaultsKey));
        return;
    }
    QJsonArray array;
    for (qsizetype i = std::max<qsizetype>(0, lines.size() - kKept); i < lines.size(); ++i) {
        const CatChatLine &line = lines.at(i);
        array.append(QJsonObject{{QStringLiteral("id"), line.id.toString(QUuid::WithoutBraces).toUpper()},
                                 {QStringLiteral("mine"), line.mine},
                                 {QStringLiteral("text"), line.text},
                                 {QStringLiteral("look"), rawValue(line.look)}});
    }
    defaults.setData(QLatin1String(kDefaultsKey), QJsonDocument(array).toJson(QJsonDocument::Compact));
}
