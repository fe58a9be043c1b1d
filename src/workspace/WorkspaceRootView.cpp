#include "workspace/WorkspaceRootView.h"

#include "app/AppModel.h"
#include "base/RecordStore.h"
#include "design/AppearanceService.h"
#include "design/L10n.h"
#include "design/PaletteColors.h"
#include "design/ReadingOrder.h"
#include "design/TextBlock.h"
#include "design/ZephylSurface.h"
#include "workspace/ComposerView.h"
#include "workspace/ComposerParts.h"
#include "workspace/KeyboardHold.h"
#include "workspace/ScreenKit.h"
#include "workspace/SignInView.h"
#include "workspace/WorkspaceSplitView.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <algorithm>

using ZephylPalette::Color;

namespace {
// The waiting scene: the resting cat drawn 1.4 times its size, a small spinner
// and "Opening Zephyl…", centred.
class RestoringScene final : public Screen {
public:
    explicit RestoringScene(AppModel &model, QWidget *parent) : Screen(model, parent) { populate(); }

protected:
    QWidget *build() override
    {
        auto *scene = new QWidget;
        auto *column = new QVBoxLayout(scene);
        column->setSpacing(18);
        column->addStretch(1);
        column->addWidget(new CatFigureView(1.4, QSize(118, 87), Qt::AlignCenter, scene), 0, Qt::AlignHCenter);
        column->addWidget(new Spinner(scene), 0, Qt::AlignHCenter);
        auto *words = text(L10n::t("Opening Zephyl…"), 13, DesignFonts::Weight::regular, Color::muted, scene);
        words->setCentered(true);
        column->addWidget(words, 0, Qt::AlignHCenter);
        column->addStretch(1);
        return scene;
    }
};
// The part of `widget` its ancestors leave in view, in its own coordinates.
QRect partInView(const QWidget *widget)
{
    QRect shown = widget->rect();
    for (const QWidget *up = widget->parentWidget(); up; up = up->isWindow() ? nullptr : up->parentWidget())
        shown &= QRect(widget->mapFrom(up, QPoint(0, 0)), up->size());
    return shown.isEmpty() ? widget->rect() : shown;
}
} // namespace

// The composer sheet: a dimmed layer over the whole window with the composer on
// a card near its top. Escape dismisses it, as a sheet is dismissed, unless the
// composer is handing a post over. It keeps the keyboard while it shows.
class ComposerSheet final : public QWidget {
public:
    ComposerSheet(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
    {
        setFocusPolicy(Qt::StrongFocus);
        m_hold = new KeyboardHold(this);
        m_card = new ZephylSurface(16, true, this);
        auto *inside = new QVBoxLayout(m_card);
        inside->setContentsMargins(0, 0, 0, 0);
        m_composer = new ComposerView(model, m_card);
        inside->addWidget(m_composer);
        AppearanceService::repaintOnChange(this);
        // Where the window scrolls the workspace (a screen smaller than it),
        // the card follows the part of it in view.
        for (QWidget *up = parent; up; up = up->isWindow() ? nullptr : up->parentWidget())
            up->installEventFilter(this);
    }

    // Shown, the composer takes the keyboard on its first field, the caption;
    // the layer holds it where that is not to be had (an outcome shows).
    void takeKeyboard()
    {
        QWidget *caption = m_composer->editor() ? m_composer->editor()->captionEditor() : nullptr;
        if (caption && caption->isVisible() && caption->isEnabled())
            caption->setFocus(Qt::OtherFocusReason);
        else
            setFocus();
    }

    void place()
    {
        setGeometry(parentWidget()->rect());
        const QRect shown = partInView(parentWidget());
        const QSize wanted = m_card->sizeHint().expandedTo(m_card->minimumSizeHint());
        const int w = std::min(wanted.width(), shown.width() - 40);
        const int h = std::min(wanted.height(), shown.height() - 40);
        m_card->setGeometry(shown.x() + (shown.width() - w) / 2, shown.y() + 20, w, h);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0, 0, 0, AppearanceService::shared().appearance() == Appearance::dark ? 110 : 60));
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape) {
            m_composer->requestDismiss(); // refused while a post is being handed over
            return;
        }
        QWidget::keyPressEvent(event);
    }
    // The layer takes every click, so the window beneath waits while the sheet is up.
    void mousePressEvent(QMouseEvent *) override {}
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if ((event->type() == QEvent::Resize || event->type() == QEvent::Move) && isVisible())
            place();
        return QWidget::eventFilter(watched, event);
    }
    bool focusNextPrevChild(bool next) override
    {
        return isVisible() ? m_hold->cycle(next) : QWidget::focusNextPrevChild(next);
    }

private:
    AppModel &m_model;
    KeyboardHold *m_hold;
    ZephylSurface *m_card;
    ComposerView *m_composer;
};

