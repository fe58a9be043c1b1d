#pragma once

#include <QImage>
#include <QString>

// Reads a picture of a look (face, portrait, poster, pose) within limits: a
// picture whose header claims no size or an absurd one is refused before any
// memory is taken for it.
namespace LookPicture {

inline constexpr qint64 kMaxPixels = 4096 * 4096;

// Null when the file is missing, unreadable, empty or too large.
QImage load(const QString &path);

} // namespace LookPicture
