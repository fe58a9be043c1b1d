#include "workspace/PlanView.h"
#include "design/TextDirection.h"

#include "app/AppModel.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/Controls.h"
#include "design/DesignFonts.h"
#include "design/Icons.h"
#include "design/DateText.h"
#include "design/L10n.h"
#include "design/MenuLook.h"
#include "design/Legibility.h"
#include "design/PaletteColors.h"
#include "design/ServiceDomain.h"
#include "design/StatusPill.h"
#include "design/TextBlock.h"
#include "design/Titles.h"
#include "design/ZephylSpringCurve.h"
#include "design/ZephylSurface.h"
#include "workspace/DraftEditorView.h"
#include "workspace/KeyboardHold.h"
#include "workspace/PlannerKit.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QShowEvent>
#include <QTimeZone>
#include <QVariantAnimation>

#include <algorithm>

using ZephylPalette::Color;

namespace {

// The format's symbol centred on a soft rounded tile.
class SymbolTile final : public QWidget {
public:
    SymbolTile(const QString &symbol, QWidget *parent) : QWidget(parent), m_symbol(symbol) { setFixedSize(40, 40); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath tile;
        tile.addRoundedRect(QRectF(rect()), 12, 12);
        painter.fillPath(tile, PaletteColors::color(Color::surfaceSoft));
        const double box = Icons::boxForFontSize(15);
        const QRectF icon((width() - box) / 2, (height() - box) / 2, box, box);
        Icons::paint(painter, m_symbol, icon, PaletteColors::color(Color::text), layoutDirection());
    }

private:
    QString m_symbol;
};

// The week strip's day row sits on a soft rounded band.
class SoftBand final : public QWidget {
public:
    explicit SoftBand(QWidget *parent) : QWidget(parent) { AppearanceService::repaintOnChange(this); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath band;
        band.addRoundedRect(QRectF(rect()), 20, 20);
        painter.fillPath(band, PaletteColors::color(Color::surfaceSoft));
    }
};

QTimeZone zone() { return QTimeZone::systemTimeZone(); }


} // namespace

// ---- PlanRow

PlanRow::PlanRow(const PlanEntry &entry, QWidget *parent) : ActiveCard(parent), m_entry(entry)
{
    setAttribute(Qt::WA_Hover);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(14);
    row->addWidget(new SymbolTile(PlannerKit::symbol(entry.format), this), 0, Qt::AlignVCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->setContentsMargins(0, 0, 0, 0);
    m_title = new TextBlock(PlannerKit::shownText(entry.title), DesignFonts::system(13.5, DesignFonts::Weight::medium),
                            Color::text, this);
    m_title->setMaxLines(1);
    m_title->setPreferredWidth(200);
    m_subtitle = new TextBlock(subtitle(entry), DesignFonts::system(12, DesignFonts::Weight::regular), Color::muted, this);
    m_subtitle->setMaxLines(1);
    m_subtitle->setPreferredWidth(200);
    texts->addWidget(m_title);
    texts->addWidget(m_subtitle);
    row->addLayout(texts, 1);
    row->setAlignment(texts, Qt::AlignVCenter);

    m_pill = new StatusPill(pillText(entry.state), pillTone(entry.state), this);
    row->addWidget(m_pill, 0, Qt::AlignVCenter);
    // Reached by Tab in the order the rows are listed; the title names it, the
    // rest of the line describes it, and its entry finds it again in a list
    // built anew.
    takeKeyboard();
    FocusRing::setOutline(this, {16, {}});
    setAccessibleName(m_title->text());
    KeyboardHold::setIdentity(this, entry.id + QLatin1Char(' ') + QString::number(entry.draftPlace));
    setAccessibleDescription(m_subtitle->text() + QStringLiteral(" \u00B7 ") + m_pill->text());
    AppearanceService::repaintOnChange(this);
}

QString PlanRow::subtitle(const PlanEntry &entry)
{
    QStringList parts{PublishFormats::label(entry.format)};
    if (entry.date)
        parts << DateText::dateTime(*entry.date);
    if (entry.state.kind() == PlanEntry::State::Kind::failed && !entry.state.error().isEmpty()) {
        QString reason = PlannerKit::shownText(entry.state.error());
        // The service's words: they reorder nothing of the line before them,
        // nor does a line that reads right to left reorder them.
        parts << isolatedPiece(reason.replace(u'_', u' '), L10n::layoutDirection());
    }
    return parts.join(QStringLiteral(" \u00B7 "));
}

QString PlanRow::pillText(const PlanEntry::State &state)
{
    switch (state.kind()) {
    case PlanEntry::State::Kind::draft: return L10n::t("Draft");
    case PlanEntry::State::Kind::scheduled: return L10n::t("Scheduled");
    case PlanEntry::State::Kind::underway: return L10n::t("Underway");
    case PlanEntry::State::Kind::published: return L10n::t("Published");
    case PlanEntry::State::Kind::overdue: return L10n::t("Unconfirmed");
    case PlanEntry::State::Kind::failed: return L10n::t("Failed");
    }
    return L10n::t("Scheduled");
}

PillTone PlanRow::pillTone(const PlanEntry::State &state)
{
    switch (state.kind()) {
    case PlanEntry::State::Kind::draft: return PillTone::neutral;
    case PlanEntry::State::Kind::scheduled:
    case PlanEntry::State::Kind::underway: return PillTone::accent;
    case PlanEntry::State::Kind::published: return PillTone::settled;
    case PlanEntry::State::Kind::overdue:
    case PlanEntry::State::Kind::failed: return PillTone::attention;
    }
    return PillTone::neutral;
}

void PlanRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const ZephylSurfaceModifier card{16, false};
    const Appearance appearance = AppearanceService::shared().appearance();
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    card.paintBackground(painter, box, appearance);
    card.paintStroke(painter, box, appearance);
}

