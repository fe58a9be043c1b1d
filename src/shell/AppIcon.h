#pragma once

#include <QIcon>
#include <QPixmap>

// The application's icon: the paw on a rounded tile of the primary fill.
namespace AppIcon {
QPixmap pixmap(int size);
QIcon icon();
} // namespace AppIcon
