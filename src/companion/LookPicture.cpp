#include "companion/LookPicture.h"

#include <QImageReader>

QImage LookPicture::load(const QString &path)
{
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!reader.canRead() || size.isEmpty() || qint64(size.width()) * size.height() > kMaxPixels)
        return {};
    QImage image;
    if (!reader.read(&image) || image.isNull() || image.size() != size)
        return {};
    return image;
}
