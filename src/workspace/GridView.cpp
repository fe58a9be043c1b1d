#include "workspace/GridView.h"

#include "app/AppModel.h"
#include "app/DraftPlace.h"
#include "companion/ShadowPainter.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/Controls.h"
#include "design/DateText.h"
#include "design/DesignFonts.h"
#include "design/EmptyStateCard.h"
#include "design/Icons.h"
#include "design/L10n.h"
#include "design/MenuLook.h"
#include "design/PaletteColors.h"
#include "design/ServiceDomain.h"
#include "design/StatusPill.h"
#include "design/TextBlock.h"
#include "design/Titles.h"
#include "design/ZephylSurface.h"
#include "planner/PlanCalendar.h"
#include "workspace/DraftEditorView.h"
#include "workspace/KeyboardHold.h"
#include "workspace/PlannerKit.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QShowEvent>

#include <cmath>

using ZephylPalette::Color;

namespace {

constexpr int kColumns = 3;
constexpr int kGap = 3;
constexpr int kGridWidth = 660;

int tileHeight(int width) { return int(std::lround(width / 0.75)); }

// Three equal columns, `kGap` apart, rows of 3:4 cells.
class TileGridLayout final : public ArrangingLayout {
public:
    explicit TileGridLayout(QWidget *parent) : ArrangingLayout(parent) { setContentsMargins(0, 0, 0, 0); }
    QSize sizeHint() const override { return {kGridWidth, heightForWidth(kGridWidth)}; }
    QSize minimumSize() const override { return {3 * 10 + 2 * kGap, heightForWidth(3 * 10 + 2 * kGap)}; }
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    // The grid is never wider than its limit, whatever width the column offers.
    int heightForWidth(int width) const override { return ArrangingLayout::heightForWidth(std::min(width, kGridWidth)); }

protected:
    int arrange(const QRect &rect, bool apply) const override
    {
        const int width = std::max(3 * 10, (rect.width() - (kColumns - 1) * kGap) / kColumns);
        const int height = tileHeight(width);
        const int rows = (int(m_items.size()) + kColumns - 1) / kColumns;
        if (apply) {
            for (int i = 0; i < m_items.size(); ++i) {
                const int col = i % kColumns, row = i / kColumns;
                int x = col * (width + kGap);
                if (rightToLeft())
                    x = rect.width() - x - width;
                m_items[i]->setGeometry(QRect(rect.x() + x, rect.y() + row * (height + kGap), width, height));
            }
        }
        return rows == 0 ? 0 : rows * height + (rows - 1) * kGap;
    }
};

QString titleOrUntitled(const ZephylWire::PlanDraft &draft)
{
    return draft.title.isEmpty() ? L10n::t("Untitled draft") : PlannerKit::shownText(draft.title);
}

} // namespace

// ---- GridTile

GridTile::GridTile(std::optional<QUrl> picture, QWidget *parent) : ActiveCard(parent), m_picture(std::move(picture))
{
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    // Tiles touch: each is ringed inside its edge, over its picture.
    FocusRing::drawnByControl(this);
    if (m_picture) {
        const QString key = m_picture->toString();
        connect(&PictureCache::shared(), &PictureCache::settled, this, [this, key](const QUrl &url) {
            if (url.toString() == key)
                update();
        });
    }
    AppearanceService::repaintOnChange(this);
}

int GridTile::heightForWidth(int width) const { return tileHeight(width); }

QImage GridTile::loadedPicture() const
{
    // Not laid out yet: nothing to cover, so nothing is fetched.
    if (!m_picture || width() <= 0 || height() <= 0)
        return {};
    const qreal ratio = devicePixelRatioF();
    return PictureCache::shared().picture(*m_picture, QSize(int(width() * ratio), int(height() * ratio)));
}

bool GridTile::paintPicture(QPainter &painter)
{
    const QImage image = loadedPicture();
    if (image.isNull())
        return false;
    const QSizeF scaled = QSizeF(image.size()).scaled(QSizeF(size()), Qt::KeepAspectRatioByExpanding);
    painter.drawImage(QRectF((width() - scaled.width()) / 2, (height() - scaled.height()) / 2, scaled.width(),
                             scaled.height()),
                      image);
    return true;
}

