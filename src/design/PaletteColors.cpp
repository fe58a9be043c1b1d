#include "design/PaletteColors.h"

#include "design/AppearanceService.h"

namespace PaletteColors {

QColor color(ZephylPalette::Color member, Appearance appearance)
{
    const auto value = ZephylPalette::resolve(member, appearance);
    return QColor::fromRgbF(float(value.red()), float(value.green()), float(value.blue()), float(value.alpha));
}

QColor color(ZephylPalette::Color member) { return color(member, AppearanceService::shared().appearance()); }

} // namespace PaletteColors
