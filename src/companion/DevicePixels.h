#pragma once

#include <QImage>
#include <QPoint>

class QPainter;

// Pictures copied onto a painter's device pixel for pixel, never resampled.
namespace DevicePixels {

// Draws `image`, each of its pixels onto one pixel of the painter's device,
// with its top-left pixel at device pixel `at`, where the painter's
// deviceTransform() takes its coordinates. Right on a plain image of any pixel
// ratio, on a window, and for a child widget painted into its window's
// backing store (whose offset there the device transform already holds).
void draw(QPainter &painter, QPoint at, const QImage &image);

} // namespace DevicePixels
