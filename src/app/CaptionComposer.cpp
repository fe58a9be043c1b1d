#include "app/CaptionComposer.h"

#include <QSet>

namespace CaptionComposer {

QStringList tags(const QString &text)
{
    QStringList out;
    QSet<QString> seen;
    QString piece;
    auto flush = [&] {
        const QString trimmed = piece.trimmed();
        piece.clear();
        if (trimmed.isEmpty())
            return;
        const QString tag = trimmed.startsWith(QLatin1Char('#')) ? trimmed : QLatin1Char('#') + trimmed;
        const QString folded = tag.toCaseFolded();
        if (seen.contains(folded))
            return;
        seen.insert(folded);
        out.push_back(tag);
    };
    for (const QChar c : text) {
        if (c.isSpace() || c == QLatin1Char(',') || c == QLatin1Char(';'))
            flush();
        else
            piece.append(c);
    }
    flush();
    return out;
}

QString caption(const QString &caption, const QString &hashtags)
{
    const QString body = caption.trimmed();
    const QString joined = tags(hashtags).join(QLatin1Char(' '));
    if (body.isEmpty())
        return joined;
    if (joined.isEmpty())
        return body;
    return body + QStringLiteral("\n\n") + joined;
}

} // namespace CaptionComposer
