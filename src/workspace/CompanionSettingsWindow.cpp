#include "workspace/CompanionSettingsWindow.h"

#include "app/AppModel.h"
#include "companion/CompanionFigure.h"
#include "companion/CompanionLibrary.h"
#include "design/AppearanceService.h"
#include "design/Controls.h"
#include "design/L10n.h"
#include "design/PaletteColors.h"
#include "design/ReadingOrder.h"
#include "design/SettingRow.h"
#include "design/StatusPill.h"
#include "design/TextBlock.h"
#include "design/Titles.h"
#include "design/WindowTitles.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QWindow>

using ZephylPalette::Color;

namespace {
ToggleSwitch *boundSwitch(AppModel &model, QWidget *parent, bool (AppModel::*get)() const,
                          void (AppModel::*changed)(), std::function<void(bool)> set)
{
    auto *control = new ToggleSwitch(QString(), parent);
    control->setOn((model.*get)());
    QObject::connect(control, &ToggleSwitch::switched, parent, std::move(set));
    QObject::connect(&model, changed, control, [control, &model, get] { control->setOn((model.*get)()); });
    return control;
}

// Rows of one card, a hairline between each two.
void addRows(QVBoxLayout *rows, const QList<QWidget *> &widgets)
{
    for (int i = 0; i < widgets.size(); ++i) {
        if (i > 0)
            rows->addWidget(new Divider2(widgets[i]->parentWidget()));
        rows->addWidget(widgets[i]);
    }
}
} // namespace

// ---- CompanionSettingsView

CompanionSettingsView::CompanionSettingsView(AppModel &model, LoginItemSwitch login, QWidget *parent)
    : Screen(model, parent), m_login(std::move(login))
{
    readLoginItem();
    populate();
    connect(&model, &AppModel::themeChanged, this, [&model] { AppearanceService::shared().setTheme(model.theme()); });
    connect(&model, &AppModel::languageChanged, this, [this] { setLayoutDirection(L10n::layoutDirection()); });
    setLayoutDirection(L10n::layoutDirection());
}

void CompanionSettingsView::readLoginItem()
{
    // XDG autostart has no pending approval: an entry either starts us or it does not.
    m_opensAtLogin = m_login.available() && m_login.opensAtLogin();
}

void CompanionSettingsView::showEvent(QShowEvent *event)
{
    Screen::showEvent(event);
    if (event->spontaneous() || !m_login.available())
        return;
    const bool before = m_opensAtLogin;
    readLoginItem();
    if (before != m_opensAtLogin)
        rebuild();
}

void CompanionSettingsView::fitLeastSizeTo(const QSize &room)
{
    m_leastSize = QSize(560, 560).boundedTo(room);
    if (m_cards)
        m_cards->setMinimumSize(m_leastSize);
}

QString CompanionSettingsView::moodWord(const CatWellbeing &wellbeing, const QDateTime &now)
{
    switch (wellbeing.mood(now)) {
    case CatWellbeing::Mood::fed: return L10n::t("Fed and content.");
    case CatWellbeing::Mood::peckish: return L10n::t("A little peckish: nothing published for a couple of days.");
    case CatWellbeing::Mood::hungry:
        return L10n::tf("Hungry: %d days without a publication.", wellbeing.daysSinceFed(now));
    }
    return {};
}

PillTone CompanionSettingsView::moodTone(const CatWellbeing &wellbeing, const QDateTime &now)
{
    switch (wellbeing.mood(now)) {
    case CatWellbeing::Mood::fed: return PillTone::settled;
    case CatWellbeing::Mood::peckish: return PillTone::accent;
    case CatWellbeing::Mood::hungry: return PillTone::attention;
    }
    return PillTone::neutral;
}