void GridTile::paintFocusRing(QPainter &painter)
{
    if (!FocusRing::shown(this))
        return;
    // Over a picture of any colour: the ring, and a line of the opposite
    // lightness inside it.
    const Appearance appearance = AppearanceService::shared().appearance();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(FocusRing::color(appearance), 3));
    painter.drawRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
    painter.setPen(QPen(PaletteColors::color(Color::surface, appearance), 1.5));
    painter.drawRect(QRectF(rect()).adjusted(3.75, 3.75, -3.75, -3.75));
}

// ---- DraftTile

DraftTile::DraftTile(const ZephylWire::PlanDraft &draft, QWidget *parent) : GridTile(draft.preview, parent), m_draft(draft)
{
    auto *badge = new StatusPill(L10n::t("Draft"), PillTone::accent, this);
    badge->setObjectName(QStringLiteral("draftBadge"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(badge, 0, Qt::AlignTop | Qt::AlignLeading);
    layout->addStretch(1);
    setAccessibleName(placeholderText());
    // Reached by Tab in grid order, which is the order the grid reads in.
    takeKeyboard();
}

QString DraftTile::placeholderText() const
{
    return m_draft.title.isEmpty() ? PublishFormats::label(PublishFormats::fromPlanValue(m_draft.format))
                                   : PlannerKit::shownText(m_draft.title);
}

QString DraftTile::placeholderSymbol() const
{
    return PlannerKit::symbol(PublishFormats::fromPlanValue(m_draft.format));
}

void DraftTile::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipRect(rect());
    if (paintPicture(painter)) {
        paintFocusRing(painter);
        return;
    }
    painter.fillRect(rect(), PaletteColors::color(Color::warmPaper));
    // The symbol over at most three centred lines, in the middle of the tile,
    // clear of the badge.
    const QFont font = DesignFonts::system(12, DesignFonts::Weight::medium);
    const double textWidth = std::max(10, width() - 24);
    // The title reads in its own direction, whatever the window's.
    const QString words = placeholderText();
    const Qt::LayoutDirection direction = words.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
    const QStringList lines = TextBlock::layoutLines(words, font, textWidth, 3, direction);
    const QFontMetricsF metrics(font);
    const double icon = Icons::boxForFontSize(20);
    const double block = icon + 8 + lines.size() * metrics.height();
    double y = std::max((height() - block) / 2, 40.0);
    Icons::paint(painter, placeholderSymbol(), QRectF((width() - icon) / 2, y, icon, icon),
                 PaletteColors::color(Color::settled), layoutDirection());
    y += icon + 8;
    painter.setFont(font);
    painter.setPen(PaletteColors::color(Color::text));
    painter.setLayoutDirection(direction);
    for (const QString &line : lines) {
        painter.drawText(QRectF(12, y, textWidth, metrics.height()), Qt::AlignCenter, line);
        y += metrics.height();
    }
    paintFocusRing(painter);
}

// ---- FeedTile

FeedTile::FeedTile(const ZephylWire::InstagramFeedItem &item, QWidget *parent)
    : GridTile(item.tileURL(), parent), m_item(item)
{
    setAccessibleName(spokenName(item));
    // A post with an address opens as a click opens it: reached by Tab after
    // the drafts, in grid order. One without does nothing, so takes no stop.
    if (item.platformURL)
        takeKeyboard();
    else
        setCursor(Qt::ArrowCursor);
}

QString FeedTile::spokenName(const ZephylWire::InstagramFeedItem &item)
{
    using Kind = ZephylWire::InstagramFeedItem::Kind;
    const QString kind = PublishFormats::label(item.kind == Kind::reel       ? PublishFormat::reel
                                               : item.kind == Kind::carousel ? PublishFormat::carousel
                                                                             : PublishFormat::feed);
    const QString separator = QStringLiteral(" \u00B7 ");
    // The caption's first words: at most 40 characters, ending with a whole
    // word unless the first ones are that long.
    const QString caption = item.caption.simplified();
    if (!caption.isEmpty()) {
        constexpr qsizetype kStart = 40;
        if (caption.size() <= kStart)
            return kind + separator + caption;
        const qsizetype space = caption.left(kStart + 1).lastIndexOf(QLatin1Char(' '));
        const QString start = space >= kStart / 2 ? caption.left(space) : PlannerKit::shownText(caption, kStart);
        return kind + separator + start + QChar(0x2026);
    }
    if (const auto posted = item.postedAt ? PlanCalendar::parseInternetDateTime(*item.postedAt) : std::nullopt)
        return kind + separator + DateText::date(*posted);
    return kind;
}

std::optional<QString> FeedTile::badgeSymbol(ZephylWire::InstagramFeedItem::Kind kind)
{
    switch (kind) {
    case ZephylWire::InstagramFeedItem::Kind::reel: return QStringLiteral("play.fill");
    case ZephylWire::InstagramFeedItem::Kind::carousel: return QStringLiteral("square.on.square");
    case ZephylWire::InstagramFeedItem::Kind::feed:
    case ZephylWire::InstagramFeedItem::Kind::unknown: return std::nullopt;
    }
    return std::nullopt;
}

void FeedTile::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipRect(rect());
    if (!paintPicture(painter))
        painter.fillRect(rect(), PaletteColors::color(Color::surfaceSoft));
    if (const auto symbol = badgeSymbol(m_item.kind)) {
        const double box = Icons::boxForFontSize(11);
        const bool rtl = layoutDirection() == Qt::RightToLeft;
        const QRectF mark(rtl ? 8 : width() - 8 - box, 8, box, box);
        // A soft dark shadow under the white mark keeps it legible on any picture.
        ShadowPainter::paint(painter, mark, 1, {{QColor(0, 0, 0, 128), 3, {0, 0}}},
                             [&](QPainter &p) { Icons::paint(p, *symbol, mark, Qt::white); });
    }
    paintFocusRing(painter);
}

