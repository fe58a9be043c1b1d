#include "services/auth/UrlParts.h"

#include <QStringDecoder>

#include <cctype>

namespace UrlParts {

QStringList splitOnce(const QString &piece)
{
    const qsizetype at = piece.indexOf(QLatin1Char('='));
    QStringList parts;
    if (at < 0) {
        if (!piece.isEmpty())
            parts << piece;
        return parts;
    }
    const QString left = piece.left(at);
    const QString right = piece.mid(at + 1);
    if (!left.isEmpty())
        parts << left;
    if (!right.isEmpty())
        parts << right;
    return parts;
}

std::optional<QString> percentDecoded(const QString &text)
{
    const QByteArray raw = text.toUtf8();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw.at(i) != '%')
            continue;
        if (i + 2 >= raw.size() || !isxdigit(uchar(raw.at(i + 1))) || !isxdigit(uchar(raw.at(i + 2))))
            return std::nullopt;
        i += 2;
    }
    const QByteArray bytes = QByteArray::fromPercentEncoding(raw);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString out = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return out;
}

std::optional<QString> queryValue(const QString &encodedQuery, const QString &name)
{
    for (const QString &item : encodedQuery.split(QLatin1Char('&'))) {
        const qsizetype at = item.indexOf(QLatin1Char('='));
        const QString rawName = at < 0 ? item : item.left(at);
        if (percentDecoded(rawName).value_or(rawName) != name)
            continue;
        if (at < 0)
            return std::nullopt;
        const QString rawValue = item.mid(at + 1);
        return percentDecoded(rawValue).value_or(rawValue);
    }
    return std::nullopt;
}

} // namespace UrlParts
