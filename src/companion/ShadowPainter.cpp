#include "companion/ShadowPainter.h"

#include <QImage>
#include <QPaintDevice>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Blurs of an 8-bit coverage plane (kept in 16 bits), edges transparent. The
// horizontal pass runs along rows; the vertical pass keeps running column sums
// and also walks rows, so both stay in cache.
struct Plane {
    int w = 0, h = 0;
    std::vector<quint16> v;
};

void boxRows(const Plane &in, Plane &out, int r)
{
    const int w = in.w;
    const quint32 inv = (1u << 16) / quint32(2 * r + 1);
    for (int y = 0; y < in.h; ++y) {
        const quint16 *src = in.v.data() + y * w;
        quint16 *dst = out.v.data() + y * w;
        quint32 sum = 0;
        for (int i = 0; i < r && i < w; ++i)
            sum += src[i];
        for (int x = 0; x < w; ++x) {
            if (x + r < w)
                sum += src[x + r];
            dst[x] = quint16((sum * inv) >> 16);
            if (x - r >= 0)
                sum -= src[x - r];
        }
    }
}

void boxColumns(const Plane &in, Plane &out, int r, std::vector<quint32> &sums)
{
    const int w = in.w, h = in.h;
    const quint32 inv = (1u << 16) / quint32(2 * r + 1);
    sums.assign(w, 0);
    for (int y = 0; y < r && y < h; ++y) {
        const quint16 *src = in.v.data() + y * w;
        for (int x = 0; x < w; ++x)
            sums[x] += src[x];
    }
    for (int y = 0; y < h; ++y) {
        if (y + r < h) {
            const quint16 *add = in.v.data() + (y + r) * w;
            for (int x = 0; x < w; ++x)
                sums[x] += add[x];
        }
        quint16 *dst = out.v.data() + y * w;
        for (int x = 0; x < w; ++x)
            dst[x] = quint16((sums[x] * inv) >> 16);
        if (y - r >= 0) {
            const quint16 *sub = in.v.data() + (y - r) * w;
            for (int x = 0; x < w; ++x)
                sums[x] -= sub[x];
        }
    }
}

// An approximately Gaussian blur of standard deviation sigma (pixels).
void blur(Plane &plane, double sigma)
{
    if (sigma < 0.3)
        return;
    Plane tmp{plane.w, plane.h, std::vector<quint16>(plane.v.size())};
    std::vector<quint32> sums;
    if (sigma < 0.9) {
        // Too small for boxes: one [1 2 1] / 4 pass each way.
        const int w = plane.w, h = plane.h;
        for (int y = 0; y < h; ++y) {
            const quint16 *src = plane.v.data() + y * w;
            quint16 *dst = tmp.v.data() + y * w;
            for (int x = 0; x < w; ++x) {
                const int a = x > 0 ? src[x - 1] : 0, c = x + 1 < w ? src[x + 1] : 0;
                dst[x] = quint16((a + 2 * src[x] + c + 2) >> 2);
            }
        }
        for (int y = 0; y < h; ++y) {
            const quint16 *up = y > 0 ? tmp.v.data() + (y - 1) * w : nullptr;
            const quint16 *mid = tmp.v.data() + y * w;
            const quint16 *down = y + 1 < h ? tmp.v.data() + (y + 1) * w : nullptr;
            quint16 *dst = plane.v.data() + y * w;
            for (int x = 0; x < w; ++x)
                dst[x] = quint16(((up ? up[x] : 0) + 2 * mid[x] + (down ? down[x] : 0) + 2) >> 2);
        }
        return;
    }
    // Three boxes of radius r have a variance of r^2 + r.
    const int r = std::max(1, int(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
    for (int pass = 0; pass < 3; ++pass) {
        boxRows(plane, tmp, r);
        boxColumns(tmp, plane, r, sums);
    }
}

inline int mul255(int a, int b) // a * b / 255, rounded
{
    const int t = a * b + 128;
    return (t + (t >> 8)) >> 8;
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
    Plane plane{w, h, std::vector<quint16>(size_t(w) * h)};
    QImage &result = content;
    auto *out = reinterpret_cast<QRgb *>(result.bits());
    const int n = w * h;
    Plane half;
    for (const Shadow &s : shadows) {
        const double sigma = s.radius * 0.5 * scale;
        // A wide shadow is blurred at half resolution: a quarter of the work, and no
        // visible difference in something this soft.
        const bool halved = sigma >= 1.5;
        if (halved) {
            half.w = (w + 1) / 2;
            half.h = (h + 1) / 2;
            half.v.assign(size_t(half.w) * half.h, 0);
            for (int y = 0; y < h; ++y) {
                const QRgb *row = out + y * w;
                quint16 *dst = half.v.data() + (y / 2) * half.w;
                for (int x = 0; x < w; ++x)
                    dst[x / 2] += quint16(qAlpha(row[x]));
            }
            for (auto &v : half.v)
                v = quint16((v + 2) >> 2);
            blur(half, sigma / 2);
        } else {
            for (int i = 0; i < n; ++i)
                plane.v[i] = quint16(qAlpha(out[i]));
            blur(plane, sigma);
        }
        // A half-resolution plane is read back by nearest sample: its steps are far
        // below one level of an 8-bit channel after a blur this wide.
        const quint16 *full = plane.v.data();
        const quint16 *halfData = half.v.data();
        const int halfW = half.w;
        const int cr = s.color.red(), cg = s.color.green(), cb = s.color.blue();
        const int ca = int(std::lround(s.color.alphaF() * 255));
        // The blurred coverage is read back shifted by the offset (whole device pixels).
        const int ox = int(std::lround(s.offset.x() * scale)), oy = int(std::lround(s.offset.y() * scale));
        for (int y = std::max(0, oy); y < std::min(h, h + oy); ++y) {
            QRgb *dst = out + y * w;
            const int sy = y - oy;
            const quint16 *src = halved ? halfData + (sy >> 1) * halfW : full + sy * w;
            for (int x = std::max(0, ox); x < std::min(w, w + ox); ++x) {
                const int sx = x - ox;
                const int c = halved ? src[sx >> 1] : src[sx];
                if (c == 0)
                    continue;
                const QRgb d = dst[x];
                const int inv = 255 - qAlpha(d);
                if (inv == 0)
                    continue;
                const int a = mul255(c, ca);
                if (a == 0)
                    continue;
                // Destination-over: the shadow shows where the image is not opaque.
                const int sa = mul255(a, inv);
                dst[x] = qRgba(qRed(d) + mul255(cr, sa), qGreen(d) + mul255(cg, sa), qBlue(d) + mul255(cb, sa),
                               qAlpha(d) + sa);
            }
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
