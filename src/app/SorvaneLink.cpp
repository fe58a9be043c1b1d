#include "app/SorvaneLink.h"

#include "services/auth/UrlParts.h"

namespace {

bool isSchemeChar(QChar c, bool first)
{
    if (c.unicode() >= 0x80)
        return false;
    const char a = char(c.unicode());
    if ((a >= 'a' && a <= 'z') || (a >= 'A' && a <= 'Z'))
        return true;
    return !first && ((a >= '0' && a <= '9') || a == '+' || a == '-' || a == '.');
}

// Characters no link may carry raw: controls, spaces and anything a browser
// would have percent-encoded on the way.
bool isPlainLinkText(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u <= 0x20 || u == 0x7f || u == '\\' || u == '"' || u == '<' || u == '>' || u == '`' || u == '{' ||
            u == '}' || u == '|' || u == '^')
            return false;
    }
    return true;
}

} // namespace

std::optional<SorvaneLink> SorvaneLink::parse(const QString &input)
{
    const QString raw = input.trimmed();
    if (raw.isEmpty() || raw.size() > kMaxLength || !isPlainLinkText(raw))
        return std::nullopt;

    const qsizetype colon = raw.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    for (qsizetype i = 0; i < colon; ++i) {
        if (!isSchemeChar(raw.at(i), i == 0))
            return std::nullopt;
    }
    if (raw.left(colon).compare(QLatin1String("sorvane"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    if (raw.mid(colon + 1, 2) != QLatin1String("//"))
        return std::nullopt;

    SorvaneLink link;
    QString rest = raw.mid(colon + 3);
    if (const qsizetype hash = rest.indexOf(QLatin1Char('#')); hash >= 0) {
        link.hasFragment = true;
        link.fragment = rest.mid(hash + 1);
        rest.truncate(hash);
    }
    if (const qsizetype question = rest.indexOf(QLatin1Char('?')); question >= 0) {
        link.hasQuery = true;
        link.query = rest.mid(question + 1);
        rest.truncate(question);
    }
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    link.host = slash < 0 ? rest : rest.left(slash);
    link.path = slash < 0 ? QString() : rest.mid(slash);
    // A user or a port makes the host something other than what is written.
    if (link.host.isEmpty() || link.host.contains(QLatin1Char('@')) || link.host.contains(QLatin1Char(':')))
        return std::nullopt;
    return link;
}

std::optional<QString> SorvaneLink::queryItem(const QString &name) const
{
    if (!hasQuery)
        return std::nullopt;
    for (const QString &item : query.split(QLatin1Char('&'))) {
        const qsizetype at = item.indexOf(QLatin1Char('='));
        const QString rawName = at < 0 ? item : item.left(at);
        if (UrlParts::percentDecoded(rawName) != name)
            continue;
        if (at < 0)
            return std::nullopt;
        return UrlParts::percentDecoded(item.mid(at + 1));
    }
    return std::nullopt;
}