WorkspaceRootView::WorkspaceRootView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setMinimumSize(960, 600);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    AppearanceService::repaintOnChange(this);

    // Parts made again keep their place in the Tab order.
    ReadingOrder::keep(this);
    connect(&model, &AppModel::sessionChanged, this, &WorkspaceRootView::showBranch);
    connect(&model, &AppModel::sessionChanged, this, &WorkspaceRootView::followAccount);
    connect(&model, &AppModel::userChanged, this, &WorkspaceRootView::followAccount);
    connect(&model, &AppModel::composerPresentedChanged, this, &WorkspaceRootView::followComposer);
    connect(&model, &AppModel::themeChanged, this, &WorkspaceRootView::applyTheme);
    connect(&model, &AppModel::languageChanged, this, &WorkspaceRootView::applyDirection);
    applyTheme();
    applyDirection();
    showBranch();
    followComposer();
}

WorkspaceRootView::~WorkspaceRootView() = default;

QWidget *WorkspaceRootView::composerSheet() const { return m_sheet; }

void WorkspaceRootView::applyTheme() { AppearanceService::shared().setTheme(m_model.theme()); }

void WorkspaceRootView::applyDirection()
{
    // The whole window reads in the language's direction; children follow.
    setLayoutDirection(L10n::layoutDirection());
}

void WorkspaceRootView::showBranch()
{
    QWidget *next = nullptr;
    switch (m_model.session()) {
    case SessionState::restoring: next = new RestoringScene(m_model, this); break;
    case SessionState::signedOut: next = new SignInView(m_model, this); break;
    case SessionState::signedIn: next = new WorkspaceSplitView(m_model, this); break;
    }
    if (m_branch) {
        layout()->removeWidget(m_branch);
        m_branch->hide();
        m_branch->deleteLater();
    }
    m_branch = next;
    layout()->addWidget(next);
    next->show();
    if (m_sheet)
        m_sheet->raise();
}

void WorkspaceRootView::followComposer()
{
    if (m_model.composerPresented() == bool(m_sheet))
        return;
    if (!m_model.composerPresented()) {
        m_sheet->hide();
        m_sheet->deleteLater();
        m_sheet = nullptr;
        m_sheetOwner.clear();
        return;
    }
    m_sheet = new ComposerSheet(m_model, this);
    m_sheetOwner = m_model.session() == SessionState::signedIn && m_model.user() ? RecordStore::ownerKey(m_model.user()->email)
                                                                                 : QString();
    m_sheet->place();
    m_sheet->show();
    m_sheet->raise();
    m_sheet->takeKeyboard();
}

namespace {
constexpr qsizetype kKeptSheets = 3;

// Later, as an import it started may still be reporting to it.
void forget(const QPointer<ComposerSheet> &sheet)
{
    if (sheet)
        sheet->deleteLater();
}
}

void WorkspaceRootView::followAccount()
{
    // Over the sign-in form the sheet stays, with what was typed, for whoever signs in next.
    if (m_model.session() != SessionState::signedIn)
        return;
    const QString account = m_model.user() ? RecordStore::ownerKey(m_model.user()->email) : QString();
    // While the account is still being looked up it may be another: the post is not shown to it.
    if (m_sheet && !m_sheetOwner.isEmpty() && m_sheetOwner != account)
        keepSheetAside();
    if (account.isEmpty())
        return;
    if (m_sheet) {
        if (m_sheetOwner.isEmpty())
            m_sheetOwner = account;
        return;
    }
    const auto kept = std::find_if(m_keptSheets.begin(), m_keptSheets.end(),
                                   [&](const auto &entry) { return entry.first == account; });
    if (kept == m_keptSheets.end())
        return;
    QPointer<ComposerSheet> sheet = kept->second;
    m_keptSheets.erase(kept);
    if (!sheet)
        return;
    m_sheet = sheet;
    m_sheetOwner = account;
    m_sheet->place();
    m_sheet->show();
    m_sheet->raise();
    m_sheet->takeKeyboard();
    m_model.setComposerPresented(true);
}

void WorkspaceRootView::keepSheetAside()
{
    ComposerSheet *sheet = std::exchange(m_sheet, nullptr);
    const QString owner = std::exchange(m_sheetOwner, QString());
    sheet->hide();
    for (qsizetype i = 0; i < m_keptSheets.size(); ++i) {
        if (m_keptSheets.at(i).first == owner) {
            forget(m_keptSheets.takeAt(i).second);
            break;
        }
    }
    m_keptSheets.append({owner, sheet});
    while (m_keptSheets.size() > kKeptSheets)
        forget(m_keptSheets.takeFirst().second);
    m_model.setComposerPresented(false);
}

void WorkspaceRootView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), PaletteColors::color(Color::background));
}

void WorkspaceRootView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_sheet)
        m_sheet->place();
}
