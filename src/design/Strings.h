#pragma once

#include "design/AppLanguage.h"

#include <QHash>
#include <QString>

// The translation tables, keyed by the English text. Each table is built from its
// fixed list on first use, at its final size, and never changes afterwards.
namespace Strings {
// No table for `en` and `system`.
const QHash<QString, QString> *table(AppLanguage language);
} // namespace Strings
