#include "design/DesignFonts.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QFontMetricsF>
#include <QScreen>
#include <QTextLayout>

#include <algorithm>

namespace DesignFonts {

namespace {
QFont::Weight qtWeight(Weight weight)
{
    switch (weight) {
    case Weight::regular: return QFont::Normal;
    case Weight::medium: return QFont::Medium;
    case Weight::semibold: return QFont::DemiBold;
    case Weight::bold: return QFont::Bold;
    case Weight::heavy: return QFont::ExtraBold;
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

QFont withFamilies(const QStringList &families, QFont::StyleHint hint)
{
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(hint);
    return font;
}

QFont make(QFont font, double size, Weight weight)
{
    font.setPointSizeF(pointSizeFor(size));
    font.setWeight(qtWeight(weight));
    return font;
}

} // namespace

// Before any window exists: the default font of every widget and of text
// drawn without a font of its own.
void installApplicationFont()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    QFont font = withFamilies(sansFamilies(), QFont::SansSerif);
    font.setPointSizeF(QGuiApplication::font().pointSizeF());
    QGuiApplication::setFont(font);
}

QStringList sansFamilies()
{
    return {QStringLiteral("Inter"), QStringLiteral("Noto Sans Arabic UI"), QStringLiteral("Noto Sans Hebrew"),
            QStringLiteral("Noto Sans"), QStringLiteral("Noto Color Emoji")};
}

QStringList serifFamilies()
{
    return {QStringLiteral("Linux Libertine O"), QStringLiteral("Noto Naskh Arabic UI"),
            QStringLiteral("Noto Serif Hebrew"), QStringLiteral("Noto Serif"), QStringLiteral("Noto Color Emoji")};
}

QFont system(double size, Weight weight)
{
    return make(withFamilies(sansFamilies(), QFont::SansSerif), size, weight);
}

QFont serif(double size, Weight weight) { return make(withFamilies(serifFamilies(), QFont::Serif), size, weight); }

QFont rounded(double size, Weight weight) { return system(size, weight); }

QSizeF lineExtent(const QFont &font, const QString &text)
{
    const double spacing = QFontMetricsF(font).lineSpacing();
    if (text.isEmpty())
        return {0, spacing};
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    QSizeF extent(0, spacing);
    if (line.isValid()) {
        line.setLineWidth(1e6);
        extent = {line.naturalTextWidth(), std::max(spacing, line.height() + line.leading())};
    }
    layout.endLayout();
    return extent;
}

QFont tracked(QFont font, double tracking)
{
    if (tracking != 0.0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

} // namespace DesignFonts

namespace {
void installDesignFonts() { DesignFonts::installApplicationFont(); }
} // namespace
Q_COREAPP_STARTUP_FUNCTION(installDesignFonts)
