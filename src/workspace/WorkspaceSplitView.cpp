#include "workspace/WorkspaceSplitView.h"
#include "design/TextDirection.h"

#include "app/AppModel.h"
#include "design/AppearanceService.h"
#include "design/Controls.h"
#include "design/Icons.h"
#include "design/L10n.h"
#include "design/ServiceDomain.h"
#include "design/NoticeBanner.h"
#include "design/PaletteColors.h"
#include "design/TextBlock.h"
#include "design/ZephylSpringCurve.h"
#include "workspace/AssistantView.h"
#include "workspace/GridView.h"
#include "workspace/PlanView.h"
#include "workspace/ProfileView.h"
#include "workspace/SummaryView.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QApplication>
#include <QSplitter>
#include <QTimer>
#include <QVariantAnimation>
#include <QVBoxLayout>

using ZephylPalette::Color;

namespace {

// One row of the sidebar's surface list: the surface's icon and title on a
// rounded fill while it is the current surface.
class SurfaceRow final : public QAbstractButton {
public:
    SurfaceRow(Surface surface, QWidget *parent) : QAbstractButton(parent), m_surface(surface)
    {
        setText(Surfaces::title(surface));
        setCheckable(false);
        setFixedHeight(36);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setUpButton(this);
        FocusRing::setOutline(this, {10, {}});
        setAccessibleName(text());
    }

    void setSelected(bool selected)
    {
        if (m_selected == selected)
            return;
        m_selected = selected;
        update();
    }
    bool selected() const { return m_selected; }
    // Wide enough for the title in its bolder, selected weight.
    QSize sizeHint() const override
    {
        const QFont font = DesignFonts::system(13.5, DesignFonts::Weight::semibold);
        return {int(std::ceil(QFontMetricsF(font).horizontalAdvance(text()))) + 2 * kInset + kTitleAt, 36};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (m_selected) {
            QPainterPath fill;
            fill.addRoundedRect(QRectF(rect()), 10, 10);
            painter.fillPath(fill, PaletteColors::color(Color::surfaceSoft));
        }
        if (isDown())
            painter.setOpacity(0.7);
        const QColor ink = PaletteColors::color(m_selected ? Color::text : Color::muted);
        const bool rtl = layoutDirection() == Qt::RightToLeft;
        const QRectF inner = QRectF(rect()).adjusted(kInset, 0, -kInset, 0);
        const double box = Icons::boxForFontSize(14);
        const QRectF iconSlot(rtl ? inner.right() - 20 : inner.left(), 0, 20, height());
        Icons::paint(painter, WorkspaceSidebar::rowSymbol(m_surface),
                     QRectF(iconSlot.center().x() - box / 2, iconSlot.center().y() - box / 2, box, box), ink,
                     layoutDirection());
        const QFont font = DesignFonts::system(13.5, m_selected ? DesignFonts::Weight::semibold
                                                                : DesignFonts::Weight::medium);
        painter.setFont(font);
        painter.setPen(ink);
        const QRectF words = rtl ? QRectF(inner.left(), 0, inner.width() - kTitleAt, height())
                                 : QRectF(inner.left() + kTitleAt, 0, inner.width() - kTitleAt, height());
        const QString shown = QFontMetricsF(font).elidedText(text(), Qt::ElideRight, words.width());
        painter.setLayoutDirection(textDirection(shown, layoutDirection()));
        painter.drawText(words,
                         int((rtl ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute | Qt::AlignVCenter |
                             Qt::TextSingleLine),
                         shown);
    }

private:
    // The label's padding either side, and where the title starts after the
    // 20-point icon and its 11-point gap.
    static constexpr int kInset = 12;
    static constexpr int kTitleAt = 31;

    Surface m_surface;
    bool m_selected = false;
};

// The splitter's divider: a hairline.
class HairlineHandle final : public QSplitterHandle {
public:
    HairlineHandle(Qt::Orientation orientation, QSplitter *parent) : QSplitterHandle(orientation, parent)
    {
        AppearanceService::repaintOnChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), PaletteColors::color(Color::line));
    }
};

class Splitter final : public QSplitter {
public:
    using QSplitter::QSplitter;

protected:
    QSplitterHandle *createHandle() override { return new HairlineHandle(orientation(), this); }
    void changeEvent(QEvent *event) override
    {
        QSplitter::changeEvent(event);
        // The columns trade sides at once, not at the next resize.
        if (event->type() == QEvent::LayoutDirectionChange)
            refresh();
    }
};

} // namespace

// ---- Split view

