#include "design/Legibility.h"

#include <algorithm>
#include <cmath>

namespace ZephylPalette {

namespace {
double linear(quint32 byte)
{
    const double s = byte / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
}
} // namespace

double luminance(quint32 rgb)
{
    return 0.2126 * linear((rgb >> 16) & 0xFF) + 0.7152 * linear((rgb >> 8) & 0xFF) + 0.0722 * linear(rgb & 0xFF);
}

double contrastRatio(quint32 a, quint32 b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

Color legibleOn(Color ink, Color ground, Appearance appearance, double need)
{
    // A translucent ground shows what lies under it, which is not known here.
    if (opacity(ground) < 1)
        return ink;
    const quint32 behind = resolve(ground, appearance).rgb;
    const double own = contrastRatio(resolve(ink, appearance).rgb, behind);
    if (own >= need)
        return ink;
    return contrastRatio(resolve(Color::text, appearance).rgb, behind) > own ? Color::text : ink;
}

} // namespace ZephylPalette