// ---- DayCell

DayCell::DayCell(const QDate &date, bool selected, bool today, bool hasEntries, QWidget *parent)
    : QAbstractButton(parent), m_date(date), m_selected(selected), m_today(today), m_hasEntries(hasEntries)
{
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(DateText::dayHeading(date));
    setFocusPolicy(Qt::TabFocus);
    FocusRing::track(this);
    FocusRing::setOutline(this, {10, {}});
    AppearanceService::repaintOnChange(this);
}

void DayCell::animateSelection()
{
    auto *animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    ZephylSpringCurve::apply(*animation);
    connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_grow = value.toDouble();
        update();
    });
    m_grow = 0.0;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

ZephylPalette::Color DayCell::weekdayColor() const { return m_selected ? Color::text : Color::muted; }

ZephylPalette::Color DayCell::numberColor() const
{
    return m_selected ? Color::onPrimaryFill : m_today ? Color::accent : Color::text;
}

QSize DayCell::sizeHint() const
{
    const QFont weekday = DesignFonts::system(10, DesignFonts::Weight::semibold);
    const int line = QFontMetrics(weekday).height();
    return {44, line + 6 + 38 + 6 + 5};
}

QSize DayCell::minimumSizeHint() const { return {38, sizeHint().height()}; }

void DayCell::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFont weekdayFont = DesignFonts::tracked(DesignFonts::system(10, DesignFonts::Weight::semibold),
                                                   L10n::languageTracking(0.6));
    const int line = QFontMetrics(weekdayFont).height();
    const double top = (height() - sizeHint().height()) / 2.0;

    painter.setFont(weekdayFont);
    painter.setPen(PaletteColors::color(weekdayColor()));
    painter.drawText(QRectF(0, top, width(), line), Qt::AlignCenter,
                     DateText::weekdayShort(m_date));

    const QRectF circle((width() - 38) / 2.0, top + line + 6, 38, 38);
    if (m_selected) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(PaletteColors::color(Color::primaryFill));
        const double side = 38 * (0.5 + 0.5 * std::clamp(m_grow, 0.0, 1.2));
        painter.drawEllipse(QRectF(circle.center().x() - side / 2, circle.center().y() - side / 2, side, side));
    }
    // Today's accent number reads under 3:1 on the light strip: there it is
    // drawn in the text colour and a ring in that colour marks the day instead.
    const Appearance appearance = AppearanceService::shared().appearance();
    const Color number = m_selected ? numberColor() : ZephylPalette::legibleOn(numberColor(), Color::surfaceSoft, appearance);
    if (!m_selected && m_today && number != numberColor()) {
        painter.setPen(QPen(PaletteColors::color(number, appearance), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(2, 2, -2, -2));
    }
    painter.setFont(DesignFonts::rounded(16, DesignFonts::Weight::semibold));
    painter.setPen(PaletteColors::color(number, appearance));
    painter.drawText(circle, Qt::AlignCenter, DateText::dayNumber(m_date));

    if (m_hasEntries) {
        // The dot alone says the day has something planned: it must stand out
        // from the strip by 3:1, which the accent does only in the dark appearance.
        painter.setPen(Qt::NoPen);
        painter.setBrush(PaletteColors::color(
            ZephylPalette::legibleOn(Color::accent, Color::surfaceSoft, appearance, ZephylPalette::kShapeContrast),
            appearance));
        painter.drawEllipse(QRectF(width() / 2.0 - 2.5, circle.bottom() + 6, 5, 5));
    }
}

