#include "design/DesignFonts.h"

#include <QGuiApplication>
#include <QScreen>

namespace DesignFonts {

namespace {
QFont::Weight qtWeight(Weight weight)
{
    switch (weight) {
    case Weight::regular: return QFont::Normal;
    case Weight::medium: return QFont::Medium;
    case Weight::semibold: return QFont::DemiBold;
    case Weight::bold: return QFont::Bold;
    }
    return QFont::Normal;
}

// Point sizes are resolved against the screen's logical DPI; scale them so the
// font comes out at `size` logical pixels.
double pointSizeFor(double pixels)
{
    double dpi = 96.0;
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInchY() > 0 ? screen->logicalDotsPerInchY() : dpi;
    return pixels * 72.0 / dpi;
}

QFont make(QFont font, double size, Weight weight)
{
    font.setPointSizeF(pointSizeFor(size));
    font.setWeight(qtWeight(weight));
    return font;
}
} // namespace

QFont system(double size, Weight weight) { return make(QGuiApplication::font(), size, weight); }

QFont serif(double size, Weight weight)
{
    QFont font(QStringLiteral("serif"));
    font.setStyleHint(QFont::Serif);
    return make(font, size, weight);
}

QFont tracked(QFont font, double tracking)
{
    if (tracking != 0.0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

} // namespace DesignFonts
