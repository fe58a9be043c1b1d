#pragma once

#include <QString>

#include <array>
#include <optional>

// The five screens of the workspace, in the sidebar's order.
enum class Surface { summary, plan, assistant, grid, profile };

namespace Surfaces {
constexpr std::array<Surface, 5> allCases{Surface::summary, Surface::plan, Surface::assistant, Surface::grid,
                                          Surface::profile};
QString rawValue(Surface surface);
// Exact, case-sensitive; nothing for any other text.
std::optional<Surface> fromRaw(const QString &raw);
inline QString id(Surface surface) { return rawValue(surface); }
// The translated screen name.
QString title(Surface surface);
// The icon's name, and the one to use where the icon set lacks it.
QString symbol(Surface surface);
QString olderSymbol(Surface surface);
} // namespace Surfaces