// ---- PlanView

PlanView::PlanView(AppModel &model, QWidget *parent) : Screen(model, parent)
{
    m_selectedDay = today();
    populate();
    // The lists follow the plan; a burst of changes is drawn once.
    connect(&model, &AppModel::planDraftsChanged, this, &Screen::rebuildSoon);
    connect(&model, &AppModel::publicationsChanged, this, &Screen::rebuildSoon);
    connect(&model, &AppModel::planLoadingChanged, this, &Screen::rebuildSoon);
    connect(&model, &AppModel::planUnsavedChanged, this, &Screen::rebuildSoon);
    connect(&model, &AppModel::planUnavailableChanged, this, &Screen::rebuildSoon);
    connect(&model, &AppModel::draftEditReturned, this, &PlanView::resumeDraftEdit);
}

// An open sheet goes once this screen has gone (SheetLayer follows its owner).
PlanView::~PlanView() = default;

void PlanView::showEvent(QShowEvent *event)
{
    Screen::showEvent(event);
    // Each time the screen comes into view (not when the window is restored).
    if (!event->spontaneous())
        model().loadPlan();
}

QDate PlanView::today() const { return model().clock().now().toTimeZone(zone()).date(); }

std::vector<QDate> PlanView::days() const
{
    return PlanCalendar::days(PlanCalendar::shownWeekStart(model().clock().now(), m_weekOffset, zone()), zone());
}

std::vector<PlanEntry> PlanView::entries() const
{
    return PlanCalendar::entries(model().planDrafts(), model().publications(), model().clock().now(),
                                 PlannerKit::systemLocale());
}

QString PlanView::weekTitle() const
{
    const std::vector<QDate> shown = days();
    return shown.empty() ? QString() : DateText::weekTitle(shown.front(), shown.back());
}

void PlanView::setWeekOffset(int offset)
{
    if (offset == m_weekOffset)
        return;
    m_weekOffset = offset;
    rebuild();
}

void PlanView::selectDay(const QDate &day)
{
    if (!day.isValid() || day == m_selectedDay)
        return;
    m_selectedDay = day;
    rebuild();
}

void PlanView::showToday()
{
    m_weekOffset = 0;
    m_selectedDay = today();
    rebuild();
}

ZephylWire::PlanDraft PlanView::newDraft() const
{
    return PlanCalendar::newDraft(m_selectedDay, model().clock().now(), model().nextDraftID(), zone());
}

void PlanView::editDraft(const ZephylWire::PlanDraft &draft, int place) { openEditor(draft, false, place); }

void PlanView::createDraft() { openEditor(newDraft(), true, 0); }

DraftEditorView *PlanView::editor() const
{
    return m_sheet ? qobject_cast<DraftEditorView *>(m_sheet->content()) : nullptr;
}

void PlanView::openEditor(const ZephylWire::PlanDraft &draft, bool isNew, int place)
{
    if (m_sheet)
        m_sheet->dismiss();
    auto *editor = DraftEditorView::open(model(), draft, isNew, place, Surface::plan);
    m_sheet = new SheetLayer(editor, this, editor->takeActions());
    connect(editor, &DraftEditorView::closeRequested, m_sheet, &SheetLayer::dismiss);
    // Escape drops the sheet's work as "Cancel" does.
    connect(m_sheet, &SheetLayer::dismissed, editor, &DraftEditorView::cancel);
}

void PlanView::resumeDraftEdit()
{
    // Only the screen on show takes it, not one of a branch on its way out.
    if (!isVisibleTo(window()))
        return;
    if (const auto edit = model().takeReturnedDraftEdit(Surface::plan)) {
        openEditor(edit->shown, edit->isNew, edit->place);
        editor()->restore(*edit);
    }
}

void PlanView::activate(const PlanEntry &entry)
{
    // A publication has nothing to edit here.
    if (entry.draft)
        editDraft(*entry.draft, entry.draftPlace);
}