WorkspaceSplitView::WorkspaceSplitView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_splitter = new Splitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(1);
    m_sidebar = new WorkspaceSidebar(model, m_splitter);
    m_sidebar->setMinimumWidth(kSidebarMinimum);
    m_sidebar->setMaximumWidth(kSidebarMaximum);
    m_stack = new Backdrop(Color::background, 1.0, m_splitter);
    auto *stackLayout = new QVBoxLayout(m_stack);
    stackLayout->setContentsMargins(0, 0, 0, 0);
    m_stack->installEventFilter(this);
    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(m_stack);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    fitSidebar();
    layout->addWidget(m_splitter);

    // After the sidebar has worded itself anew (its rebuild is queued first).
    connect(&model, &AppModel::languageChanged, this,
            [this] { QMetaObject::invokeMethod(this, &WorkspaceSplitView::fitSidebar, Qt::QueuedConnection); });
    connect(&model, &AppModel::surfaceChanged, this, &WorkspaceSplitView::showSurface);
    connect(&model, &AppModel::noticeChanged, this, &WorkspaceSplitView::followNotice);
    showSurface();
    followNotice();
}

// Leaving the window (a sign-out, say) ends the banner's wait without clearing
// the notice: it may be the very one that explains why the sign-in form shows.
WorkspaceSplitView::~WorkspaceSplitView() = default;

void WorkspaceSplitView::fitSidebar()
{
    // Its ideal width, or wider within its range where a language's words for
    // the surfaces and the two buttons need it.
    const int width = std::clamp(std::max(kSidebarIdeal, m_sidebar->widthForWords()), kSidebarMinimum, kSidebarMaximum);
    m_splitter->setSizes({width, std::max(1, m_splitter->width() - width)});
}

QWidget *WorkspaceSplitView::makeScreen(Surface surface, AppModel &model, QWidget *parent)
{
    switch (surface) {
    case Surface::summary: return new SummaryView(model, parent);
    case Surface::plan: return new PlanView(model, parent);
    case Surface::assistant: return new AssistantView(model, parent);
    case Surface::grid: return new GridView(model, parent);
    case Surface::profile: return new ProfileView(model, parent);
    }
    return new QWidget(parent);
}

void WorkspaceSplitView::showSurface()
{
    // A screen's own state does not survive a visit elsewhere: each surface is made anew.
    if (m_detail && m_detailSurface == m_model.surface())
        return;
    QWidget *had = window()->focusWidget();
    const Opening how = had && had->hasFocus() && m_sidebar->isAncestorOf(had) ? Opening::fromSidebar
                                                                               : Opening::fromElsewhere;
    if (m_detail) {
        // The keyboard goes to the new screen, not on to the next control in
        // line as the old one's hides.
        if (had && m_detail->isAncestorOf(had))
            had->clearFocus();
        m_stack->layout()->removeWidget(m_detail);
        m_detail->hide();
        m_detail->deleteLater();
    }
    m_detailSurface = m_model.surface();
    m_awaitingBuild = false;
    m_detail = makeScreen(m_detailSurface, m_model, m_stack);
    m_stack->layout()->addWidget(m_detail);
    m_detail->show();
    if (m_banner)
        m_banner->raise();
    // The screen opens at its top, the workspace round it too: not where the
    // last control a short window scrolled to left it.
    scrollToTop(this);
    QTimer::singleShot(0, m_detail, [this, how] { openScreen(how, true); });
}

void WorkspaceSplitView::giveKeyboardToScreen()
{
    if (m_detail)
        QTimer::singleShot(0, m_detail, [this] { openScreen(Opening::fromElsewhere, false); });
}

void WorkspaceSplitView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (const Opening how = std::exchange(m_openOnShow, Opening::none); how != Opening::none && m_detail)
        QTimer::singleShot(0, m_detail, [this, how] { openScreen(how, true); });
}

void WorkspaceSplitView::openScreen(Opening how, bool fromTop, int tries)
{
    if (!isVisible()) {
        m_openOnShow = how;
        return;
    }
    // What shows of the screen is known once it is laid out.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (fromTop)
        scrollToTop(this);
    auto *screen = qobject_cast<Screen *>(m_detail.data());
    QWidget *preferred = screen ? screen->openingControl() : nullptr;
    // A control hidden with the part it was on (the sign-in form) holds nothing.
    QWidget *focus = window()->focusWidget();
    if (focus && !focus->isVisible())
        focus = nullptr;
    const bool onSidebar = focus && m_sidebar->isAncestorOf(focus);
    if (how == Opening::fromSidebar) {
        // Its row keeps the keyboard, unless the screen opens on a control
        // of its own that shows (the assistant's field, ready for writing).
        if (preferred && onSidebar && openingControl(m_detail, preferred) == preferred)
            FocusRing::give(preferred);
        else if (onSidebar)
            bringIntoView(focus);
        return;
    }
    // Already on the screen, or on a sheet over the workspace: it stays.
    if (focus && !onSidebar && (m_detail->isAncestorOf(focus) || !isAncestorOf(focus)))
        return;
    if (QWidget *control = openingControl(m_detail, preferred)) {
        FocusRing::give(control);
        return;
    }
    // Nothing of it shows yet: its content, made anew as its data came, shows
    // a moment later. Then, or once it is made again.
    if (tries < 3) {
        QTimer::singleShot(0, m_detail, [this, how, tries] { openScreen(how, false, tries + 1); });
    } else if (screen && !std::exchange(m_awaitingBuild, true)) {
        connect(screen, &Screen::built, this, [this, how] {
            m_awaitingBuild = false;
            QTimer::singleShot(0, m_detail, [this, how] { openScreen(how, false, 0); });
        }, Qt::SingleShotConnection);
    }
}

