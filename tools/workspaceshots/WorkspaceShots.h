#pragma once

#include "design/AppLanguage.h"
#include "design/AppTheme.h"

#include <QString>

#include <functional>
#include <vector>

class QWidget;

namespace WorkspaceShots {

struct Variant {
    const char *name;
    AppLanguage language;
    AppTheme theme;
};

// Called with each state as it shows (`variant` is the variant's name, `name`
// the state's); false counts as a failure.
using Visit = std::function<bool(QWidget &window, const QString &variant, const QString &name)>;

// Signs a model in to an in-process stand-in (demo account kitty@example.com,
// meow-meow-meow) with a connected Instagram account, a plan and a
// conversation, and walks every screen in each variant. Needs a QApplication
// and the web schemes registered. Returns the number of failures.
int run(const std::vector<Variant> &variants, const Visit &visit);

} // namespace WorkspaceShots
