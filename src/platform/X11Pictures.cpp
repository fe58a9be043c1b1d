#include "platform/X11Pictures.h"

#include "platform/X11.h"

#include <QRect>

#include <xcb/render.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace X11 {

namespace {

// The server's 32-bit ARGB picture format (a8r8g8b8), asked once per connection.
xcb_render_pictformat_t argbFormat(xcb_connection_t *c)
{
    static xcb_connection_t *asked = nullptr;
    static xcb_render_pictformat_t format = 0;
    if (asked == c)
        return format;
    asked = c;
    format = 0;
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_render_id);
    if (!ext || !ext->present)
        return format;
    // Solid fills (a fading part's mask) came with 0.10.
    xcb_render_query_version_reply_t *version = xcb_render_query_version_reply(
        c, xcb_render_query_version(c, XCB_RENDER_MAJOR_VERSION, XCB_RENDER_MINOR_VERSION), nullptr);
    const bool recent = version && (version->major_version > 0 || version->minor_version >= 10);
    std::free(version);
    if (!recent)
        return format;
    xcb_render_query_pict_formats_reply_t *reply =
        xcb_render_query_pict_formats_reply(c, xcb_render_query_pict_formats(c), nullptr);
    if (!reply)
        return format;
    for (auto it = xcb_render_query_pict_formats_formats_iterator(reply); it.rem; xcb_render_pictforminfo_next(&it)) {
        const xcb_render_pictforminfo_t &f = *it.data;
        const xcb_render_directformat_t &d = f.direct;
        if (f.type == XCB_RENDER_PICT_TYPE_DIRECT && f.depth == 32 && d.alpha_shift == 24 && d.alpha_mask == 0xff &&
            d.red_shift == 16 && d.red_mask == 0xff && d.green_shift == 8 && d.green_mask == 0xff &&
            d.blue_shift == 0 && d.blue_mask == 0xff) {
            format = f.id;
            break;
        }
    }
    std::free(reply);
    return format;
}

} // namespace

PictureWindow::PictureWindow(unsigned int window) : m_window(window)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    // Pixels are sent as they lie in a QImage: 32 bits, least significant byte first.
    if (xcb_get_setup(c)->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST || !argbFormat(c))
        return;
    xcb_get_geometry_reply_t *geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    const bool deep = geometry && geometry->depth == 32;
    std::free(geometry);
    if (!deep)
        return;
    m_gc = xcb_generate_id(c);
    const uint32_t values[] = {0}; // no exposures from copies
    xcb_create_gc(c, m_gc, window, XCB_GC_GRAPHICS_EXPOSURES, values);
    m_usable = true;
}

PictureWindow::~PictureWindow()
{
    xcb_connection_t *c = connection();
    if (!c || !m_usable)
        return;
    if (m_back) {
        xcb_render_free_picture(c, m_backPicture);
        xcb_free_pixmap(c, m_back);
    }
    xcb_free_gc(c, m_gc);
    xcb_flush(c);
}

unsigned int PictureWindow::upload(const QImage &source)
{
    xcb_connection_t *c = connection();
    if (!c || !m_usable || source.isNull() || source.width() > 32767 || source.height() > 32767)
        return 0;
    const QImage image = source.format() == QImage::Format_ARGB32_Premultiplied
                             ? source
                             : source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, 32, pixmap, m_window, uint16_t(image.width()), uint16_t(image.height()));
    // In bands that each fit one request.
    const size_t line = size_t(image.width()) * 4;
    const size_t limit = size_t(xcb_get_maximum_request_length(c)) * 4 - 64;
    const int rows = int(std::max<size_t>(1, limit / line));
    for (int y = 0; y < image.height(); y += rows) {
        const int n = std::min(rows, image.height() - y);
        QByteArray band;
        const uint8_t *data = image.constScanLine(y);
        if (image.bytesPerLine() != qsizetype(line)) {
            band.reserve(qsizetype(line) * n);
            for (int r = 0; r < n; ++r)
                band.append(reinterpret_cast<const char *>(image.constScanLine(y + r)), qsizetype(line));
            data = reinterpret_cast<const uint8_t *>(band.constData());
        }
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, m_gc, uint16_t(image.width()), uint16_t(n), 0, int16_t(y),
                      0, 32, uint32_t(line * size_t(n)), data);
    }
    const xcb_render_picture_t picture = xcb_generate_id(c);
    xcb_render_create_picture(c, picture, pixmap, argbFormat(c), 0, nullptr);
    // The picture keeps the pixmap alive.
    xcb_free_pixmap(c, pixmap);
    ++m_count;
    return picture;
}

