#include "companion/ShadowPainter.h"

#include <QImage>
#include <QPaintDevice>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// One box-blur pass of radius r over rows (stride 1) or columns (stride w) of an
// 8-bit plane, with running sums; edges count as transparent.
void boxPass(const std::vector<quint16> &src, std::vector<quint16> &dst, int w, int h, int r, bool horizontal)
{
    const int len = horizontal ? w : h, lines = horizontal ? h : w;
    const int step = horizontal ? 1 : w, lineStep = horizontal ? w : 1;
    const int window = 2 * r + 1;
    for (int line = 0; line < lines; ++line) {
        const quint16 *in = src.data() + line * lineStep;
        quint16 *out = dst.data() + line * lineStep;
        int sum = 0;
        for (int i = 0; i < r && i < len; ++i)
            sum += in[i * step];
        for (int i = 0; i < len; ++i) {
            if (i + r < len)
                sum += in[(i + r) * step];
            if (i - r - 1 >= 0)
                sum -= in[(i - r - 1) * step];
            out[i * step] = quint16((sum + window / 2) / window);
        }
    }
}

// An approximately Gaussian blur of standard deviation sigma (pixels).
void blur(std::vector<quint16> &plane, int w, int h, double sigma)
{
    if (sigma < 0.3)
        return;
    std::vector<quint16> tmp(plane.size());
    if (sigma < 0.9) {
        // Too small for boxes: one [1 2 1]/4 pass each way.
        for (int pass = 0; pass < 2; ++pass) {
            const bool horizontal = pass == 0;
            const int len = horizontal ? w : h, lines = horizontal ? h : w;
            const int step = horizontal ? 1 : w, lineStep = horizontal ? w : 1;
            for (int line = 0; line < lines; ++line) {
                const quint16 *in = plane.data() + line * lineStep;
                quint16 *out = tmp.data() + line * lineStep;
                for (int i = 0; i < len; ++i) {
                    const int a = i > 0 ? in[(i - 1) * step] : 0, b = in[i * step];
                    const int c = i + 1 < len ? in[(i + 1) * step] : 0;
                    out[i * step] = quint16((a + 2 * b + c + 2) / 4);
                }
            }
            plane.swap(tmp);
        }
        return;
    }
    // Three boxes of equal radius approximate a Gaussian: variance 3 * (r^2 + r) / 3.
    const int r = std::max(1, int(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(plane, tmp, w, h, r, true);
        boxPass(tmp, plane, w, h, r, false);
    }
}

} // namespace

namespace ShadowPainter {

void paint(QPainter &painter, const QRectF &bounds, double overflow, std::initializer_list<Shadow> shadows,
           const std::function<void(QPainter &)> &draw)
{
    // The margin holds the drawing's overflow and the shadows' reach.
    double reach = 0;
    for (const Shadow &s : shadows)
        reach = std::max(reach, s.radius * 1.5 + std::max(std::abs(s.offset.x()), std::abs(s.offset.y())));
    const double margin = overflow + std::ceil(reach) + 1;
    const QRectF area = bounds.adjusted(-margin, -margin, margin, margin);

    const QTransform device = painter.deviceTransform();
    // A plain positive scale (the usual case) is blitted pixel-aligned; anything
    // else is rendered at its scale and drawn through the transform.
    const bool axisAligned = device.type() <= QTransform::TxScale && device.m11() > 0 && device.m22() > 0 &&
                             std::abs(device.m11() - device.m22()) < 1e-9;
    const double scale = std::sqrt(std::abs(device.determinant()));
    if (scale <= 0 || !std::isfinite(scale))
        return;

    // The fraction of the device position is rendered into the image instead of resampled.
    const QPointF deviceOrigin = device.map(area.topLeft());
    const QPoint pixelOrigin(int(std::floor(deviceOrigin.x())), int(std::floor(deviceOrigin.y())));
    const QPointF fraction = axisAligned ? deviceOrigin - QPointF(pixelOrigin) : QPointF();

    const int w = int(std::ceil(area.width() * scale + 1));
    const int h = int(std::ceil(area.height() * scale + 1));
    if (w <= 0 || h <= 0 || w > 8192 || h > 8192)
        return;

    QImage content(w, h, QImage::Format_ARGB32_Premultiplied);
    content.fill(Qt::transparent);
    // 72 dots per inch: a point size in the drawing is then a size in its units.
    content.setDotsPerMeterX(2835);
    content.setDotsPerMeterY(2835);
    {
        QPainter q(&content);
        q.setRenderHint(QPainter::Antialiasing);
        q.setRenderHint(QPainter::TextAntialiasing);
        q.translate(fraction);
        q.scale(scale, scale);
        q.translate(-area.topLeft());
        draw(q);
    }

    // Composite outward: each shadow goes under everything drawn so far.
    const int n = w * h;
    std::vector<quint16> cover(n), plane;
    QImage result = content;
    for (const Shadow &s : shadows) {
        auto *px = reinterpret_cast<const QRgb *>(result.constBits());
        for (int i = 0; i < n; ++i)
            cover[i] = quint16(qAlpha(px[i]));
        // Shift by the offset (whole device pixels), then blur.
        const int ox = int(std::lround(s.offset.x() * scale)), oy = int(std::lround(s.offset.y() * scale));
        plane.assign(n, 0);
        for (int y = 0; y < h; ++y) {
            const int sy = y - oy;
            if (sy < 0 || sy >= h)
                continue;
            for (int x = 0; x < w; ++x) {
                const int sx = x - ox;
                if (sx >= 0 && sx < w)
                    plane[y * w + x] = cover[sy * w + sx];
            }
        }
        // Shadow radii blur with a standard deviation of half the radius.
        blur(plane, w, h, s.radius * 0.5 * scale);
        const int cr = s.color.red(), cg = s.color.green(), cb = s.color.blue();
        const int ca = int(std::lround(s.color.alphaF() * 255));
        auto *out = reinterpret_cast<QRgb *>(result.bits());
        for (int i = 0; i < n; ++i) {
            const int a = plane[i] * ca / 255;
            if (a == 0)
                continue;
            // Destination-over: the shadow shows where the image is not opaque.
            const QRgb d = out[i];
            const int inv = 255 - qAlpha(d);
            if (inv == 0)
                continue;
            const int sa = a * inv / 255;
            out[i] = qRgba(qRed(d) + cr * sa / 255, qGreen(d) + cg * sa / 255, qBlue(d) + cb * sa / 255,
                           qAlpha(d) + sa);
        }
    }

    if (axisAligned) {
        painter.save();
        painter.resetTransform();
        // deviceTransform includes the device pixel ratio; drawImage in device pixels.
        const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        result.setDevicePixelRatio(dpr);
        painter.drawImage(QPointF(pixelOrigin) / dpr, result);
        painter.restore();
    } else {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(area, result);
        painter.restore();
    }
}

} // namespace ShadowPainter
