#pragma once

// Finding drawn words in pictures: what a widget shows (from the X server when
// there is one), the inked part of a picture, and where a piece of text drawn
// alone sits inside a longer drawing.

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include "support/TestSupport.h"

#include <cmath>
#include <limits>
#include <vector>

namespace zktest {

// What a widget shows: on an X server, the server's pixels of its part of its
// window; offscreen, its own drawing. Given `unlike`, what it shows once that
// has changed from it (the server shows a new drawing a little later).
inline QImage shownPixels(QWidget *widget, const QImage &unlike = {})
{
    const bool server = QGuiApplication::platformName() == QLatin1String("xcb");
    if (server && !QTest::qWaitForWindowExposed(widget->window()))
        return {};
    const auto grab = [&] {
        if (!server)
            return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
        widget->repaint();
        const QPoint at = widget->mapTo(widget->window(), QPoint(0, 0));
        return QGuiApplication::primaryScreen()
            ->grabWindow(widget->window()->winId(), at.x(), at.y(), widget->width(), widget->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    QImage shot = grab();
    if (!unlike.isNull() && !spinUntil([&] { return (shot = grab()) != unlike; }))
        return {};
    return shot;
}

// How far a pixel stands from the ground colour, in grey levels.
inline int inkOn(QRgb ground, QRgb pixel) { return std::abs(qGray(pixel) - qGray(ground)); }

// The box of the pixels that stand out from the picture's top-left corner.
inline QRect inkBox(const QImage &image, int threshold = 40)
{
    QRect box;
    const QRgb ground = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (inkOn(ground, image.pixel(x, y)) > threshold)
                box |= QRect(x, y, 1, 1);
    return box;
}

struct TextMatch {
    QPoint at;          // the top-left of the best place
    double difference;  // mean grey difference there, 0 to 255
};

// A picture's grey levels softened over 3 x 3 pixels, so that text drawn a
// fraction of a pixel further along still compares close.
inline std::vector<double> softGrey(const QImage &image)
{
    const int w = image.width(), h = image.height();
    std::vector<double> out(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double sum = 0;
            int n = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    if (x + dx < 0 || x + dx >= w || y + dy < 0 || y + dy >= h)
                        continue;
                    sum += qGray(image.pixel(x + dx, y + dy));
                    ++n;
                }
            }
            out[size_t(y) * w + x] = sum / n;
        }
    }
    return out;
}

// Where `part` (a piece cut from a drawing on the same ground) sits inside
// `picture`: the place whose softened pixels differ least from it.
inline TextMatch findDrawn(const QImage &picture, const QImage &part)
{
    const std::vector<double> big = softGrey(picture), small = softGrey(part);
    const int pw = picture.width(), w = part.width(), h = part.height();
    TextMatch best{{-1, -1}, std::numeric_limits<double>::max()};
    for (int y = 0; y + h <= picture.height(); ++y) {
        for (int x = 0; x + w <= pw; ++x) {
            double sum = 0;
            for (int j = 0; j < h && sum < best.difference * w * h; ++j)
                for (int i = 0; i < w; ++i)
                    sum += std::abs(big[size_t(y + j) * pw + x + i] - small[size_t(j) * w + i]);
            const double mean = sum / (w * h);
            if (mean < best.difference)
                best = {{x, y}, mean};
        }
    }
    return best;
}

} // namespace zktest
