// Proves the desktop rig: a real X server with a window manager and a compositor,
// so a translucent window blends with what is below it when read back from X.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

namespace {
class Fill : public QWidget {
public:
    explicit Fill(QColor color, bool translucent) : m_color(color)
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
        if (translucent)
            setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(rect(), m_color);
    }

private:
    QColor m_color;
};

QColor rootPixel(QPoint at)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const QImage image = screen->grabWindow(0, at.x(), at.y(), 1, 1).toImage();
    return image.pixelColor(0, 0);
}
} // namespace

TEST(DesktopRig, RunsOnARealXServerWithAWindowManager)
{
    EXPECT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    EXPECT_FALSE(qEnvironmentVariable("DISPLAY").isEmpty());
}

TEST(DesktopRig, TranslucentWindowBlendsOverTheWindowBelow)
{
    Fill below(QColor(255, 255, 255), false);
    below.setGeometry(100, 100, 200, 200);
    below.show();
    Fill above(QColor(255, 0, 0, 128), true);
    above.setGeometry(150, 150, 100, 100);
    above.show();

    // Wait until the compositor has painted both windows into the root.
    QColor seen;
    const bool blended = zktest::spinUntil([&] {
        seen = rootPixel(QPoint(200, 200));
        const QColor white = rootPixel(QPoint(120, 120));
        return white == QColor(255, 255, 255) && seen.red() > 240 && seen.green() > 100 && seen.green() < 150;
    });
    EXPECT_TRUE(blended) << "pixel under the translucent window: " << seen.name().toStdString();
    // Premultiplied half red over white: the green and blue channels come from the white.
    EXPECT_NEAR(seen.green(), 127, 8);
    EXPECT_NEAR(seen.blue(), 127, 8);
}