void PictureWindow::release(unsigned int picture)
{
    xcb_connection_t *c = connection();
    if (!c || !m_usable || !picture)
        return;
    xcb_render_free_picture(c, picture);
    --m_count;
}

unsigned int PictureWindow::present(QSize size, const std::vector<Placed> &parts)
{
    xcb_connection_t *c = connection();
    if (!c || !m_usable || size.isEmpty())
        return 0;
    size = size.boundedTo(QSize(32767, 32767));
    if (!m_back || m_backSize.width() < size.width() || m_backSize.height() < size.height()) {
        if (m_back) {
            xcb_render_free_picture(c, m_backPicture);
            xcb_free_pixmap(c, m_back);
        }
        // A little room to grow, so a cat that changes pose keeps one buffer.
        m_backSize = size.expandedTo(m_backSize).grownBy(QMargins(0, 0, 32, 32)).boundedTo(QSize(32767, 32767));
        m_back = xcb_generate_id(c);
        xcb_create_pixmap(c, 32, m_back, m_window, uint16_t(m_backSize.width()), uint16_t(m_backSize.height()));
        m_backPicture = xcb_generate_id(c);
        xcb_render_create_picture(c, m_backPicture, m_back, argbFormat(c), 0, nullptr);
    }
    const xcb_render_color_t clear{0, 0, 0, 0};
    const xcb_rectangle_t all{0, 0, uint16_t(size.width()), uint16_t(size.height())};
    xcb_render_fill_rectangles(c, XCB_RENDER_PICT_OP_SRC, m_backPicture, clear, 1, &all);
    for (const Placed &p : parts) {
        if (!p.picture || p.opacity <= 0)
            continue;
        // A fading part is laid through a mask of one alpha: the same picture serves the whole fade.
        xcb_render_picture_t mask = XCB_NONE;
        if (p.opacity < 1) {
            mask = xcb_generate_id(c);
            const auto alpha = uint16_t(std::lround(std::clamp(p.opacity, 0.0, 1.0) * 0xffff));
            xcb_render_create_solid_fill(c, mask, xcb_render_color_t{0, 0, 0, alpha});
        }
        xcb_render_composite(c, XCB_RENDER_PICT_OP_OVER, p.picture, mask, m_backPicture, 0, 0, 0, 0,
                             int16_t(std::clamp(p.at.x(), -32768, 32767)), int16_t(std::clamp(p.at.y(), -32768, 32767)),
                             uint16_t(std::clamp(p.size.width(), 0, 65535)),
                             uint16_t(std::clamp(p.size.height(), 0, 65535)));
        if (mask != XCB_NONE)
            xcb_render_free_picture(c, mask);
    }
    const xcb_void_cookie_t copy =
        xcb_copy_area(c, m_back, m_window, m_gc, 0, 0, 0, 0, uint16_t(size.width()), uint16_t(size.height()));
    m_shown = size;
    xcb_flush(c);
    return copy.sequence;
}

void PictureWindow::repaint(const QRect &area)
{
    xcb_connection_t *c = connection();
    if (!c || !m_usable || !m_back)
        return;
    const QRect r = area.intersected(QRect(QPoint(0, 0), m_shown));
    if (r.isEmpty())
        return;
    xcb_copy_area(c, m_back, m_window, m_gc, int16_t(r.x()), int16_t(r.y()), int16_t(r.x()), int16_t(r.y()),
                  uint16_t(r.width()), uint16_t(r.height()));
    xcb_flush(c);
}

} // namespace X11
