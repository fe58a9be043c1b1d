#pragma once

// A filmed look for finding where a filmed cat lands on the X server: each clip
// is one frame of clear ground with a block green where a check looks for it
// (the head box of "idle", whose body under it is magenta). "idle" is made at
// twice the size it is drawn (as the bundled looks are), "perch" and "walk" at
// the size drawn, so both ways a frame is put on the screen are seen.

#include "base/Bundle.h"
#include "companion/CompanionLibrary.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QUuid>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace zktest {

class MarkerLook {
public:
    // A bundle folder of its own holding the look as Cats/marker.
    MarkerLook() : m_root(tempDir() + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces)), m_bundle(m_root)
    {
        QDir().mkpath(folder());
        // Idle: 160 pixels drawn 80 high, paw line at 136 (0.85); perch: 60 drawn
        // 60, paw line at 48 (0.8); walk: 72 drawn 72, paw line at 54 (0.75).
        clip("idle.webp", 160, {{QRect(40, 20, 80, 80), 0xff00e000}, {QRect(40, 100, 80, 36), 0xffe000e0}});
        clip("perch.webp", 60, {{QRect(15, 12, 30, 36), 0xff00e000}});
        clip("walk.webp", 72, {{QRect(18, 18, 36, 36), 0xff00e000}});
        // The pose pictures of the cat in a window (a leap lands it on its perch): grey.
        QImage grey(40, 40, QImage::Format_ARGB32);
        grey.fill(QColor(120, 120, 120));
        for (const char *pose : {"leap", "happy", "curious", "concerned", "sleepy", "sit"})
            grey.save(folder() + u'/' + QLatin1String(pose) + QStringLiteral(".png"));
        QFile manifest(folder() + QStringLiteral("/manifest.json"));
        EXPECT_TRUE(manifest.open(QIODevice::WriteOnly));
        manifest.write(R"({"id": "marker", "name": {"en": "Marker"}, "walkSpeed": 60, "width": 84, "height": 62,
            "clips": {
              "idle": {"file": "idle.webp", "height": 80, "pixelWidth": 160, "pixelHeight": 160, "floor": 0.85,
                       "facing": 1, "head": {"x": 40, "y": 20, "size": 80}},
              "perch": {"file": "perch.webp", "height": 60, "pixelWidth": 60, "pixelHeight": 60, "floor": 0.8,
                        "facing": 1},
              "walk": {"file": "walk.webp", "height": 72, "pixelWidth": 72, "pixelHeight": 72, "floor": 0.75,
                       "facing": 1}}})");
    }
    ~MarkerLook()
    {
        if (m_installed)
            Bundle::setShared(nullptr);
    }
    MarkerLook(const MarkerLook &) = delete;
    MarkerLook &operator=(const MarkerLook &) = delete;

    QString folder() const { return m_root + QStringLiteral("/Cats/marker"); }
    CompanionVariant variant() const
    {
        const auto look = CompanionLibrary::readLook(folder());
        EXPECT_TRUE(look.has_value()) << "the marker look does not read";
        return look.value_or(CompanionVariant::drawn());
    }
    // The application's catalogue is this bundle's for the look's life ("marker" and the drawn look).
    void install()
    {
        Bundle::setShared(&m_bundle);
        m_installed = true;
    }

private:
    void clip(const char *file, int side, std::initializer_list<std::pair<QRect, QRgb>> blocks) const
    {
        QImage image(side, side, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter p(&image);
        for (const auto &[r, color] : blocks)
            p.fillRect(r, QColor::fromRgba(color));
        p.end();
        EXPECT_TRUE(image.save(folder() + u'/' + QLatin1String(file), "webp", 100)) << file;
    }

    QString m_root;
    Bundle m_bundle;
    bool m_installed = false;
};

// What the X server shows of a widget: its part of its window.
inline QImage onServer(const QWidget *widget)
{
    const QPoint at = widget->mapTo(widget->window(), QPoint(0, 0));
    return QGuiApplication::primaryScreen()
        ->grabWindow(widget->window()->winId(), at.x(), at.y(), widget->width(), widget->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// A rectangle of a widget in the pixels of what the server shows of it.
inline QRect pixels(const QWidget *widget, const QRectF &r)
{
    const double k = widget->devicePixelRatioF();
    return QRectF(r.topLeft() * k, r.size() * k).toAlignedRect();
}

// The marker's green, at full strength or half faded over anything not green.
inline bool greenish(QRgb c) { return qGreen(c) - std::max(qRed(c), qBlue(c)) > 60; }

// The box around the green pixels inside `area` of a picture; empty when there are none.
inline QRect greenBox(const QImage &image, const QRect &area)
{
    QRect box;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (greenish(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

// Whether `picture` comes to show the green with each edge within `slack`
// pixels of `expected`; if not, where it showed.
inline ::testing::AssertionResult greenShowsAt(const std::function<QImage()> &picture, const QRect &expected,
                                               int slack)
{
    QRect seen;
    const auto near = [&] {
        seen = greenBox(picture(), expected.adjusted(-80, -80, 80, 80));
        return !seen.isEmpty() && std::abs(seen.left() - expected.left()) <= slack &&
               std::abs(seen.right() - expected.right()) <= slack && std::abs(seen.top() - expected.top()) <= slack &&
               std::abs(seen.bottom() - expected.bottom()) <= slack;
    };
    if (spinUntil(near, std::chrono::seconds(10)))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the green shows at " << rectText(seen) << ", not at "
                                         << rectText(expected);
}

} // namespace zktest