QWidget *CompanionSettingsView::build()
{
    AppModel &model = this->model();
    auto *backdrop = new Backdrop(Color::background);
    auto *outer = new QVBoxLayout(backdrop);
    outer->setContentsMargins(0, 0, 0, 0);
    QVBoxLayout *column = nullptr;
    QScrollArea *area = scrollColumn(column, 620, QMargins(28, 28, 28, 28), 22, backdrop);
    area->setMinimumSize(m_leastSize);
    m_cards = area;
    keepScroll(area);
    outer->addWidget(area);
    QWidget *body = column->parentWidget();

    column->addWidget(new ScreenTitle(L10n::t("Companion"), L10n::t("Your cat"), body));

    auto *looks = new QVBoxLayout;
    looks->setSpacing(12);
    looks->addWidget(new Eyebrow(L10n::t("Choose a cat"), body));
    auto *grid = new QWidget(body);
    auto *gridLayout = new AdaptiveGridLayout(150, 190, 12, grid);
    for (const CompanionVariant &variant : CompanionLibrary::variants()) {
        const QString id = variant.id;
        auto *card = new VariantCard(variant, model.companionVariantID() == id,
                                     [&model, id] { model.setCompanionVariantID(id); }, grid);
        connect(&model, &AppModel::companionVariantIDChanged, card,
                [card, &model, id] { card->setSelected(model.companionVariantID() == id); });
        gridLayout->addWidget(card);
    }
    looks->addWidget(grid);
    column->addLayout(looks);

    column->addWidget(behaviourCard(body));
    column->addWidget(careCard(body));
    column->addWidget(focusCard(body));
    column->addStretch(1);
    return backdrop;
}

QWidget *CompanionSettingsView::behaviourCard(QWidget *parent)
{
    AppModel &model = this->model();
    auto *card = new CardFrame(std::nullopt, {18, 8}, 0, parent);
    QList<QWidget *> rows;

    rows << new SettingRow(L10n::t("Show the cat on the desktop"),
                           L10n::t("It walks on top of your windows and naps when you are away."),
                           boundSwitch(model, card, &AppModel::companionEnabled, &AppModel::companionEnabledChanged,
                                       [&model](bool on) { model.setCompanionEnabled(on); }),
                           card);

    if (m_login.available()) {
        auto *login = new ToggleSwitch(QString(), card);
        login->setOn(m_opensAtLogin);
        connect(login, &ToggleSwitch::switched, this, [this, login](bool on) {
            m_login.setOpensAtLogin(on);
            // Whatever happened, the switch shows what the system now does.
            readLoginItem();
            login->setOn(m_opensAtLogin);
        });
        rows << new SettingRow(L10n::t("Open when the computer starts"),
                               L10n::t("The cat is there from the start, and you never have to look for it."), login,
                               card);
    }

    rows << new SettingRow(L10n::t("Stroll by itself"),
                           L10n::t("Off, it lies, washes and sleeps where it lives, and moves only when you need it."),
                           boundSwitch(model, card, &AppModel::companionWanders, &AppModel::companionWandersChanged,
                                       [&model](bool on) { model.setCompanionWanders(on); }),
                           card);

    const QList<CompanionTemper> tempers{CompanionTemper::calm, CompanionTemper::lively};
    auto *temper = new SegmentedPicker({L10n::t("Calm"), L10n::t("Lively")}, 170, card);
    temper->setCurrentIndex(int(tempers.indexOf(model.companionTemper())));
    connect(temper, &SegmentedPicker::chosen, card,
            [&model, tempers](int index) { model.setCompanionTemper(tempers.value(index, CompanionTemper::calm)); });
    connect(&model, &AppModel::companionTemperChanged, temper,
            [temper, &model, tempers] { temper->setCurrentIndex(int(tempers.indexOf(model.companionTemper()))); });
    rows << new SettingRow(L10n::t("Temperament"),
                           L10n::t("Calm: it lies and sleeps most of the day and washes now and then. Lively: it gets "
                                   "up about twice as often."),
                           temper, card);

    rows << new SettingRow(L10n::t("Walk on other windows"),
                           L10n::t("Only window positions are read, never what is in them."),
                           boundSwitch(model, card, &AppModel::companionWalksOnWindows,
                                       &AppModel::companionWalksOnWindowsChanged,
                                       [&model](bool on) { model.setCompanionWalksOnWindows(on); }),
                           card);
    rows << new SettingRow(L10n::t("Click the cat to ask"), L10n::t("Alt+Space opens the same bar from anywhere."),
                           boundSwitch(model, card, &AppModel::companionClickOpensAsk,
                                       &AppModel::companionClickOpensAskChanged,
                                       [&model](bool on) { model.setCompanionClickOpensAsk(on); }),
                           card);
    addRows(card->rows(), rows);
    return card;
}

