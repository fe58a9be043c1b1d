#pragma once

// Finding drawn words in pictures: what a widget shows (from the X server when
// there is one), and where a piece of a text block's text, drawn alone by the
// block, stands in its drawing of the whole; and the keyboard's ring round a
// control as the X server shows it.

#include "design/DesignFonts.h"
#include "design/Legibility.h"
#include "design/TextBlock.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHash>
#include <QRadioButton>
#include <QImage>
#include <QScrollBar>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include <cstdlib>
#include <functional>
#include <optional>
#include <utility>
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

// The box of the pixels that stand out from the picture's top-left corner.
inline QRect inkBox(const QImage &image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (std::abs(qGray(image.pixel(x, y)) - qGray(image.pixel(0, 0))) > 40)
                box |= QRect(x, y, 1, 1);
    return box;
}

// What a window just shown draws (a menu, a chooser): the X server has a new
// window blank, then part drawn, for a moment after it is mapped; waits for a
// picture with something on its ground that a second look finds the same,
// null without one.
inline QImage drawnPixels(QWidget *widget)
{
    QImage shot, before;
    const auto settled = [&] {
        before = std::exchange(shot, shownPixels(widget));
        return !shot.isNull() && shot == before && !inkBox(shot).isEmpty();
    };
    return spinUntil(settled) ? shot : QImage();
}

// The words of a dialog's buttons (a file chooser's "Open" and "Cancel") that
// are not drawn whole and alone inside their button's edge (cut by it, or
// beside an icon), each with where its ink stands; the words looked at go
// into `seen`.
inline QStringList cutButtonWords(QDialog *dialog, QStringList &seen)
{
    QStringList cut;
    for (const QDialogButtonBox *box : dialog->findChildren<QDialogButtonBox *>())
        for (QAbstractButton *button : box->buttons()) {
            const QString word = button->text().remove(u'&');
            seen << word;
            const QImage shot = drawnPixels(button);
            const QRect inside = shot.rect().adjusted(3, 3, -3, -3), ink = inkBox(shot.copy(inside));
            // A shortcut's underline may reach a few pixels past its letter; an
            // icon beside the word, many more.
            const double extent = DesignFonts::lineExtent(button->font(), word).width();
            if (ink.left() < 1 || ink.right() > inside.width() - 2 || ink.width() < extent - 3 || ink.width() > extent + 6)
                cut << QStringLiteral("%1: ink %2 to %3 of %4").arg(word).arg(ink.left()).arg(ink.right()).arg(inside.width());
        }
    return cut;
}

// The colour most pixels of `area` (the whole picture unless given) have: the
// ground what is there is drawn on.
inline QRgb commonest(const QImage &image, QRect area = {})
{
    area = area.isNull() ? image.rect() : area & image.rect();
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) & 0xFFFFFFu];
    QRgb most = 0;
    int seen = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > seen)
            seen = it.value(), most = it.key();
    return most;
}

// The pixel of `area` that stands out most from `ground`, as WCAG measures it,
// and that contrast.
inline std::pair<QRgb, double> standout(const QImage &image, QRect area, QRgb ground)
{
    std::pair<QRgb, double> best{ground & 0xFFFFFFu, 1.0};
    area &= image.rect();
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y) & 0xFFFFFFu;
            if (const double c = ZephylPalette::contrastRatio(p, ground & 0xFFFFFFu); c > best.second)
                best = {p, c};
        }
    return best;
}

// What is wrong with a scroll bar shown on a dark ground: the toolkit's light
// track and arrows where the palette's thin thumb should be, or no thumb to
// see; empty when nothing is.
inline QString darkScrollBarFault(QScrollBar *bar)
{
    if (!spinUntil([&] { return bar->isVisible() && bar->maximum() > 0; }))
        return QStringLiteral("not shown");
    if (std::min(bar->width(), bar->height()) > 10)
        return QStringLiteral("%1 wide").arg(std::min(bar->width(), bar->height()));
    // Offscreen, as the window draws it: a bar drawn alone has the toolkit's ground behind it.
    QWidget *window = bar->window();
    const QImage shot = QGuiApplication::platformName() == QLatin1String("xcb")
                            ? drawnPixels(bar)
                            : window->grab(QRect(bar->mapTo(window, QPoint()), bar->size())).toImage();
    if (shot.isNull())
        return QStringLiteral("nothing drawn");
    int lightest = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            lightest = std::max(lightest, qGray(shot.pixel(x, y)));
    if (lightest >= 128)
        return QStringLiteral("a light track or arrows (grey %1)").arg(lightest);
    if (standout(shot, shot.rect(), commonest(shot)).second < 1.5)
        return QStringLiteral("no thumb to see");
    return {};
}

