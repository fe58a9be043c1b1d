#pragma once

#include <QtGlobal>

// The appearance a colour is drawn for. Anything that is not the dark appearance
// draws with the light values.
enum class Appearance : quint8 { light, dark };

// The application's named colours as data: each member is a light/dark pair of
// opaque sRGB values (0xRRGGBB), resolved for an appearance each time it is drawn.
// The desktop side turns a resolved value into a QColor (design/PaletteColors.h).
namespace ZephylPalette {

enum class Color : quint8 {
    ink,
    text,
    canvas,
    background,
    surface,
    surfaceSoft,
    surfaceStrong,
    muted,
    warmPaper,
    milk,
    primaryFill,
    onPrimaryFill,
    accent,
    onAccent,
    accentSoft,
    settled,
    settledSoft,
    attention,
    attentionSoft,
    line,
};

struct Pair {
    quint32 light;
    quint32 dark;
};

struct Resolved {
    quint32 rgb = 0;
    double alpha = 1.0;

    double red() const { return ((rgb >> 16) & 0xFF) / 255.0; }
    double green() const { return ((rgb >> 8) & 0xFF) / 255.0; }
    double blue() const { return (rgb & 0xFF) / 255.0; }
    friend bool operator==(const Resolved &, const Resolved &) = default;
};

// The member's light and dark values; `line` gives the pair of `text`.
Pair pair(Color color);
// 0.12 for `line`, 1 for every other member.
double opacity(Color color);
// False only for `ink`, which is one plain colour.
bool isAppearanceDependent(Color color);
Resolved resolve(Color color, Appearance appearance);

} // namespace ZephylPalette
