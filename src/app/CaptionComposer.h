#pragma once

#include <QString>
#include <QStringList>

// Joins a caption with its hashtags into the text that is published.
namespace CaptionComposer {
// Hashtag words from typed text: split at white space, line breaks, "," and ";",
// each given a leading "#", repeats (ignoring letter case) dropped, first spelling kept.
QStringList tags(const QString &text);
// The trimmed caption, a blank line, then the tags joined by single spaces;
// either part alone when the other is empty.
QString caption(const QString &caption, const QString &hashtags);
} // namespace CaptionComposer