// Grey levels softened over 3 x 3 pixels, so that text drawn a fraction of a
// pixel further along still compares close.
inline std::vector<double> softGrey(const QImage &image)
{
    const int w = image.width(), h = image.height();
    std::vector<double> out(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double sum = 0;
            int n = 0;
            for (int j = std::max(0, y - 1); j <= std::min(h - 1, y + 1); ++j)
                for (int i = std::max(0, x - 1); i <= std::min(w - 1, x + 1); ++i, ++n)
                    sum += qGray(image.pixel(i, j));
            out[size_t(y) * w + x] = sum / n;
        }
    }
    return out;
}

struct Drawn {
    QPoint at;               // the top-left of the piece's best place in the whole
    double difference = 255; // mean grey difference there, 0 to 255
    QRect piece, whole;      // the inked boxes of the piece alone and of the whole
};

// Where `piece`, drawn alone by `block` in the same place, stands in the
// block's drawing of its whole text: the place whose pixels differ least.
inline Drawn findDrawn(TextBlock *block, const QString &piece)
{
    const QString text = block->text();
    const QImage before = shownPixels(block);
    block->setText(piece);
    const QImage alone = shownPixels(block, before);
    block->setText(text);
    const QImage drawn = shownPixels(block, alone);
    Drawn found;
    if (alone.isNull() || drawn.isNull())
        return found;
    found.piece = inkBox(alone);
    found.whole = inkBox(drawn);
    if (found.piece.isEmpty())
        return found;
    const QImage part = alone.copy(found.piece);
    const std::vector<double> big = softGrey(drawn), small = softGrey(part);
    const int w = part.width(), h = part.height();
    for (int y = 0; y + h <= drawn.height(); ++y) {
        for (int x = 0; x + w <= drawn.width(); ++x) {
            double sum = 0;
            for (int j = 0; j < h && sum < found.difference * w * h; ++j)
                for (int i = 0; i < w; ++i)
                    sum += std::abs(big[size_t(y + j) * drawn.width() + x + i] - small[size_t(j) * w + i]);
            if (sum / (w * h) < found.difference)
                found = {{x, y}, sum / (w * h), found.piece, found.whole};
        }
    }
    return found;
}

// ---- Rings

// How far round a control its surroundings are looked at.
constexpr int kAround = 8;