// ---- GridView

GridView::GridView(AppModel &model, QWidget *parent) : Screen(model, parent)
{
    populate();
    for (auto signal : {&AppModel::planDraftsChanged, &AppModel::feedItemsChanged, &AppModel::feedStatusChanged,
                        &AppModel::feedHasMoreChanged, &AppModel::instagramChanged})
        connect(&model, signal, this, &Screen::rebuildSoon);
    connect(&model, &AppModel::draftEditReturned, this, &GridView::resumeDraftEdit);
}

// An open sheet goes once this screen has gone (SheetLayer follows its owner).
GridView::~GridView() = default;

void GridView::showEvent(QShowEvent *event)
{
    Screen::showEvent(event);
    // Posts already loaded are not loaded again on returning to the screen.
    if (!event->spontaneous() && model().feedItems().isEmpty())
        model().loadFeed(true);
}

std::optional<QString> GridView::feedNote(const FeedStatus &status, bool noItems)
{
    switch (status.kind) {
    case FeedStatus::Kind::idle:
    case FeedStatus::Kind::loading: return std::nullopt;
    case FeedStatus::Kind::synced:
        if (noItems)
            return L10n::t("No published posts were returned for this account yet.");
        return std::nullopt;
    case FeedStatus::Kind::unavailable:
        return L10n::tf("The published feed is not available right now (%@). Drafts are still here.",
                        PlannerKit::shownText(status.reason));
    case FeedStatus::Kind::disconnected: return L10n::t("Instagram is not connected, so only drafts are shown.");
    }
    return std::nullopt;
}

void GridView::editDraft(const ZephylWire::PlanDraft &draft, int place)
{
    if (m_sheet)
        m_sheet->dismiss();
    auto *editor = DraftEditorView::open(model(), draft, false, place, Surface::grid);
    m_sheet = new SheetLayer(editor, this, editor->takeActions());
    connect(editor, &DraftEditorView::closeRequested, m_sheet, &SheetLayer::dismiss);
    // Escape drops the sheet's work as "Cancel" does.
    connect(m_sheet, &SheetLayer::dismissed, editor, &DraftEditorView::cancel);
}

void GridView::resumeDraftEdit()
{
    // Only the screen on show takes it, not one of a branch on its way out.
    if (!isVisibleTo(window()))
        return;
    if (const auto edit = model().takeReturnedDraftEdit(Surface::grid)) {
        editDraft(edit->shown, edit->place);
        editor()->restore(*edit);
    }
}

