#include "services/Json.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QTextBoundaryFinder>

#include <cmath>

namespace {

using Kind = ServiceDecodingError::Kind;

const char *typeName(const QJsonValue &v)
{
    switch (v.type()) {
    case QJsonValue::Null: return "null";
    case QJsonValue::Bool: return "a boolean";
    case QJsonValue::Double: return "a number";
    case QJsonValue::String: return "a string";
    case QJsonValue::Array: return "an array";
    case QJsonValue::Object: return "an object";
    case QJsonValue::Undefined: break;
    }
    return "nothing";
}

[[noreturn]] void mismatch(QLatin1StringView key, const char *expected, const QJsonValue &v)
{
    throw ServiceDecodingError(Kind::typeMismatch, QString(key),
                               QStringLiteral("Expected %1 but found %2 instead.")
                                   .arg(QLatin1String(expected), QLatin1String(typeName(v))));
}

// The value at `key`; nullopt when missing or null.
std::optional<QJsonValue> present(const QJsonObject &o, QLatin1StringView key)
{
    const auto it = o.constFind(key);
    if (it == o.constEnd() || it->isNull() || it->isUndefined())
        return std::nullopt;
    return *it;
}

QJsonValue required(const QJsonObject &o, QLatin1StringView key)
{
    const auto it = o.constFind(key);
    if (it == o.constEnd())
        throw ServiceDecodingError(Kind::keyNotFound, QString(key), QStringLiteral("No value associated with the key."));
    if (it->isNull())
        throw ServiceDecodingError(Kind::valueNotFound, QString(key), QStringLiteral("Expected a value but found null instead."));
    return *it;
}

QString asString(QLatin1StringView key, const QJsonValue &v)
{
    if (!v.isString())
        mismatch(key, "a string", v);
    return v.toString();
}

qint64 asInteger(QLatin1StringView key, const QJsonValue &v)
{
    if (!Json::isInteger(v))
        mismatch(key, "an integer", v);
    return v.toInteger();
}

bool asBool(QLatin1StringView key, const QJsonValue &v)
{
    if (!v.isBool())
        mismatch(key, "a boolean", v);
    return v.toBool();
}

QJsonArray asArray(QLatin1StringView key, const QJsonValue &v)
{
    if (!v.isArray())
        mismatch(key, "an array", v);
    return v.toArray();
}

QJsonObject asObject(QLatin1StringView key, const QJsonValue &v)
{
    if (!v.isObject())
        mismatch(key, "an object", v);
    return v.toObject();
}

} // namespace

namespace Json {

QJsonObject parseObject(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        throw ServiceDecodingError(Kind::dataCorrupted, {}, QStringLiteral("The given data was not valid JSON."));
    if (!doc.isObject())
        throw ServiceDecodingError(Kind::typeMismatch, {}, QStringLiteral("Expected an object at the top level."));
    return doc.object();
}

QJsonObject object(const QJsonValue &value) { return asObject(QLatin1StringView(), value); }

bool isInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return false;
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong || variant.typeId() == QMetaType::Int)
        return true;
    const double d = value.toDouble();
    // Integral values written with a fraction or exponent; within the exact range of a double.
    return std::isfinite(d) && std::trunc(d) == d && std::fabs(d) <= 9007199254740992.0;
}

namespace {
// An optional field: absent or null gives none; present, it must have its type.
template <typename Read>
auto optionalField(const QJsonObject &o, QLatin1StringView key, Read read)
    -> std::optional<decltype(read(key, QJsonValue()))>
{
    if (auto v = present(o, key))
        return read(key, *v);
    return std::nullopt;
}
} // namespace

QString string(const QJsonObject &o, QLatin1StringView key) { return asString(key, required(o, key)); }
std::optional<QString> optString(const QJsonObject &o, QLatin1StringView key) { return optionalField(o, key, asString); }
qint64 integer(const QJsonObject &o, QLatin1StringView key) { return asInteger(key, required(o, key)); }
std::optional<qint64> optInteger(const QJsonObject &o, QLatin1StringView key) { return optionalField(o, key, asInteger); }
bool boolean(const QJsonObject &o, QLatin1StringView key) { return asBool(key, required(o, key)); }
std::optional<bool> optBoolean(const QJsonObject &o, QLatin1StringView key) { return optionalField(o, key, asBool); }
QJsonArray array(const QJsonObject &o, QLatin1StringView key) { return asArray(key, required(o, key)); }
std::optional<QJsonArray> optArray(const QJsonObject &o, QLatin1StringView key) { return optionalField(o, key, asArray); }
QJsonObject objectAt(const QJsonObject &o, QLatin1StringView key) { return asObject(key, required(o, key)); }
std::optional<QJsonObject> optObjectAt(const QJsonObject &o, QLatin1StringView key)
{
    return optionalField(o, key, asObject);
}

QByteArray encode(const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

} // namespace Json

namespace Text {

namespace {

char32_t codePointAt(const QString &text, qsizetype i)
{
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(c, text[i + 1]);
    return c.unicode();
}

char32_t codePointBefore(const QString &text, qsizetype i)
{
    const QChar c = text[i - 1];
    if (c.isLowSurrogate() && i >= 2 && text[i - 2].isHighSurrogate())
        return QChar::surrogateToUcs4(text[i - 2], c);
    return c.unicode();
}

// Whether the text may be cut at `i`, whatever the boundary finder says: never
// inside a surrogate pair, before a mark, a joiner, a variation selector or a
// skin tone, nor after a joiner. (Qt 6.4 reports a boundary inside an emoji
// that a Devanagari letter follows.)
bool isCuttable(const QString &text, qsizetype i)
{
    if (i <= 0 || i >= text.size())
        return true;
    if (text[i - 1].isHighSurrogate() && text[i].isLowSurrogate())
        return false;
    const char32_t next = codePointAt(text, i);
    switch (QChar::category(next)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing: return false;
    default: break;
    }
    if (next == 0x200D || (next >= 0xFE00 && next <= 0xFE0F) || (next >= 0x1F3FB && next <= 0x1F3FF))
        return false;
    return codePointBefore(text, i) != 0x200D;
}

} // namespace

QString prefixGraphemes(const QString &text, qsizetype count)
{
    // Every cluster takes at least one UTF-16 unit, so a short text is already within the limit.
    if (text.size() <= count)
        return text;
    if (count <= 0)
        return QString();
    // The finder reads its whole text first: a window of the text is read
    // instead, grown until it holds `count` characters. A boundary of a prefix
    // is a boundary of the whole text before the prefix's last character.
    for (qsizetype window = count * 4;; window *= 2) {
        const bool whole = window >= text.size();
        const QString part = whole ? text : text.left(window);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, part);
        qsizetype seen = 0;
        qsizetype position = 0;
        while (seen < count) {
            const qsizetype next = finder.toNextBoundary();
            if (next < 0 || (!whole && next >= window - 1))
                break;
            if (next < part.size() && !isCuttable(part, next))
                continue;
            position = next;
            ++seen;
        }
        if (seen == count)
            return text.left(position);
        if (whole)
            return text;
    }
}

qsizetype graphemeCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype n = 0;
    for (qsizetype next = finder.toNextBoundary(); next > 0; next = finder.toNextBoundary()) {
        if (isCuttable(text, next))
            ++n;
    }
    return n;
}

} // namespace Text
