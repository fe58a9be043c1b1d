#include "design/ZephylPalette.h"

namespace ZephylPalette {

namespace {
constexpr quint32 kInk = 0x241F1A;
constexpr Pair kText{0x201F1C, 0xF5F5F3};
} // namespace

Pair pair(Color color)
{
    switch (color) {
    case Color::ink: return {kInk, kInk};
    case Color::text: return kText;
    case Color::canvas: return {0xE9E8E4, 0x000000};
    case Color::background: return {0xF6F5F2, 0x0B0B0B};
    case Color::surface: return {0xFFFEFC, 0x1A1A1A};
    case Color::surfaceSoft: return {0xEEECE6, 0x242424};
    case Color::surfaceStrong: return {0xDEDBD2, 0x333333};
    case Color::muted: return {0x6B6A63, 0xA9A9A5};
    case Color::warmPaper: return {0xF1EBDD, 0x232323};
    case Color::milk: return {0xFBF6EC, 0x201D18};
    case Color::primaryFill: return {kInk, 0xFFFFFF};
    case Color::onPrimaryFill: return {0xF9F8F5, 0x241F1A};
    case Color::accent: return {0xC08A26, 0xE0B45C};
    case Color::onAccent: return {0xF9F8F5, 0x141210};
    case Color::accentSoft: return {0xF0E3C6, 0x3A2F14};
    case Color::settled: return {0x7A6B56, 0xC9C9C4};
    case Color::settledSoft: return {0xE9E3D5, 0x232323};
    case Color::attention: return {0xA2471E, 0xE08A5C};
    case Color::attentionSoft: return {0xF3DED2, 0x3A2318};
    case Color::line: return kText;
    }
    return kText;
}

double opacity(Color color) { return color == Color::line ? 0.12 : 1.0; }

bool isAppearanceDependent(Color color) { return color != Color::ink; }

Resolved resolve(Color color, Appearance appearance)
{
    const Pair values = pair(color);
    // Only the dark appearance picks the dark value; an appearance we do not know
    // matches neither and falls back to light.
    const quint32 rgb = appearance == Appearance::dark && isAppearanceDependent(color) ? values.dark : values.light;
    return {rgb & 0xFFFFFF, opacity(color)};
}

} // namespace ZephylPalette