QMenu *PlanView::menuFor(const PlanEntry &entry, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    AppModel &model = this->model();
    if (entry.draft) {
        const ZephylWire::PlanDraft draft = *entry.draft;
        const int place = entry.draftPlace;
        connect(menu->addAction(L10n::t("Edit draft")), &QAction::triggered, this,
                [this, draft, place] { editDraft(draft, place); });
        connect(menu->addAction(L10n::t("Prepare publication")), &QAction::triggered, this,
                [&model, draft] { model.openComposer(PlannerKit::prefill(draft)); });
        menu->addSeparator();
        QAction *remove = menu->addAction(L10n::t("Delete draft"));
        MenuLook::markDestructive(remove);
        connect(remove, &QAction::triggered, &model, [&model, draft, place] {
            PlannerKit::removeDraft(model, draft, place);
            model.savePlan();
        });
    }
    if (entry.publication && entry.publication->platformUrl) {
        // Only an https address on Instagram's site is handed to the desktop.
        const auto safe = ZephylWire::InstagramFeedItem::safeInstagramURL(
            entry.publication->platformUrl->toString(QUrl::FullyEncoded));
        if (safe) {
            const QUrl url = *safe;
            connect(menu->addAction(L10n::t("Open on Instagram")), &QAction::triggered, this,
                    [url] { PlannerKit::openInstagram(url); });
        }
    }
    return menu;
}

QWidget *PlanView::row(const PlanEntry &entry, QWidget *parent)
{
    auto *row = new PlanRow(entry, parent);
    connect(row, &PlanRow::clicked, this, [this, entry] { activate(entry); });
    connect(row, &PlanRow::menuRequested, this, [this, row](const QPoint &at) {
        QMenu *menu = menuFor(row->entry(), row);
        if (menu->isEmpty()) {
            menu->deleteLater();
            return;
        }
        menu->setAttribute(Qt::WA_DeleteOnClose);
        MenuLook::popup(menu, at);
    });
    return row;
}

QWidget *PlanView::list(const std::vector<PlanEntry> &entries, QWidget *parent)
{
    auto *box = new QWidget(parent);
    auto *column = PlannerKit::bareColumn(box, 8);
    for (const PlanEntry &entry : entries)
        column->addWidget(row(entry, box));
    return box;
}

QWidget *PlanView::section(const QString &title, QWidget *content, QWidget *parent)
{
    auto *box = new QWidget(parent);
    auto *column = PlannerKit::bareColumn(box, 10);
    auto *heading = text(title, 16, DesignFonts::Weight::semibold, Color::text, box);
    heading->setObjectName(QStringLiteral("sectionTitle"));
    column->addWidget(heading);
    content->setParent(box);
    column->addWidget(content);
    return box;
}

QWidget *PlanView::weekStrip(const std::vector<PlanEntry> &all, QWidget *parent)
{
    auto *strip = new QWidget(parent);
    auto *column = PlannerKit::bareColumn(strip, 10);

    auto *navigation = new QHBoxLayout;
    navigation->setContentsMargins(0, 0, 0, 0);
    auto *previous = new StyledButton(QString(), QuietButtonStyle(true), strip);
    previous->setSymbol(QStringLiteral("chevron.left"));
    previous->setAccessibleName(L10n::t("Previous week"));
    connect(previous, &QPushButton::clicked, this, [this] { setWeekOffset(m_weekOffset - 1); });
    navigation->addWidget(previous, 0, Qt::AlignVCenter);
    auto *title = text(weekTitle(), 13, DesignFonts::Weight::semibold, Color::text, strip);
    title->setObjectName(QStringLiteral("weekTitle"));
    title->setCentered(true);
    navigation->addWidget(title, 1, Qt::AlignVCenter);
    auto *next = new StyledButton(QString(), QuietButtonStyle(true), strip);
    next->setSymbol(QStringLiteral("chevron.right"));
    next->setAccessibleName(L10n::t("Next week"));
    connect(next, &QPushButton::clicked, this, [this] { setWeekOffset(m_weekOffset + 1); });
    navigation->addWidget(next, 0, Qt::AlignVCenter);
    if (m_weekOffset != 0) {
        auto *todayButton = new StyledButton(L10n::t("Today"), QuietButtonStyle(true), strip);
        connect(todayButton, &QPushButton::clicked, this, &PlanView::showToday);
        navigation->addWidget(todayButton, 0, Qt::AlignVCenter);
    }
    column->addLayout(navigation);

    auto *band = new SoftBand(strip);
    auto *cells = new QHBoxLayout(band);
    cells->setContentsMargins(6, 10, 6, 10);
    cells->setSpacing(6);
    const QDate now = today();
    for (const QDate &day : days()) {
        const bool planned = !PlanCalendar::entriesOn(all, day, zone()).empty();
        auto *cell = new DayCell(day, day == m_selectedDay, day == now, planned, band);
        connect(cell, &QAbstractButton::clicked, this, [this, day] {
            m_animateSelection = true;
            selectDay(day);
            m_animateSelection = false;
        });
        if (m_animateSelection && day == m_selectedDay)
            cell->animateSelection();
        cells->addWidget(cell, 1);
    }
    column->addWidget(band);
    return strip;
}