DraftEditorView *GridView::editor() const
{
    return m_sheet ? qobject_cast<DraftEditorView *>(m_sheet->content()) : nullptr;
}

QMenu *GridView::menuFor(const ZephylWire::PlanDraft &draft, QWidget *parent, int place)
{
    auto *menu = new QMenu(parent);
    AppModel &model = this->model();
    const qint64 id = draft.id;
    // Where the draft stands when the entry is chosen: the plan may have changed since.
    const auto now = [&model, draft, place] { return DraftPlace::placeOf(model.planDrafts(), draft, place); };
    // Every entry is always offered; moves past either end are ignored by the model.
    connect(menu->addAction(L10n::t("Move earlier")), &QAction::triggered, &model,
            [&model, id, now] { model.moveDraft(id, -1, now()); });
    connect(menu->addAction(L10n::t("Move later")), &QAction::triggered, &model,
            [&model, id, now] { model.moveDraft(id, +1, now()); });
    connect(menu->addAction(L10n::t("Hide from grid")), &QAction::triggered, &model,
            [&model, id, now] { model.setDraftHidden(id, true, now()); });
    menu->addSeparator();
    connect(menu->addAction(L10n::t("Edit draft")), &QAction::triggered, this,
            [this, draft, place] { editDraft(draft, place); });
    connect(menu->addAction(L10n::t("Prepare publication")), &QAction::triggered, &model,
            [&model, draft] { model.openComposer(PlannerKit::prefill(draft)); });
    return menu;
}

void GridView::openPost(const ZephylWire::InstagramFeedItem &item) { PlannerKit::openInstagram(item.platformURL); }

QWidget *GridView::grid(QWidget *parent)
{
    auto *box = new QWidget(parent);
    box->setObjectName(QStringLiteral("tileGrid"));
    box->setMaximumWidth(kGridWidth);
    auto *layout = new TileGridLayout(box);
    const QList<ZephylWire::PlanDraft> &drafts = model().planDrafts();
    for (const qsizetype index : model().gridOrder()) {
        const ZephylWire::PlanDraft &draft = drafts[index];
        const int place = DraftPlace::at(drafts, index);
        auto *tile = new DraftTile(draft, box);
        KeyboardHold::setIdentity(tile, QStringLiteral("draft-%1 %2").arg(draft.id).arg(place));
        connect(tile, &GridTile::clicked, this, [this, draft, place] { editDraft(draft, place); });
        connect(tile, &GridTile::menuRequested, this, [this, draft, place, tile](const QPoint &at) {
            QMenu *menu = menuFor(draft, tile, place);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            MenuLook::popup(menu, at);
        });
        layout->addWidget(tile);
    }
    for (const ZephylWire::InstagramFeedItem &item : model().feedItems()) {
        auto *tile = new FeedTile(item, box);
        connect(tile, &GridTile::clicked, this, [this, item] { openPost(item); });
        layout->addWidget(tile);
    }
    return box;
}

QWidget *GridView::hiddenSection(const QList<qsizetype> &hidden, QWidget *parent)
{
    auto *box = new QWidget(parent);
    box->setMaximumWidth(kGridWidth);
    auto *column = PlannerKit::bareColumn(box, 8);
    column->addWidget(new Eyebrow(L10n::t("Hidden from grid"), box));
    AppModel &model = this->model();
    const QList<ZephylWire::PlanDraft> &drafts = model.planDrafts();
    for (const qsizetype index : hidden) {
        const ZephylWire::PlanDraft &draft = drafts[index];
        auto *card = new ZephylSurface(12, false, box);
        auto *row = new QHBoxLayout(card);
        row->setContentsMargins(14, 8, 14, 8);
        auto *title = text(titleOrUntitled(draft), 13, DesignFonts::Weight::regular, Color::text, card);
        title->setMaxLines(1);
        title->setObjectName(QStringLiteral("hiddenTitle"));
        row->addWidget(title, 1, Qt::AlignVCenter);
        auto *show = new StyledButton(L10n::t("Show"), QuietButtonStyle(true), card);
        const int place = DraftPlace::at(drafts, index);
        connect(show, &QPushButton::clicked, &model, [&model, draft, place] {
            model.setDraftHidden(draft.id, false, DraftPlace::placeOf(model.planDrafts(), draft, place));
        });
        row->addWidget(show, 0, Qt::AlignVCenter);
        column->addWidget(card);
    }
    return box;
}

