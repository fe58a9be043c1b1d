// The places of the plan and grid screens and of the composer sheet, each
// replaced by its own screen when that is built.
#include "workspace/ComposerView.h"
#include "workspace/GridView.h"
#include "workspace/PlanView.h"

#include "app/AppModel.h"
#include "design/ButtonStyles.h"
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

ComposerView::ComposerView(AppModel &model, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 28, 28, 28);
    layout->setSpacing(18);
    layout->addWidget(new ScreenTitle(L10n::t("New publication"), L10n::t("New publication"), this));
    layout->addStretch(1);
    auto *close = new StyledButton(L10n::t("Close"), QuietButtonStyle(true), this);
    connect(close, &QPushButton::clicked, this, [&model] { model.setComposerPresented(false); });
    layout->addWidget(close, 0, Qt::AlignTrailing);
    setMinimumSize(560, 360);
}
