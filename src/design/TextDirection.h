#pragma once

#include <QString>
#include <QList>
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

// A text from the service or the user (a title, a caption, a message, a name)
// as it is laid out: whatever directional controls it carries act inside it
// alone. What it opens (an embedding, an isolate) is closed at its end, a close
// with nothing of its own open is dropped (it would close the text around it),
// and an override (U+202D, U+202E, up to its U+202C) is dropped with its close:
// it would lay the letters after it out backwards, which no text of these
// means. Each line of it stands alone: what a line opens is closed at its end.
inline QString containedBidi(QStringView text)
{
    enum class Open : char { embedding, override, isolate };
    QString out;
    out.reserve(text.size() + 2);
    QList<Open> open;
    const auto closeAll = [&] {
        while (!open.isEmpty()) {
            const Open last = open.takeLast();
            if (last == Open::embedding)
                out += QChar(0x202C);
            else if (last == Open::isolate)
                out += QChar(0x2069);
        }
    };
    for (const QChar c : text) {
        switch (c.unicode()) {
        case 0x202A: // LEFT-TO-RIGHT EMBEDDING
        case 0x202B: // RIGHT-TO-LEFT EMBEDDING
            open.append(Open::embedding);
            out += c;
            break;
        case 0x202D: // LEFT-TO-RIGHT OVERRIDE
        case 0x202E: // RIGHT-TO-LEFT OVERRIDE
            open.append(Open::override);
            break;
        case 0x202C: // POP DIRECTIONAL FORMATTING: the latest embedding or override, within the innermost isolate
            if (!open.isEmpty() && open.last() != Open::isolate) {
                if (open.takeLast() == Open::embedding)
                    out += c;
            }
            break;
        case 0x2066: // LEFT-TO-RIGHT ISOLATE
        case 0x2067: // RIGHT-TO-LEFT ISOLATE
        case 0x2068: // FIRST STRONG ISOLATE
            open.append(Open::isolate);
            out += c;
            break;
        case 0x2069: // POP DIRECTIONAL ISOLATE: the latest isolate, with what was opened inside it
            if (open.contains(Open::isolate)) {
                while (open.takeLast() != Open::isolate) {
                }
                out += c;
            }
            break;
        case u'\n':
        case u'\r':
        case 0x2029: // PARAGRAPH SEPARATOR
            closeAll();
            out += c;
            break;
        default:
            out += c;
        }
    }
    closeAll();
    return out;
}

// A piece of the service's or the user's (a name, a title, a server's words)
// set into a sentence of the application's: its controls act within it, and
// when it holds right-to-left letters or controls, or the sentence reads right
// to left (`interface`), it is laid out as an isolate of its own (FIRST STRONG
// ISOLATE … POP DIRECTIONAL ISOLATE), reading in its own direction and moving
// nothing of the sentence around it, nor the sentence anything of it (the
// closing full stop of "J.R." in a Hebrew sentence). A piece that is one
// isolate already (a date) is left so, as is a left-to-right one in a
// left-to-right sentence.
inline QString isolatedPiece(QStringView text, Qt::LayoutDirection interface = Qt::LeftToRight)
{
    const QString contained = containedBidi(text);
    bool reorders = false;
    // Whether the piece is one isolate from its first character to its last.
    bool whole = !contained.isEmpty();
    int depth = 0;
    for (qsizetype i = 0; i < contained.size(); ++i) {
        char32_t c = contained[i].unicode();
        const bool last = i == contained.size() - 1;
        if (contained[i].isHighSurrogate() && !last && contained[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(contained[i], contained[i + 1]);
            ++i;
        }
        switch (QChar::direction(c)) {
        case QChar::DirLRI:
        case QChar::DirRLI:
        case QChar::DirFSI:
            whole = whole && (i == 0 || depth > 0);
            ++depth;
            reorders = true;
            break;
        case QChar::DirPDI:
            --depth;
            whole = whole && (depth > 0 || last);
            break;
        case QChar::DirR:
        case QChar::DirAL:
        case QChar::DirAN:
        case QChar::DirLRE:
        case QChar::DirRLE:
        case QChar::DirPDF:
            reorders = true;
            whole = whole && depth > 0;
            break;
        default:
            whole = whole && depth > 0;
        }
    }
    if ((!reorders && interface != Qt::RightToLeft) || whole || contained.isEmpty())
        return contained;
    return QChar(0x2068) + contained + QChar(0x2069);
}
