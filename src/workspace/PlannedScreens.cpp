// The place of the composer sheet, replaced by its own screen when that is built.
#include "workspace/ComposerView.h"

#include "app/AppModel.h"
#include "design/ButtonStyles.h"
#include "design/L10n.h"
#include "design/Titles.h"

#include <QVBoxLayout>

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
