#pragma once

// A filmed look made for checking where a filmed cat lands on the screen: each
// clip is one frame of clear ground with a plain block down to its paw line,
// green where a check looks for it (all of it, or the head box of "idle",
// whose body under the head is magenta), so the green on the X server says
// exactly where the clip was drawn. Its "idle" clip is made at twice the size
// it is drawn (as the bundled looks are), its "perch" and "walk" clips at the
// size drawn, so both ways a frame is put on the screen are seen. With what
// the X server shows of a widget and where the green is in it.

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
#include <string>

namespace zktest {

class MarkerLook {
public:
    static constexpr QRgb kGreen = 0xff00e000;
    static constexpr QRgb kMagenta = 0xffe000e0;

    // A bundle folder of its own holding the look as Cats/marker.
    MarkerLook() : m_root(tempDir() + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces)), m_bundle(m_root)
    {
        QDir().mkpath(folder());
        // Idle: 160 x 160 pixels drawn 80 high; the head box (40, 20, 80) green,
        // the body under it magenta down to the paw line at 136 (0.85).
        QImage idle(160, 160, QImage::Format_ARGB32);
        idle.fill(Qt::transparent);
        fill(idle, QRect(40, 20, 80, 80), kGreen);
        fill(idle, QRect(40, 100, 80, 36), kMagenta);
        save(idle, QStringLiteral("idle.webp"));
        // Perch: 60 x 60 drawn 60 high, the block 30 wide down to the paw line at 48 (0.8).
        QImage perch(60, 60, QImage::Format_ARGB32);
        perch.fill(Qt::transparent);
        fill(perch, QRect(15, 12, 30, 36), kGreen);
        save(perch, QStringLiteral("perch.webp"));
        // Walk: 72 x 72 drawn 72 high, the block 36 wide down to the paw line at 54 (0.75).
        QImage walk(72, 72, QImage::Format_ARGB32);
        walk.fill(Qt::transparent);
        fill(walk, QRect(18, 18, 36, 36), kGreen);
        save(walk, QStringLiteral("walk.webp"));
        // The pose pictures of the cat in a window (a leap lands it on its perch): grey.
        for (const char *pose : {"leap", "happy", "curious", "concerned", "sleepy", "sit"}) {
            QImage picture(40, 40, QImage::Format_ARGB32);
            picture.fill(QColor(120, 120, 120));
            picture.save(folder() + u'/' + QLatin1String(pose) + QStringLiteral(".png"));
        }
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
    static void fill(QImage &image, const QRect &r, QRgb color)
    {
        QPainter p(&image);
        p.fillRect(r, QColor::fromRgba(color));
    }
    void save(const QImage &image, const QString &name) const
    {
        EXPECT_TRUE(image.save(folder() + u'/' + name, "webp", 100)) << qPrintable(name);
    }

    QString m_root;
    Bundle m_bundle;
    bool m_installed = false;
};

// What the X server shows of a widget: its part of its window, read back
// through the server.
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

// A pixel where the marker's green shows, at full strength or half faded over
// anything that is not itself green.
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

inline std::string rectText(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

// Whether `picture` comes to show the green with each edge within `slack`
// pixels of `expected` (in the picture's pixels); if not, where it showed.
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
    return ::testing::AssertionFailure() << "the green shows at " << rectText(seen) << ", not at " << rectText(expected);
}

} // namespace zktest
