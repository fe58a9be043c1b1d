#include "companion/DevicePixels.h"

#include <QPainter>

#include <algorithm>

void DevicePixels::draw(QPainter &painter, QPoint at, const QImage &image)
{
    if (image.isNull())
        return;
    painter.save();
    // What resetTransform() leaves is the device's own mapping: the pixel ratio,
    // and the offset of a child widget painted into its window's backing store.
    // That is undone too, or the picture would land that offset away once more.
    painter.resetTransform();
    painter.setWorldTransform(painter.deviceTransform().inverted());
    // In bands of fewer than 96 rows: Qt's raster engine hands a blend of more
    // spans to a thread pool, whose wake-ups cost more than the copy.
    constexpr int kBand = 64;
    for (int top = 0; top < image.height(); top += kBand) {
        const int rows = std::min(kBand, image.height() - top);
        painter.drawImage(QRectF(at.x(), at.y() + top, image.width(), rows), image,
                          QRectF(0, top, image.width(), rows));
    }
    painter.restore();
}