QWidget *GridView::build()
{
    AppModel &model = this->model();
    QVBoxLayout *column = nullptr;
    QScrollArea *area = scrollColumn(column, 980, QMargins(32, 44, 32, 32), 22);
    keepScroll(area);
    m_area = area;
    QWidget *body = column->parentWidget();

    auto *header = new QWidget(body);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(0, 0, 0, 0);
    headerRow->setSpacing(10);
    headerRow->addWidget(new ScreenTitle(L10n::t("Grid"), L10n::t("Your profile, ahead of time"), header), 0,
                         Qt::AlignBottom);
    headerRow->addStretch(1);
    if (model.feedStatus().kind == FeedStatus::Kind::loading)
        headerRow->addWidget(new Spinner(header), 0, Qt::AlignBottom);
    auto *refresh = new StyledButton(L10n::t("Refresh"), QuietButtonStyle(true), header);
    // The drafts above the posts are read again too: another device may have changed them.
    connect(refresh, &QPushButton::clicked, &model, [&model] {
        model.loadPlan();
        model.loadFeed(true);
    });
    headerRow->addWidget(refresh, 0, Qt::AlignBottom);
    column->addWidget(header);

    const QList<ZephylWire::PlanDraft> visible = model.gridDrafts();
    // Off line nothing says the account is not connected: the grid says the service is what is missing.
    if (!model.instagramConnected() && model.instagramKnown() && visible.isEmpty()) {
        column->addWidget(leading(
            new EmptyStateCard(QStringLiteral("square.grid.3x3"), L10n::t("Connect Instagram to see the grid"),
                               L10n::t("Published posts come from your own profile, read-only. Drafts from the plan "
                                       "sit above them so you can see the composition before anything goes out."),
                               L10n::t("Go to Profile"), [&model] { model.setSurface(Surface::profile); }),
            body));
    } else {
        column->addWidget(grid(body));
        if (model.feedHasMore()) {
            auto *earlier = new StyledButton(L10n::t("Show earlier posts"), QuietButtonStyle(true), body);
            connect(earlier, &QPushButton::clicked, &model, [&model] { model.loadFeed(false); });
            column->addWidget(earlier, 0, Qt::AlignLeading);
        }
        const std::optional<QString> note = model.instagramKnown()
                                                ? feedNote(model.feedStatus(), model.feedItems().isEmpty())
                                                : L10n::t(ZEPHYL_SERVICE_DOMAIN " can't be reached");
        if (note) {
            auto *line = text(*note, 12.5, DesignFonts::Weight::regular, Color::muted, body);
            line->setObjectName(QStringLiteral("feedNote"));
            column->addWidget(line);
        }
        QList<qsizetype> hidden;
        for (qsizetype i = 0; i < model.planDrafts().size(); ++i) {
            if (model.planDrafts()[i].hiddenFromGrid)
                hidden << i;
        }
        if (!hidden.isEmpty())
            column->addWidget(hiddenSection(hidden, body));
    }

    column->addWidget(text(L10n::t("Drafts sit above your published posts. The grid shows composition only: no "
                                   "counters, no comparisons."),
                           12, DesignFonts::Weight::regular, Color::muted, body));
    column->addStretch(1);
    return area;
}

QList<GridTile *> GridView::tiles() const
{
    return content() ? content()->findChildren<GridTile *>() : QList<GridTile *>();
}

QStringList GridView::hiddenTitles() const
{
    QStringList titles;
    if (!content())
        return titles;
    for (TextBlock *block : content()->findChildren<TextBlock *>(QStringLiteral("hiddenTitle")))
        titles << block->text();
    return titles;
}

std::optional<QString> GridView::shownFeedNote() const
{
    if (!content())
        return std::nullopt;
    if (auto *note = content()->findChild<TextBlock *>(QStringLiteral("feedNote")))
        return note->text();
    return std::nullopt;
}

QAbstractButton *GridView::button(const QString &label) const { return PlannerKit::findButton(content(), label); }
