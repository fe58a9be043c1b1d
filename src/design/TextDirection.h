#pragma once

#include <QString>
#include <QStringView>

// The direction a paragraph reads in, decided once for all of it and never
// line by line: the interface's, so a translation that starts with a Latin
// word ("JPEG, PNG…" in Arabic) or a line of dates in isolates still reads
// from the interface's side. Only a text whose letters are all of the other
// direction reads in its own: an English title in an Arabic window keeps its
// full stop and its ellipsis at its end. A text without letters (numbers,
// marks) takes the interface's.
inline Qt::LayoutDirection textDirection(QStringView text, Qt::LayoutDirection interface)
{
    bool other = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        const QChar::Direction d = QChar::direction(c);
        const bool rtl = d == QChar::DirR || d == QChar::DirAL;
        if (!rtl && d != QChar::DirL)
            continue;
        if ((interface == Qt::RightToLeft) == rtl)
            return interface;
        other = true;
    }
    if (!other)
        return interface;
    return interface == Qt::RightToLeft ? Qt::LeftToRight : Qt::RightToLeft;
}
