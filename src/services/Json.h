#pragma once

#include "services/ServiceErrors.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// Strict reading of JSON answers, shared by the wire models and the bodies.
// Required fields must be present, non-null and of the right type; optional ones
// may be missing or null, but a wrong type still fails. Failures throw
// ServiceDecodingError naming the key.
namespace Json {

// Parses a body; anything that is not a JSON object fails with dataCorrupted.
QJsonObject parseObject(const QByteArray &bytes);
// The value as an object, or typeMismatch.
QJsonObject object(const QJsonValue &value);

QString string(const QJsonObject &o, QLatin1StringView key);
std::optional<QString> optString(const QJsonObject &o, QLatin1StringView key);
qint64 integer(const QJsonObject &o, QLatin1StringView key);
std::optional<qint64> optInteger(const QJsonObject &o, QLatin1StringView key);
bool boolean(const QJsonObject &o, QLatin1StringView key);
std::optional<bool> optBoolean(const QJsonObject &o, QLatin1StringView key);
QJsonArray array(const QJsonObject &o, QLatin1StringView key);
std::optional<QJsonArray> optArray(const QJsonObject &o, QLatin1StringView key);
QJsonObject objectAt(const QJsonObject &o, QLatin1StringView key);
std::optional<QJsonObject> optObjectAt(const QJsonObject &o, QLatin1StringView key);

// True when the value is a JSON number holding an integer that fits 64 bits.
// One parsed from its digits is held exactly whatever its size; one held as a
// double counts only within a double's exact range, where it stands for one
// integer alone.
bool isInteger(const QJsonValue &value);

// Decodes `value` with `decode`, putting `key` in front of any failure's path.
template <typename F>
auto at(QLatin1StringView key, F &&decode) -> decltype(decode())
{
    try {
        return decode();
    } catch (const ServiceDecodingError &e) {
        throw e.nested(QString(key));
    }
}

// A required nested object decoded with T::fromJson.
template <typename T>
T field(const QJsonObject &o, QLatin1StringView key)
{
    const QJsonObject inner = objectAt(o, key);
    return at(key, [&] { return T::fromJson(inner); });
}

// Decodes every element of an array with T::fromJson; a failing element fails
// the whole list, its index in the error's path.
template <typename T>
QList<T> list(const QJsonArray &array)
{
    QList<T> out;
    out.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        try {
            out.push_back(T::fromJson(array.at(i)));
        } catch (const ServiceDecodingError &e) {
            throw e.nested(QStringLiteral("[%1]").arg(i));
        }
    }
    return out;
}
template <typename T>
QList<T> list(const QJsonObject &o, QLatin1StringView key)
{
    const QJsonArray a = array(o, key);
    return at(key, [&] { return list<T>(a); });
}
template <typename T>
std::optional<QList<T>> optList(const QJsonObject &o, QLatin1StringView key)
{
    const auto a = optArray(o, key);
    if (!a)
        return std::nullopt;
    return at(key, [&] { return list<T>(*a); });
}
template <typename T>
QJsonArray toArray(const QList<T> &values)
{
    QJsonArray out;
    for (const T &v : values)
        out.append(v.toJson());
    return out;
}

// Writes the value under `key` only when present.
template <typename T>
void putOptional(QJsonObject &o, QLatin1StringView key, const std::optional<T> &value)
{
    if (value)
        o.insert(key, QJsonValue(*value));
}

QByteArray encode(const QJsonObject &object);

} // namespace Json

namespace Text {
// The first `count` user-perceived characters (grapheme clusters) of `text`.
QString prefixGraphemes(const QString &text, qsizetype count);
qsizetype graphemeCount(const QString &text);
} // namespace Text