QWidget *CompanionSettingsView::careCard(QWidget *parent)
{
    AppModel &model = this->model();
    auto *card = new CardFrame(std::nullopt, {18, 8}, 0, parent);
    QList<QWidget *> rows;

    const QDateTime now = model.clock().now();
    auto *mood = new StatusPill(moodWord(model.wellbeing(), now), moodTone(model.wellbeing(), now), card);
    mood->setMaximumWidth(240);
    connect(&model, &AppModel::wellbeingChanged, mood, [mood, &model] {
        const QDateTime at = model.clock().now();
        mood->setText(moodWord(model.wellbeing(), at));
        mood->setTone(moodTone(model.wellbeing(), at));
    });
    rows << new SettingRow(L10n::t("How the cat is doing"),
                           L10n::t("Every publication is a meal; the plan card's count is read too, so a post from the "
                                   "phone counts."),
                           mood, card);
    rows << new SettingRow(L10n::t("Remind me to take a break"),
                           L10n::t("Every 50 minutes of work the cat stretches and says so. Not during a focus round, "
                                   "which has its own breaks."),
                           boundSwitch(model, card, &AppModel::breakRemindersEnabled,
                                       &AppModel::breakRemindersEnabledChanged,
                                       [&model](bool on) { model.setBreakRemindersEnabled(on); }),
                           card);
    rows << new SettingRow(L10n::t("Remind me to publish"),
                           L10n::t("When the cat has gone hungry — four days without a publication — it says so once a "
                                   "day, in the daytime."),
                           boundSwitch(model, card, &AppModel::catRemindersEnabled,
                                       &AppModel::catRemindersEnabledChanged,
                                       [&model](bool on) { model.setCatRemindersEnabled(on); }),
                           card);
    addRows(card->rows(), rows);
    return card;
}

QWidget *CompanionSettingsView::focusCard(QWidget *parent)
{
    AppModel &model = this->model();
    auto *card = new CardFrame(std::nullopt, {18, 8}, 0, parent);
    QList<QWidget *> rows;

    auto *stepper = new Stepper(10, 90, 5, card);
    stepper->setNames(L10n::t("Decrease session length"), L10n::t("Increase session length"));
    stepper->setValue(model.focusMinutes());
    connect(stepper, &Stepper::stepped, card, [&model](int value) { model.setFocusMinutes(value); });
    auto *length = new SettingRow(L10n::t("Session length"), L10n::tf("%d minutes", model.focusMinutes()), stepper, card);
    connect(&model, &AppModel::focusMinutesChanged, stepper, [stepper, length, &model] {
        stepper->setValue(model.focusMinutes());
        length->detailText()->setText(L10n::tf("%d minutes", model.focusMinutes()));
    });
    rows << length;

    rows << new SettingRow(L10n::t("Tuck away feeds during focus"),
                           L10n::t("Feed windows are minimised to the taskbar, never closed."),
                           boundSwitch(model, card, &AppModel::focusGuardEnabled, &AppModel::focusGuardEnabledChanged,
                                       [&model](bool on) { model.setFocusGuardEnabled(on); }),
                           card);

    // Granted, or the button that asks; the row follows the permission.
    auto *permission = new QWidget(card);
    auto *permissionLayout = new QHBoxLayout(permission);
    permissionLayout->setContentsMargins(0, 0, 0, 0);
    auto follow = [permission, permissionLayout, &model] {
        clearLayout(permissionLayout);
        if (model.accessibilityTrusted()) {
            permissionLayout->addWidget(new StatusPill(L10n::t("Granted"), PillTone::settled, permission));
        } else {
            auto *allow = new StyledButton(L10n::t("Check again"), QuietButtonStyle(true), permission);
            QObject::connect(allow, &QPushButton::clicked, permission, [&model] { model.requestAccessibility(); });
            permissionLayout->addWidget(allow);
        }
    };
    follow();
    connect(&model, &AppModel::accessibilityTrustedChanged, permission, follow);
    rows << new SettingRow(L10n::t("Window access"), L10n::t("Needed only to tuck windows away."),
                           permission, card);
    addRows(card->rows(), rows);
    return card;
}

// ---- VariantCard

