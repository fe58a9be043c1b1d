// The places of the plan and grid screens, each replaced by its own screen
// when that is built.
#include "workspace/GridView.h"
#include "workspace/PlanView.h"

#include "app/AppModel.h"
#include "design/L10n.h"
#include "design/Titles.h"

#include <QVBoxLayout>

namespace {
void titled(QWidget *screen, const char *eyebrow, const char *title)
{
    auto *layout = new QVBoxLayout(screen);
    layout->setContentsMargins(32, 44, 32, 32);
    layout->addWidget(new ScreenTitle(L10n::t(eyebrow), L10n::t(title), screen));
    layout->addStretch(1);
}
} // namespace

PlanView::PlanView(AppModel &model, QWidget *parent) : QWidget(parent)
{
    Q_UNUSED(model);
    titled(this, "Plan", "Plan");
}

GridView::GridView(AppModel &model, QWidget *parent) : QWidget(parent)
{
    Q_UNUSED(model);
    titled(this, "Grid", "Grid");
}