void WorkspaceSplitView::followNotice()
{
    const std::optional<AppNotice> &notice = m_model.notice();
    if (!notice) {
        m_noticeTimer.reset();
        m_bannerNotice = QUuid();
        if (m_banner) {
            // Out to the top edge, then gone.
            NoticeBanner *leaving = m_banner;
            m_banner = nullptr;
            auto *slide = new QVariantAnimation(leaving);
            ZephylSpringCurve::apply(*slide);
            const int from = leaving->y();
            slide->setStartValue(from);
            slide->setEndValue(-NoticeBanner::kHeight);
            connect(slide, &QVariantAnimation::valueChanged, leaving,
                    [leaving](const QVariant &y) { leaving->move(leaving->x(), y.toInt()); });
            connect(slide, &QVariantAnimation::finished, leaving, &QObject::deleteLater);
            slide->start(QAbstractAnimation::DeleteWhenStopped);
        }
        return;
    }
    if (notice->id == m_bannerNotice && m_banner)
        return;
    const bool arriving = !m_banner;
    if (!m_banner) {
        m_banner = new NoticeBanner(*notice, m_stack);
        FocusRing::coverRings(m_banner);
        m_banner->setCursor(Qt::PointingHandCursor);
        m_banner->installEventFilter(this);
    } else {
        m_banner->setNotice(*notice);
    }
    m_bannerNotice = notice->id;
    placeBanner();
    m_banner->show();
    m_banner->raise();
    if (arriving) {
        auto *slide = new QVariantAnimation(m_banner);
        ZephylSpringCurve::apply(*slide);
        slide->setStartValue(-NoticeBanner::kHeight);
        slide->setEndValue(18);
        QPointer<NoticeBanner> banner = m_banner;
        connect(slide, &QVariantAnimation::valueChanged, banner,
                [banner](const QVariant &y) { banner->move(banner->x(), y.toInt()); });
        slide->start(QAbstractAnimation::DeleteWhenStopped);
    }

    // Seven seconds for this notice; a newer one starts its own, and an older
    // wait never clears a newer notice.
    const QUuid id = notice->id;
    QPointer<AppModel> model = &m_model;
    m_noticeTimer = m_model.clock().after(std::chrono::seconds(kNoticeSeconds), [model, id] {
        if (model && model->notice() && model->notice()->id == id)
            model->setNotice(std::nullopt);
    });
}

void WorkspaceSplitView::placeBanner()
{
    if (!m_banner)
        return;
    // 28 on either side and 18 above, at most 720 wide with that room, centred.
    const int column = std::min(m_stack->width(), 720);
    const int width = std::max(0, column - 56);
    const int x = (m_stack->width() - column) / 2 + 28;
    m_banner->setGeometry(x, m_banner->y() > 0 ? 18 : m_banner->y(), width, NoticeBanner::kHeight);
}

void WorkspaceSplitView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeBanner();
}

