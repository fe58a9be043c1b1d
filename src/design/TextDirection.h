#pragma once

#include <QString>

// The direction a text reads in by its own first strong letter, whatever the
// window's: an English title in an Arabic window is cut at its right end.
inline Qt::LayoutDirection textDirection(const QString &text)
{
    return text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
}
