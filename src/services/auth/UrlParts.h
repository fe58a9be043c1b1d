#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Small pieces of URL reading shared by the sign-in services.
namespace UrlParts {

// Splits once at the first "=", dropping empty parts ("a=" gives ["a"], "=b" gives ["b"]).
QStringList splitOnce(const QString &piece);

// Percent-decodes `text` as UTF-8; none when a "%" is not followed by two hex
// digits or the bytes are not UTF-8. "+" stays a plus sign.
std::optional<QString> percentDecoded(const QString &text);

// The value of the first query item named exactly `name`: none when there is no
// such item or it has no "=" at all; an item "name=" gives the empty text.
std::optional<QString> queryValue(const QString &encodedQuery, const QString &name);

} // namespace UrlParts