bool WorkspaceSplitView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_stack && event->type() == QEvent::Resize)
        placeBanner();
    if (watched == m_banner && event->type() == QEvent::MouseButtonRelease) {
        // A tap anywhere on the banner clears the notice at once.
        m_model.setNotice(std::nullopt);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Sidebar

WorkspaceSidebar::WorkspaceSidebar(AppModel &model, QWidget *parent) : Screen(model, parent) { populate(); }

QString WorkspaceSidebar::rowSymbol(Surface surface)
{
    const QString symbol = Surfaces::symbol(surface);
    return Icons::has(symbol) ? symbol : Surfaces::olderSymbol(surface);
}

QString WorkspaceSidebar::accountNameFor(const AppModel &model)
{
    const auto &user = model.user();
    if (!user)
        return {};
    if (user->displayName && !user->displayName->isEmpty())
        return *user->displayName;
    return user->email;
}

QString WorkspaceSidebar::instagramLineFor(const AppModel &model)
{
    if (const auto &profile = model.instagram())
        return handle(profile->username);
    // Off line nothing says the account is not connected: the service is what is missing.
    if (!model.instagramKnown())
        return L10n::t(ZEPHYL_SERVICE_DOMAIN " can't be reached");
    return L10n::t("Instagram not connected");
}

int WorkspaceSidebar::widthForWords() const
{
    int width = 0;
    // The rows sit 10 in from either edge, the buttons 18.
    for (const QAbstractButton *row : m_rows)
        width = std::max(width, row->sizeHint().width() + 20);
    for (const RowButton *button : {m_newPublication, m_ask}) {
        if (button)
            width = std::max(width, button->sizeHint().width() + 36);
    }
    return width;
}

QAbstractButton *WorkspaceSidebar::row(Surface surface) const
{
    const int index = int(std::find(Surfaces::allCases.begin(), Surfaces::allCases.end(), surface) -
                          Surfaces::allCases.begin());
    return m_rows.value(index);
}

QWidget *WorkspaceSidebar::build()
{
    AppModel &model = this->model();
    auto *side = new Backdrop(Color::canvas, 0.55);
    auto *column = new QVBoxLayout(side);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Header: the resting cat at half size and the product name, as it is.
    auto *header = new QHBoxLayout;
    header->setContentsMargins(18, 40, 18, 22);
    header->setSpacing(10);
    header->addWidget(new CatFigureView(0.5, QSize(42, 31), Qt::AlignCenter, side));
    auto *name = new TextBlock(QStringLiteral("Zephyl"), DesignFonts::serif(19, DesignFonts::Weight::semibold),
                               Color::text, side);
    name->setMaxLines(1);
    header->addWidget(name, 0, Qt::AlignVCenter);
    header->addStretch(1);
    column->addLayout(header);

    auto *list = new QVBoxLayout;
    list->setContentsMargins(10, 0, 10, 0);
    list->setSpacing(2);
    m_rows.clear();
    for (Surface surface : Surfaces::allCases) {
        auto *row = new SurfaceRow(surface, side);
        row->setSelected(model.surface() == surface);
        connect(row, &QAbstractButton::clicked, side, [&model, surface] { model.setSurface(surface); });
        connect(&model, &AppModel::surfaceChanged, row, [row, &model, surface] {
            row->setSelected(model.surface() == surface);
        });
        list->addWidget(row);
        m_rows.append(row);
    }
    column->addLayout(list);
    column->addStretch(1);

    auto *bottom = new QVBoxLayout;
    bottom->setContentsMargins(18, 0, 18, 20);
    bottom->setSpacing(12);
    m_newPublication = new RowButton(L10n::t("New publication"), PrimaryButtonStyle(false), side);
    m_newPublication->setSymbol(QStringLiteral("plus"));
    m_newPublication->setFillsWidth(true);
    connect(m_newPublication, &QAbstractButton::clicked, side, [&model] { model.openComposer(std::nullopt); });
    bottom->addWidget(m_newPublication);

    m_ask = new RowButton(L10n::t("Ask the cat"), QuietButtonStyle(false), side);
    m_ask->setSymbol(Icons::has(QStringLiteral("cat")) ? QStringLiteral("cat") : QStringLiteral("pawprint"));
    // The hot key, as the keyboard names it.
    m_ask->setHint(QStringLiteral("Alt ␣"), DesignFonts::system(11, DesignFonts::Weight::medium), Color::muted);
    m_ask->setFillsWidth(true);
    connect(m_ask, &QAbstractButton::clicked, side, [&model] { model.raiseEvent(AppEvent::of(AppEvent::Kind::askRequested)); });
    bottom->addWidget(m_ask);

    auto *account = new QVBoxLayout;
    account->setContentsMargins(0, 6, 0, 0);
    account->setSpacing(3);
    m_account = text(accountNameFor(model), 12.5, DesignFonts::Weight::medium, Color::text, side);
    m_account->setMaxLines(1);
    m_instagram = text(instagramLineFor(model), 11.5, DesignFonts::Weight::regular, Color::muted, side);
    m_instagram->setMaxLines(1);
    account->addWidget(m_account);
    account->addWidget(m_instagram);
    bottom->addLayout(account);
    column->addLayout(bottom);

    TextBlock *accountName = m_account, *instagramLine = m_instagram;
    connect(&model, &AppModel::userChanged, accountName,
            [accountName, &model] { accountName->setText(accountNameFor(model)); });
    connect(&model, &AppModel::instagramChanged, instagramLine,
            [instagramLine, &model] { instagramLine->setText(instagramLineFor(model)); });
    return side;
}
