#include "shell/AppIcon.h"

#include "design/Icons.h"
#include "design/PaletteColors.h"

#include <QPainter>
#include <QPainterPath>

namespace AppIcon {

QPixmap pixmap(int size)
{
    QPixmap out(size, size);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(0, 0, size, size), size * 0.22, size * 0.22);
    painter.fillPath(tile, PaletteColors::color(ZephylPalette::Color::primaryFill, Appearance::light));
    const double inset = size * 0.2;
    Icons::paint(painter, QStringLiteral("pawprint.fill"), QRectF(inset, inset, size - 2 * inset, size - 2 * inset),
                 PaletteColors::color(ZephylPalette::Color::accent, Appearance::dark));
    return out;
}

QIcon icon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(pixmap(size));
    return icon;
}

} // namespace AppIcon