// What the X server shows of `area` of `window`, once two looks agree (and,
// given `unlike`, once it differs from that: the server shows a drawing late).
// Each look is taken once the window has drawn what it has to draw there.
// Offscreen, the window's own drawing of it.
inline QImage steadyPixels(QWidget *window, const QRect &area, const QImage &unlike = {})
{
    const bool server = QGuiApplication::platformName() == QLatin1String("xcb");
    const auto grab = [&] {
        if (!server)
            return window->grab(area).toImage().convertToFormat(QImage::Format_RGB32);
        window->repaint(area);
        return QGuiApplication::primaryScreen()
            ->grabWindow(window->winId(), area.x(), area.y(), area.width(), area.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    QImage shot;
    spinUntil([&] {
        const QImage before = std::exchange(shot, grab());
        return before == shot && (unlike.isNull() || shot != unlike);
    }, std::chrono::seconds(3));
    return shot;
}

// A control and kAround pixels round it as the server shows it without the
// keyboard's ring and with it.
struct RingPictures {
    QImage bare;
    QImage ringed;
    // The control's rectangle in both.
    QRect control;
    // The commonest colour 2 to 7 pixels outside the control's edge, bare:
    // the colour round it.
    QRgb around = 0;
    // The ring moved the control.
    bool moved = false;
};

// A control and kAround pixels round it, in its window.
inline QRect aroundArea(QWidget *control)
{
    const QRect where(control->mapTo(control->window(), QPoint()), control->size());
    return where.adjusted(-kAround, -kAround, kAround, kAround) & control->window()->rect();
}

// What of a control its ring goes round: a check box's or radio button's
// mark and words (its layout may make it wider), else all of it.
inline QRect drawnPart(QWidget *control)
{
    auto *box = qobject_cast<QAbstractButton *>(control);
    const bool radio = qobject_cast<QRadioButton *>(control);
    if (!box || !(radio || qobject_cast<QCheckBox *>(control)))
        return control->rect();
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    option.icon = box->icon();
    option.iconSize = box->iconSize();
    return box->style()->subElementRect(radio ? QStyle::SE_RadioButtonClickRect : QStyle::SE_CheckBoxClickRect, &option,
                                        box);
}

// `ringed` as the server shows it now (once it differs from `unlike`, when
// given: the keyboard was just taken off it), and once `ring` has brought the
// keyboard to it.
inline RingPictures ringPictures(QWidget *ringed, const std::function<void()> &ring, const QImage &unlike = {})
{
    QWidget *window = ringed->window();
    const QRect where(ringed->mapTo(window, QPoint()), ringed->size());
    const QRect area = aroundArea(ringed);
    RingPictures look;
    look.bare = steadyPixels(window, area, unlike);
    ring();
    look.ringed = steadyPixels(window, area, look.bare);
    look.control = drawnPart(ringed).translated(where.topLeft() - area.topLeft());
    look.moved = QRect(ringed->mapTo(window, QPoint()), ringed->size()) != where;
    QHash<QRgb, int> counts;
    const QRect outer = look.control.adjusted(-7, -7, 7, 7), inner = look.control.adjusted(-1, -1, 1, 1);
    for (int y = outer.top(); y <= outer.bottom(); ++y)
        for (int x = outer.left(); x <= outer.right(); ++x)
            if (look.bare.rect().contains(x, y) && !inner.contains(x, y))
                ++counts[look.bare.pixel(x, y) & 0xFFFFFFu];
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most)
            most = it.value(), look.around = it.key();
    return look;
}

// Whether the ring drew `p`: it changed it, and to a colour 3:1 out from the
// colour round the control.
inline bool ringDrew(const RingPictures &look, QPoint p)
{
    const QRgb now = look.ringed.pixel(p) & 0xFFFFFFu, was = look.bare.pixel(p) & 0xFFFFFFu;
    return ZephylPalette::contrastRatio(now, look.around) >= 3.0 && ZephylPalette::contrastRatio(now, was) >= 1.5;
}

// How wholly the ring goes round the control and stands out from the colour
// round it and from what is inside it: of each side's middle half, the share
// along which the ring drew some pixel from 3 inside the control's edge to 7
// outside it (only outside it where `outsideOnly`), and the pixel next inward
// of its innermost one stands 3:1 from it (the ground in its gap, or a fill
// unlike it: a ring on a fill of its own colour only makes the control look
// larger); the least of the four sides.
inline double ringedShare(const RingPictures &look, bool outsideOnly = false)
{
    const QRect c = look.control;
    const auto colorAt = [&](QPoint p) { return look.ringed.pixel(p) & 0xFFFFFFu; };
    double least = 1;
    for (int side = 0; side < 4; ++side) {
        const int along = side < 2 ? c.width() : c.height();
        // The point `d` outside the edge at `t` along it (d below 0 is outside).
        const auto at = [&](int t, int d) {
            return side == 0   ? QPoint(c.left() + t, c.top() + d)
                   : side == 1 ? QPoint(c.left() + t, c.bottom() - d)
                   : side == 2 ? QPoint(c.left() + d, c.top() + t)
                               : QPoint(c.right() - d, c.top() + t);
        };
        int hits = 0, count = 0;
        for (int t = along / 4; t < along * 3 / 4; ++t, ++count) {
            // The ring's innermost pixel on this line, and its strongest.
            std::optional<int> inner;
            QRgb ring = look.around;
            for (int d = -7; d <= (outsideOnly ? -1 : 3); ++d) {
                const QPoint p = at(t, d);
                if (!look.ringed.rect().contains(p) || !ringDrew(look, p))
                    continue;
                inner = d;
                if (ZephylPalette::contrastRatio(colorAt(p), look.around) > ZephylPalette::contrastRatio(ring, look.around))
                    ring = colorAt(p);
            }
            const QPoint in = inner ? at(t, *inner + 1) : QPoint();
            hits += inner && look.ringed.rect().contains(in) && ZephylPalette::contrastRatio(colorAt(in), ring) >= 3.0;
        }
        least = std::min(least, count ? double(hits) / count : 0.0);
    }
    return least;
}

// The colour the ring is drawn in: the commonest of the pixels it drew.
inline QRgb ringColor(const RingPictures &look)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < look.ringed.height(); ++y)
        for (int x = 0; x < look.ringed.width(); ++x)
            if (ringDrew(look, QPoint(x, y)))
                ++counts[look.ringed.pixel(x, y) & 0xFFFFFFu];
    QRgb most = look.around;
    int seen = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > seen)
            seen = it.value(), most = it.key();
    return most;
}

} // namespace zktest
