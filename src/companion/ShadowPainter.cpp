#include "companion/ShadowPainter.h"

#include "companion/DevicePixels.h"

#include <QImage>
#include <QPaintDevice>

#include <algorithm>
#include <cmath>
#include <cstring>
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
    // The running sum gains src[x + r] while it is inside and loses src[x - r]
    // once it is: three stretches of the row, so no test per pixel.
    const int addEnd = std::max(0, w - r); // x + r < w
    const int subStart = std::min(r, w);   // x - r >= 0
    for (int y = 0; y < in.h; ++y) {
        const quint16 *src = in.v.data() + size_t(y) * w;
        quint16 *dst = out.v.data() + size_t(y) * w;
        quint32 sum = 0;
        for (int i = 0; i < r && i < w; ++i)
            sum += src[i];
        int x = 0;
        for (; x < std::min(addEnd, subStart); ++x) {
            sum += src[x + r];
            dst[x] = quint16((sum * inv) >> 16);
        }
        for (; x < addEnd; ++x) {
            sum += src[x + r];
            dst[x] = quint16((sum * inv) >> 16);
            sum -= src[x - r];
        }
        for (; x < subStart; ++x)
            dst[x] = quint16((sum * inv) >> 16);
        for (; x < w; ++x) {
            dst[x] = quint16((sum * inv) >> 16);
            sum -= src[x - r];
        }
    }
}

void boxColumns(const Plane &in, Plane &out, int r, std::vector<quint32> &sums)
{
    const int w = in.w, h = in.h;
    const quint32 inv = (1u << 16) / quint32(2 * r + 1);
    sums.assign(w, 0);
    quint32 *acc = sums.data();
    for (int y = 0; y < r && y < h; ++y) {
        const quint16 *src = in.v.data() + size_t(y) * w;
        for (int x = 0; x < w; ++x)
            acc[x] += src[x];
    }
    for (int y = 0; y < h; ++y) {
        if (y + r < h) {
            const quint16 *add = in.v.data() + size_t(y + r) * w;
            for (int x = 0; x < w; ++x)
                acc[x] += add[x];
        }
        quint16 *dst = out.v.data() + size_t(y) * w;
        for (int x = 0; x < w; ++x)
            dst[x] = quint16((acc[x] * inv) >> 16);
        if (y - r >= 0) {
            const quint16 *sub = in.v.data() + size_t(y - r) * w;
            for (int x = 0; x < w; ++x)
                acc[x] -= sub[x];
        }
    }
}

// Working memory kept between paints: the figure is painted every frame, and
// planes of this size would otherwise be fresh pages each time.
struct Scratch {
    QImage content;
    Plane plane, half, tmp;
    std::vector<quint32> sums;
};

Scratch &scratch()
{
    thread_local Scratch s;
    return s;
}