VariantCard::VariantCard(const CompanionVariant &variant, bool selected, std::function<void()> choose, QWidget *parent)
    : QAbstractButton(parent), m_variant(variant), m_selected(selected)
{
    setText(L10n::t(variant.nameEnglish));
    setAccessibleName(text());
    setUpButton(this);
    // Round the card, apart from the accent line that marks the chosen one on its edge.
    FocusRing::setOutline(this, {20, QMarginsF(1, 1, 1, 1)});
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(148);
    if (const auto file = CompanionLibrary::fileURL(variant, QStringLiteral("poster.png"))) {
        QImageReader reader(*file);
        reader.setAllocationLimit(64);
        m_poster = reader.read();
    }
    connect(this, &QAbstractButton::clicked, this, [choose = std::move(choose)] {
        if (choose)
            choose();
    });
}

void VariantCard::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

void VariantCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF card = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    shape.addRoundedRect(card, 20, 20);
    painter.fillPath(shape, PaletteColors::color(Color::warmPaper));
    painter.setPen(QPen(PaletteColors::color(m_selected ? Color::accent : Color::line), m_selected ? 2 : 1));
    painter.drawPath(shape);

    // The picture: 84 high across the card's width, inside 14 of padding.
    const QRectF picture(card.left() + 14, card.top() + 14, card.width() - 28, 84);
    if (!m_poster.isNull()) {
        const QSizeF fitted = QSizeF(m_poster.size()).scaled(picture.size(), Qt::KeepAspectRatio);
        painter.drawImage(QRectF(picture.center().x() - fitted.width() / 2, picture.center().y() - fitted.height() / 2,
                                 fitted.width(), fitted.height()),
                          m_poster);
    } else {
        CompanionPose pose;
        CompanionFigure(pose).paint(painter, QRectF(picture.center().x() - CompanionFigure::kWidth / 2,
                                                    picture.center().y() - CompanionFigure::kHeight / 2,
                                                    CompanionFigure::kWidth, CompanionFigure::kHeight));
    }

    const QFont font = DesignFonts::system(13, m_selected ? DesignFonts::Weight::semibold : DesignFonts::Weight::medium);
    painter.setFont(font);
    painter.setPen(PaletteColors::color(Color::text));
    const QRectF label(card.left() + 14, picture.bottom() + 10, card.width() - 28, card.bottom() - 14 - picture.bottom() - 10);
    painter.drawText(label, int(Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine),
                     QFontMetricsF(font).elidedText(text(), Qt::ElideRight, label.width()));
}

// ---- CompanionSettingsWindowController

CompanionSettingsWindowController::CompanionSettingsWindowController(AppModel &model, LoginItemSwitch login,
                                                                     QObject *parent)
    : QObject(parent), m_model(model), m_login(std::move(login))
{
}

CompanionSettingsWindowController::~CompanionSettingsWindowController() { delete m_window.data(); }

void CompanionSettingsWindowController::show()
{
    if (!m_window) {
        auto *window = new QWidget;
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->setAttribute(Qt::WA_QuitOnClose, false);
        WindowTitles::set(window, [] { return L10n::t("Your cat"); });
        auto *layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        m_view = new CompanionSettingsView(m_model, m_login, window);
        layout->addWidget(m_view);
        // Closed from the keyboard as a settings window is; Tab reads down the cards.
        for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
            connect(new QShortcut(keys, window), &QShortcut::activated, window, &QWidget::close);
        ReadingOrder::keep(window);
        // Centred on the free area, and no larger; once framed, the title bar
        // is brought inside it too.
        const QScreen *screen = QGuiApplication::primaryScreen();
        const QRect free = screen ? screen->availableGeometry() : QRect(0, 0, 620, 660);
        const QSize size = QSize(620, 660).boundedTo(free.size());
        m_view->fitLeastSizeTo(size);
        window->resize(size);
        window->move(free.center() - QPoint(size.width() / 2, size.height() / 2));
        window->winId();
        if (QWindow *handle = window->windowHandle())
            handle->installEventFilter(this);
        m_window = window;
    }
    if (!m_window->isVisible())
        m_fitPending = true;
    bringForward(m_window);
}

bool CompanionSettingsWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Expose && m_fitPending && m_window && watched == m_window->windowHandle() &&
        m_window->windowHandle()->isExposed()) {
        m_fitPending = false;
        keepInWorkArea(m_window, [this](const QSize &room) {
            if (m_view)
                m_view->fitLeastSizeTo(room);
        });
    }
    return QObject::eventFilter(watched, event);
}