QWidget *PlanView::build()
{
    AppModel &model = this->model();
    QVBoxLayout *column = nullptr;
    QScrollArea *area = scrollColumn(column, 980, QMargins(32, 44, 32, 32), 24);
    keepScroll(area);
    QWidget *body = column->parentWidget();

    auto *header = new QWidget(body);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(0, 0, 0, 0);
    headerRow->setSpacing(10);
    headerRow->addWidget(new ScreenTitle(L10n::t("Plan"), L10n::t("The week ahead"), header), 0, Qt::AlignBottom);
    headerRow->addStretch(1);
    auto *newDraftButton = new StyledButton(L10n::t("New draft"), QuietButtonStyle(false), header);
    connect(newDraftButton, &QPushButton::clicked, this, &PlanView::createDraft);
    headerRow->addWidget(newDraftButton, 0, Qt::AlignBottom);
    auto *newPublication = new StyledButton(L10n::t("New publication"), PrimaryButtonStyle(false), header);
    connect(newPublication, &QPushButton::clicked, this, [&model] { model.openComposer(std::nullopt); });
    headerRow->addWidget(newPublication, 0, Qt::AlignBottom);
    column->addWidget(header);
    // Without the service's list there is no plan to show, only what this computer kept of it.
    if (model.planUnavailable()) {
        auto *unavailable = new StatusPill(
            L10n::t("The plan could not be loaded yet. It shows here once " ZEPHYL_SERVICE_DOMAIN " answers."),
            PillTone::attention, body);
        unavailable->setObjectName(QStringLiteral("planUnavailable"));
        unavailable->setPreferredWidth(920);
        column->addWidget(leading(unavailable, body));
    }
    // For as long as the service has not taken the plan, not only a passing notice.
    if (model.planUnsaved()) {
        auto *unsaved = new StatusPill(model.planUnsavedText(), PillTone::attention, body);
        unsaved->setObjectName(QStringLiteral("planUnsaved"));
        // A sentence, not a state word: one line wherever the column has room for it.
        unsaved->setPreferredWidth(920);
        column->addWidget(leading(unsaved, body));
    }

    const std::vector<PlanEntry> all = entries();
    column->addWidget(weekStrip(all, body));

    const std::vector<PlanEntry> attention = PlanCalendar::attention(all);
    if (!attention.empty())
        column->addWidget(section(L10n::t("Needs attention"), list(attention, body), body));

    const QString dayTitle = DateText::dayHeading(m_selectedDay);
    const std::vector<PlanEntry> onDay = PlanCalendar::entriesOn(all, m_selectedDay, zone());
    QWidget *dayContent = nullptr;
    if (onDay.empty()) {
        dayContent = new QWidget(body);
        auto *padded = new QVBoxLayout(dayContent);
        padded->setContentsMargins(0, 6, 0, 6);
        auto *nothing =
            text(model.planUnavailable()
                     ? L10n::t("Nothing for this day until the plan has loaded.")
                     : L10n::t("Nothing planned for this day. Zephyl publishes nothing without your confirmation."),
                 13, DesignFonts::Weight::regular, Color::muted, dayContent);
        nothing->setObjectName(QStringLiteral("emptyDay"));
        padded->addWidget(nothing);
    } else {
        dayContent = list(onDay, body);
    }
    column->addWidget(section(dayTitle, dayContent, body));

    const std::vector<PlanEntry> undated = PlanCalendar::undated(all);
    if (!undated.empty())
        column->addWidget(section(L10n::t("Drafts without a date"), list(undated, body), body));

    if (model.planLoading())
        column->addWidget(leading(new Spinner(body), body));
    column->addStretch(1);
    return area;
}

QList<PlanRow *> PlanView::rows() const
{
    return content() ? content()->findChildren<PlanRow *>() : QList<PlanRow *>();
}

QList<DayCell *> PlanView::dayCells() const
{
    return content() ? content()->findChildren<DayCell *>() : QList<DayCell *>();
}

QStringList PlanView::sectionTitles() const
{
    QStringList titles;
    if (!content())
        return titles;
    for (TextBlock *block : content()->findChildren<TextBlock *>(QStringLiteral("sectionTitle")))
        titles << block->text();
    return titles;
}

QAbstractButton *PlanView::button(const QString &label) const { return PlannerKit::findButton(content(), label); }