// An approximately Gaussian blur of standard deviation sigma (pixels).
void blur(Plane &plane, double sigma, Plane &tmp, std::vector<quint32> &sums)
{
    if (sigma < 0.3)
        return;
    tmp.w = plane.w;
    tmp.h = plane.h;
    tmp.v.resize(plane.v.size());
    const int w = plane.w, h = plane.h;
    if (sigma < 0.9) {
        // Too small for boxes: one [1 2 1] / 4 pass each way.
        for (int y = 0; y < h; ++y) {
            const quint16 *src = plane.v.data() + size_t(y) * w;
            quint16 *dst = tmp.v.data() + size_t(y) * w;
            if (w == 1) {
                dst[0] = quint16((2 * src[0] + 2) >> 2);
                continue;
            }
            dst[0] = quint16((2 * src[0] + src[1] + 2) >> 2);
            for (int x = 1; x + 1 < w; ++x)
                dst[x] = quint16((src[x - 1] + 2 * src[x] + src[x + 1] + 2) >> 2);
            dst[w - 1] = quint16((src[w - 2] + 2 * src[w - 1] + 2) >> 2);
        }
        for (int y = 0; y < h; ++y) {
            const quint16 *mid = tmp.v.data() + size_t(y) * w;
            quint16 *dst = plane.v.data() + size_t(y) * w;
            const quint16 *up = y > 0 ? mid - w : nullptr;
            const quint16 *down = y + 1 < h ? mid + w : nullptr;
            if (up && down) {
                for (int x = 0; x < w; ++x)
                    dst[x] = quint16((up[x] + 2 * mid[x] + down[x] + 2) >> 2);
            } else {
                for (int x = 0; x < w; ++x)
                    dst[x] = quint16(((up ? up[x] : 0) + 2 * mid[x] + (down ? down[x] : 0) + 2) >> 2);
            }
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


// Pixels a blur of this sigma spreads coverage by, on each side.
int blurReach(double sigma)
{
    if (sigma < 0.3)
        return 0;
    if (sigma < 0.9)
        return 1;
    const int r = std::max(1, int(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
    return 3 * r;
}

// A rectangle of pixels, half-open.
struct Span {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
    int width() const { return x1 - x0; }
    int height() const { return y1 - y0; }
};

// The smallest span holding every pixel with coverage.
Span coverage(const QImage &image)
{
    const int w = image.width(), h = image.height();
    Span s{w, h, 0, 0};
    for (int y = 0; y < h; ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        int first = 0;
        while (first < w && qAlpha(row[first]) == 0)
            ++first;
        if (first == w)
            continue;
        int last = w - 1;
        while (last > first && qAlpha(row[last]) == 0)
            --last;
        s.x0 = std::min(s.x0, first);
        s.x1 = std::max(s.x1, last + 1);
        s.y0 = std::min(s.y0, y);
        s.y1 = y + 1;
    }
    return s;
}

bool g_wholeImage = false;

// Composite outward: each shadow goes under everything drawn so far. Only the
// pixels a shadow can reach are worked on: outside the covered span grown by the
// blur's reach every plane holds zeros, so the result is the same as over the
// whole image.
void composite(QImage &result, std::initializer_list<ShadowPainter::Shadow> shadows, double scale, Scratch &work)
{
    const int w = result.width(), h = result.height();
    auto *out = reinterpret_cast<QRgb *>(result.bits());
    Plane &plane = work.plane;
    Plane &half = work.half;
    Span covered = g_wholeImage ? Span{0, 0, w, h} : coverage(result);
    if (covered.empty())
        return;
    for (const ShadowPainter::Shadow &s : shadows) {
        const double sigma = s.radius * 0.5 * scale;
        // A wide shadow is blurred at half resolution: a quarter of the work, and no
        // visible difference in something this soft.
        const bool halved = sigma >= 1.5;
        const int reach = halved ? 2 * (blurReach(sigma / 2) + 1) : blurReach(sigma);
        Span area{std::max(0, covered.x0 - reach), std::max(0, covered.y0 - reach), std::min(w, covered.x1 + reach),
                  std::min(h, covered.y1 + reach)};
        if (halved) {
            // Half-resolution samples pair the image's own even and odd pixels.
            area.x0 &= ~1;
            area.y0 &= ~1;
        }
        const int aw = area.width(), ah = area.height();
        if (halved) {
            half.w = (aw + 1) / 2;
            half.h = (ah + 1) / 2;
            half.v.assign(size_t(half.w) * half.h, 0);
            for (int y = 0; y < ah; ++y) {
                const QRgb *row = out + size_t(area.y0 + y) * w + area.x0;
                quint16 *dst = half.v.data() + size_t(y / 2) * half.w;
                for (int x = 0; x < aw; ++x)
                    dst[x / 2] += quint16(qAlpha(row[x]));
            }
            for (auto &v : half.v)
                v = quint16((v + 2) >> 2);
            blur(half, sigma / 2, work.tmp, work.sums);
        } else {
            plane.w = aw;
            plane.h = ah;
            plane.v.resize(size_t(aw) * ah);
            for (int y = 0; y < ah; ++y) {
                const QRgb *row = out + size_t(area.y0 + y) * w + area.x0;
                quint16 *dst = plane.v.data() + size_t(y) * aw;
                for (int x = 0; x < aw; ++x)
                    dst[x] = quint16(qAlpha(row[x]));
            }
            blur(plane, sigma, work.tmp, work.sums);
        }
        const int cr = s.color.red(), cg = s.color.green(), cb = s.color.blue();
        const int ca = int(std::lround(s.color.alphaF() * 255));
        // The blurred coverage is read back shifted by the offset (whole device pixels).
        const int ox = int(std::lround(s.offset.x() * scale)), oy = int(std::lround(s.offset.y() * scale));
        const int x0 = std::max(0, area.x0 + ox), x1 = std::min(w, area.x1 + ox);
        const int y0 = std::max(0, area.y0 + oy), y1 = std::min(h, area.y1 + oy);
        auto shade = [&](QRgb *dst, int x, int c) {
            if (c == 0)
                return;
            const QRgb d = dst[x];
            const int inv = 255 - qAlpha(d);
            if (inv == 0)
                return;
            const int a = mul255(c, ca);
            if (a == 0)
                return;
            // Destination-over: the shadow shows where the image is not opaque.
            const int sa = mul255(a, inv);
            dst[x] = qRgba(qRed(d) + mul255(cr, sa), qGreen(d) + mul255(cg, sa), qBlue(d) + mul255(cb, sa),
                           qAlpha(d) + sa);
        };
        for (int y = y0; y < y1; ++y) {
            QRgb *dst = out + size_t(y) * w;
            const int sy = y - oy - area.y0;
            const int sx = ox + area.x0;
            if (halved) {
                // A half-resolution plane is read back by nearest sample: its steps are far
                // below one level of an 8-bit channel after a blur this wide.
                const quint16 *src = half.v.data() + size_t(sy >> 1) * half.w;
                for (int x = x0; x < x1; ++x)
                    shade(dst, x, src[(x - sx) >> 1]);
            } else {
                const quint16 *src = plane.v.data() + size_t(sy) * aw;
                for (int x = x0; x < x1; ++x)
                    shade(dst, x, src[x - sx]);
            }
        }
        covered = Span{std::min(covered.x0, x0), std::min(covered.y0, y0), std::max(covered.x1, x1),
                       std::max(covered.y1, y1)};
    }
}

} // namespace

namespace ShadowPainter {

void workOnWholeImage(bool whole) { g_wholeImage = whole; }

void paint(QPainter &painter, const QRectF &bounds, double overflow, std::initializer_list<Shadow> shadows,
           const std::function<void(QPainter &)> &draw, Cache *cache)
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

    // What the image's pixels depend on besides the drawing: the linear part of
    // the transform and, when blitted pixel-aligned, the sub-pixel fraction.
    // The fraction is compared to a millionth of a pixel, far below the rasterizer's
    // own steps: a whole-pixel move computes it with a different rounding error.
    const QTransform rendering(device.m11(), device.m12(), device.m21(), device.m22(), fraction.x(), fraction.y());
    auto sameRendering = [&](const QTransform &t) {
        return t.m11() == rendering.m11() && t.m12() == rendering.m12() && t.m21() == rendering.m21() &&
               t.m22() == rendering.m22() && std::abs(t.dx() - rendering.dx()) < 1e-6 &&
               std::abs(t.dy() - rendering.dy()) < 1e-6;
    };
    Scratch &work = scratch();
    QImage *target = &work.content;
    bool fresh = true;
    if (cache) {
        fresh = !(cache->valid_ && cache->bounds_ == bounds && cache->overflow_ == overflow &&
                  sameRendering(cache->device_) && std::equal(shadows.begin(), shadows.end(), cache->shadows_.begin(),
                                                            cache->shadows_.end()));
        target = &cache->image_;
    }

    if (fresh) {
        if (cache)
            cache->valid_ = false;
        // Reused while no one else holds it (a paint engine may keep a reference).
        if (target->width() != w || target->height() != h || !target->isDetached() ||
            target->format() != QImage::Format_ARGB32_Premultiplied)
            *target = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
        QImage &content = *target;
        content.setDevicePixelRatio(1);
        // Cleared by hand: QImage::fill hands images this size to a thread pool,
        // whose wake-ups cost more than the clearing.
        std::memset(content.bits(), 0, size_t(content.sizeInBytes()));
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
        composite(content, shadows, scale, work);
        if (cache) {
            cache->valid_ = true;
            cache->bounds_ = bounds;
            cache->overflow_ = overflow;
            cache->shadows_.assign(shadows.begin(), shadows.end());
            cache->device_ = rendering;
        }
    }
    QImage &result = *target;

    if (axisAligned) {
        DevicePixels::draw(painter, pixelOrigin, result);
    } else {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        result.setDevicePixelRatio(1);
        painter.drawImage(area, result);
        painter.restore();
    }
}

} // namespace ShadowPainter
