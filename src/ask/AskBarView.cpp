#include "ask/AskBarView.h"

#include "app/AppModel.h"
#include "ask/AskPanelBridge.h"
#include "ask/CatFace.h"
#include "base/Clock.h"
#include "companion/CompanionLibrary.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/ChatText.h"
#include "design/Controls.h"
#include "design/DesignFonts.h"
#include "design/GrowingTextField.h"
#include "design/Icons.h"
#include "design/L10n.h"
#include "design/Legibility.h"
#include "design/PaletteColors.h"
#include "design/PressAnimator.h"
#include "design/ReadingOrder.h"
#include "design/TextBlock.h"
#include "design/UnevenCorners.h"

#include <QAbstractButton>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using ZephylPalette::Color;

namespace {

constexpr int kIndent = 38; // a 30-point face and 8 points of spacing
// A list scrolled to within this of its end counts as following it (the
// newest row sits above the list's own padding, not at its very end).
constexpr int kEndSlack = 8;
// What the conversation's changes move with.
constexpr SpringAnimation kListSpring{0.34, 0.72, 0};
// What a change between listening and thinking eases over.
constexpr double kBusySeconds = 0.18;

// Between two colours, component by component; a point past either end stays at it.
QColor mixed(const QColor &a, const QColor &b, double t)
{
    const float f = float(std::clamp(t, 0.0, 1.0));
    auto mix = [f](float x, float y) { return x + (y - x) * f; };
    return QColor::fromRgbF(mix(a.redF(), b.redF()), mix(a.greenF(), b.greenF()), mix(a.blueF(), b.blueF()),
                            mix(a.alphaF(), b.alphaF()));
}

// Corners as seen on screen: in a right-to-left layout the leading side is the right.
UnevenCorners onScreen(UnevenCorners c, Qt::LayoutDirection direction)
{
    if (direction == Qt::RightToLeft) {
        std::swap(c.topLeading, c.topTrailing);
        std::swap(c.bottomLeading, c.bottomTrailing);
    }
    return c;
}

UnevenCorners bubbleCorners(bool mine)
{
    return mine ? UnevenCorners{18, 18, 6, 18} : UnevenCorners{18, 6, 18, 18};
}

// The header's round buttons: an 11.5-point symbol in a 30-point circle of warm paper.
ButtonStyle roundStyle()
{
    ButtonStyle style;
    style.fontSize = 11.5;
    style.weight = DesignFonts::Weight::bold;
    style.labelColor = Color::muted;
    style.horizontalPadding = 0;
    style.height = 30;
    style.capsule = true;
    style.fill = Color::warmPaper;
    style.pressedOpacity = 0.7;
    style.pressSeconds = 0.14;
    return style;
}

StyledButton *roundButton(const QString &symbol, const char *help, QWidget *parent)
{
    auto *button = new StyledButton(QString(), roundStyle(), parent);
    button->setSymbol(symbol);
    button->setToolTip(L10n::t(help));
    button->setAccessibleName(L10n::t(help));
    return button;
}

// A text button without a fill: the "Open in Zephyl" link.
class LinkButton final : public QAbstractButton {
public:
    LinkButton(const QString &text, QWidget *parent) : QAbstractButton(parent)
    {
        setText(text);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::StrongFocus);
        FocusRing::track(this);
        FocusRing::setOutline(this, {8, {}});
        AppearanceService::repaintOnChange(this);
    }
    QSize sizeHint() const override
    {
        const QSizeF extent = DesignFonts::lineExtent(font(), text());
        // Room round the words, where the ring goes.
        return {int(std::ceil(extent.width())) + 16, std::max(30, int(std::ceil(extent.height())))};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setOpacity(isDown() ? 0.6 : 1.0);
        painter.setPen(PaletteColors::color(Color::muted));
        painter.setFont(font());
        painter.drawText(rect(), int(Qt::AlignCenter | Qt::TextSingleLine), text());
    }
};

// The status dot beside "Listening." / "Thinking…": the accent while
// listening, the muted colour at half strength while thinking, easing between.
class Dot final : public QWidget {
public:
    explicit Dot(QWidget *parent) : QWidget(parent), m_busy(new PressAnimator(kBusySeconds, this))
    {
        setFixedSize(6, 6);
        connect(m_busy, &PressAnimator::changed, this, qOverload<>(&QWidget::update));
        AppearanceService::repaintOnChange(this);
    }
    void setBusy(bool busy) { m_busy->setPressed(busy); }
    QColor color() const
    {
        QColor thinking = PaletteColors::color(Color::muted);
        thinking.setAlphaF(thinking.alphaF() * 0.5f);
        return mixed(PaletteColors::color(Color::accent), thinking, m_busy->value());
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color());
        painter.drawEllipse(QRectF(0, 0, 6, 6));
    }

private:
    PressAnimator *m_busy;
};

// The composer's rounded case, ringed while its field has the keyboard.
class ComposerCase final : public QWidget {
public:
    explicit ComposerCase(QWidget *parent) : QWidget(parent) { AppearanceService::repaintOnChange(this); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        FieldRing::paint(painter, this, rect(), 22, PaletteColors::color(Color::line));
    }
};

// Out of sight now and gone once the event loop is back: the widget may be
// the one whose click led here.
void discard(QWidget *widget)
{
    if (!widget)
        return;
    widget->hide();
    widget->deleteLater();
}

template <typename T>
void discard(QPointer<T> &widget)
{
    discard(widget.data());
    widget = nullptr;
}

// Fades a row in on the list's spring; once in, it is drawn plainly again.
void fadeIn(QWidget *row)
{
    auto *effect = new QGraphicsOpacityEffect(row);
    effect->setOpacity(0);
    row->setGraphicsEffect(effect);
    auto *fade = new PressAnimator(kListSpring, effect);
    QObject::connect(fade, &PressAnimator::changed, effect, [effect, fade, row] {
        effect->setOpacity(std::clamp(fade->value(), 0.0, 1.0));
        if (!fade->running()) // dropped once the animator's own signal is over
            QMetaObject::invokeMethod(row, [row] { row->setGraphicsEffect(nullptr); }, Qt::QueuedConnection);
    });
    fade->setPressed(true);
}

// Seconds since 2001-01-01 UTC, the reference date of the dots' timeline.
double timelineSeconds()
{
    constexpr double kReferenceEpoch = 978307200.0;
    return Clock::shared().nowSeconds() - kReferenceEpoch;
}

} // namespace

// ---- ChatBubble

ChatBubble::ChatBubble(const QString &text, bool mine, QWidget *parent)
    : QWidget(parent), m_mine(mine), m_text(new ChatText(text, 14.5, 2.5, this))
{
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(13, 9, 13, 9);
    column->addWidget(m_text);
    AppearanceService::repaintOnChange(this);
}

QString ChatBubble::text() const { return m_text->toPlainText(); }

int ChatBubble::heightForWidth(int width) const { return layout()->totalHeightForWidth(width); }

void ChatBubble::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = onScreen(bubbleCorners(m_mine), layoutDirection()).path(QRectF(rect()));
    painter.fillPath(shape, PaletteColors::color(m_mine ? Color::accentSoft : Color::warmPaper));
}

// ---- SendButton

SendButton::SendButton(QWidget *parent) : QAbstractButton(parent), m_ready(new PressAnimator(kEaseSeconds, this))
{
    setFixedSize(sizeHint());
    setFocusPolicy(Qt::StrongFocus);
    FocusRing::track(this);
    FocusRing::setOutline(this, {18, {}});
    setEnabled(false);
    connect(m_ready, &PressAnimator::changed, this, qOverload<>(&QWidget::update));
    AppearanceService::repaintOnChange(this);
}

void SendButton::setCanSend(bool can)
{
    setEnabled(can);
    m_ready->setPressed(can);
}

double SendButton::readiness() const { return m_ready->value(); }

QColor SendButton::fillColor() const
{
    return mixed(PaletteColors::color(Color::surfaceStrong), PaletteColors::color(Color::accent), readiness());
}

QColor SendButton::arrowColor() const
{
    // The light appearance's label on the accent reads under 3:1; there the text colour does.
    const Color ready = ZephylPalette::legibleOn(Color::onAccent, Color::accent, AppearanceService::shared().appearance(),
                                                 ZephylPalette::kShapeContrast);
    return mixed(PaletteColors::color(Color::muted), PaletteColors::color(ready), readiness());
}

void SendButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A plain button: only its press shows, as a dimmer arrow and circle.
    painter.setOpacity(isDown() ? 0.7 : 1.0);
    const QRectF box(0, 0, 36, 36);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fillColor());
    painter.drawEllipse(box);
    const double side = Icons::boxForFontSize(14);
    Icons::paint(painter, QStringLiteral("arrow.up"),
                 QRectF(box.center().x() - side / 2, box.center().y() - side / 2, side, side), arrowColor(),
                 layoutDirection());
}

// ---- TypingDots

TypingDots::TypingDots(QWidget *parent) : QWidget(parent), m_tick(new QTimer(this))
{
    // At most 24 redraws a second, only while on screen.
    m_tick->setInterval(1000 / 24);
    connect(m_tick, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    setFixedSize(sizeHint());
    AppearanceService::repaintOnChange(this);
}

double TypingDots::opacity(int dot, double t) { return 0.3 + 0.7 * (0.5 + 0.5 * std::sin(5 * t - 1.1 * dot)); }

QSize TypingDots::sizeHint() const { return {14 + 3 * 6 + 2 * 4 + 14, 13 + 6 + 13}; }

void TypingDots::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_tick->start();
}

void TypingDots::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_tick->stop();
}

void TypingDots::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(onScreen(bubbleCorners(false), layoutDirection()).path(QRectF(rect())),
                     PaletteColors::color(Color::warmPaper));
    const double t = timelineSeconds();
    const QColor muted = PaletteColors::color(Color::muted);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        // The first dot is at the leading side.
        const int slot = layoutDirection() == Qt::RightToLeft ? 2 - i : i;
        QColor c = muted;
        c.setAlphaF(float(opacity(i, t)));
        painter.setBrush(c);
        painter.drawEllipse(QRectF(14 + slot * 10, 13, 6, 6));
    }
}

// ---- AskBarView

AskBarView::AskBarView(AppModel &model, AskPanelBridge &bridge, QWidget *parent)
    : QWidget(parent), m_model(model), m_bridge(bridge)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setLayoutDirection(L10n::layoutDirection());
    setFixedWidth(kWidth);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(14);
    column->setSizeConstraint(QLayout::SetNoConstraint);
    m_header = buildHeader();
    column->addWidget(m_header);
    m_conversation = new QVBoxLayout;
    m_conversation->setContentsMargins(0, 0, 0, 0);
    m_conversation->setSpacing(0);
    column->addLayout(m_conversation);

    m_history = new QScrollArea(this);
    // The keyboard goes to the chips in the list, never to the list itself.
    m_history->setFocusPolicy(Qt::NoFocus);
    m_history->setFrameShape(QFrame::NoFrame);
    m_history->setWidgetResizable(true);
    m_history->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_history->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ScrollBars::follow(m_history->verticalScrollBar());
    m_history->viewport()->setAutoFillBackground(false);
    m_history->setAutoFillBackground(false);
    m_history->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    m_historyContent = new QWidget;
    m_historyContent->setAutoFillBackground(false);
    auto *rows = new QVBoxLayout(m_historyContent);
    rows->setContentsMargins(0, 2, 0, 2);
    rows->setSpacing(10);
    rows->addStretch(1);
    m_history->setWidget(m_historyContent);
    m_historyContent->setAutoFillBackground(false); // setWidget turned it on: the card shows through
    m_historyContent->installEventFilter(this);
    m_conversation->addWidget(m_history);
    // The list, its content and the panel around them take their new sizes a
    // moment after the scroll asked for (the window system answers a resize
    // later): while the list follows its end, each new range scrolls there again.
    connect(m_history->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] {
        if (m_pinned)
            scrollToEnd();
    });
    // Scrolled away from the end, the user reads: new lines leave the list where
    // it is, until the user scrolls back down or asks again.
    connect(m_history->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] {
        const QScrollBar *bar = m_history->verticalScrollBar();
        m_pinned = bar->sliderPosition() >= bar->maximum() - kEndSlack;
    });

    m_composer = buildComposer();
    column->addWidget(m_composer);

    // Tab goes through the card as it reads, the chips of each reply in their place.
    ReadingOrder::keep(this);

    // Escape closes the panel, wherever the keyboard is inside it.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, [this] { m_bridge.close(); });

    AppearanceService::repaintOnChange(this);
    connect(&model, &AppModel::catChatChanged, this, [this] { fillConversation(); });
    connect(&model, &AppModel::askBusyChanged, this, [this] { followBusy(); });
    connect(&model, &AppModel::companionVariantIDChanged, this, [this] {
        fillPortrait();
        m_name->setText(catName());
        // Every face beside the cat's lines shows the new look.
        for (QWidget *row : std::as_const(m_rows))
            discard(row);
        m_rows.clear();
        discard(m_typing);
        m_shownLines = -1;
        fillConversation();
    });
    connect(&model, &AppModel::companionNameChanged, this, [this] { m_name->setText(catName()); });
    connect(&model, &AppModel::languageChanged, this, &AskBarView::retranslate);
    // A panel placed on a shorter screen is told at once how tall the card may be.
    connect(&bridge, &AskPanelBridge::roomChanged, this, [this] {
        if (!m_history->isHidden())
            measureHistory();
        reportSize();
    });
    connect(&bridge, &AskPanelBridge::visibleChanged, this, [this](bool visible) {
        if (m_film)
            m_film->setPaused(!visible);
    });

    fillPortrait();
    fillConversation();
    followBusy();
}

AskBarView::~AskBarView() = default;

void AskBarView::retranslate()
{
    setLayoutDirection(L10n::layoutDirection());
    m_name->setText(catName());
    m_field->setPlaceholderText(L10n::t("Ask anything…"));
    m_field->setAccessibleName(L10n::t("Ask the cat"));
    for (auto [button, help] : {std::pair<QAbstractButton *, const char *>{m_newChat, "New conversation"},
                                {m_close, "Close"}, {m_send, "Send"}}) {
        button->setToolTip(L10n::t(help));
        button->setAccessibleName(L10n::t(help));
    }
    // The greeting, the chips and the link are made again in the new language.
    discard(m_empty);
    m_suggestionChips.clear();
    m_shownLines = -1;
    followBusy();
}

QStringList AskBarView::suggestions()
{
    return {L10n::t("How are you?"), L10n::t("Cheer me up"), L10n::t("An idea for a post"),
            L10n::t("Let's focus for 25 minutes")};
}

QString AskBarView::catName() const
{
    if (!m_model.companionName().isEmpty())
        return m_model.companionName();
    return L10n::t(CompanionLibrary::variant(m_model.companionVariantID()).nameEnglish);
}

QWidget *AskBarView::buildHeader()
{
    auto *header = new QWidget(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    m_portraitSlot = new QHBoxLayout;
    m_portraitSlot->setContentsMargins(0, 0, 0, 0);
    row->addLayout(m_portraitSlot);

    auto *names = new QVBoxLayout;
    names->setSpacing(2);
    m_name = new TextBlock(catName(), DesignFonts::system(16, DesignFonts::Weight::semibold), Color::text, header);
    m_name->setMaxLines(1);
    names->addWidget(m_name);
    auto *statusRow = new QHBoxLayout;
    statusRow->setSpacing(5);
    auto *dot = new Dot(header);
    m_statusDot = dot;
    statusRow->addWidget(dot, 0, Qt::AlignVCenter);
    m_status = new TextBlock(L10n::t("Listening."), DesignFonts::system(12.5, DesignFonts::Weight::regular),
                             Color::muted, header);
    m_status->setMaxLines(1);
    m_status->setCrossFade(kBusySeconds);
    statusRow->addWidget(m_status, 0, Qt::AlignVCenter);
    statusRow->addStretch(1);
    names->addLayout(statusRow);
    row->addLayout(names, 1);

    m_newChat = roundButton(QStringLiteral("square.and.pencil"), "New conversation", header);
    connect(m_newChat, &QAbstractButton::clicked, this, [this] { m_model.newCatChat(); });
    row->addWidget(m_newChat, 0, Qt::AlignVCenter);
    m_close = roundButton(QStringLiteral("xmark"), "Close", header);
    connect(m_close, &QAbstractButton::clicked, this, [this] { m_bridge.close(); });
    row->addWidget(m_close, 0, Qt::AlignVCenter);
    return header;
}

QWidget *AskBarView::buildComposer()
{
    auto *composer = new ComposerCase(this);
    auto *row = new QHBoxLayout(composer);
    row->setContentsMargins(8, 5, 8, 5);
    row->setSpacing(10);
    m_field = new GrowingTextField(L10n::t("Ask anything…"), 5, composer);
    m_field->setFont(DesignFonts::system(16, DesignFonts::Weight::regular));
    m_field->setAccessibleName(L10n::t("Ask the cat"));
    FieldRing::follow(m_field, composer);
    m_field->setContentsMargins(0, 0, 0, 0);
    m_field->setText(m_model.askInput());
    m_field->moveCursor(QTextCursor::End);
    auto *fieldBox = new QVBoxLayout;
    // 10 points at the leading side and above and below the text.
    fieldBox->setContentsMargins(10, 10, 0, 10);
    fieldBox->addWidget(m_field);
    row->addLayout(fieldBox, 1);
    m_send = new SendButton(composer);
    m_send->setToolTip(L10n::t("Send"));
    m_send->setAccessibleName(L10n::t("Send"));
    connect(m_send, &QAbstractButton::clicked, this, &AskBarView::submit);
    row->addWidget(m_send, 0, Qt::AlignBottom);

    // The typed text is the state object's, both ways.
    connect(m_field, &QPlainTextEdit::textChanged, this, [this] {
        if (m_field->text() != m_model.askInput())
            m_model.setAskInput(m_field->text());
    });
    connect(&m_model, &AppModel::askInputChanged, this, [this] {
        if (m_field->text() != m_model.askInput()) {
            m_field->setText(m_model.askInput());
            m_field->moveCursor(QTextCursor::End);
        }
        syncSendButton();
    });
    connect(m_field, &GrowingTextField::submitted, this, &AskBarView::submit);
    syncSendButton();
    return composer;
}

QWidget *AskBarView::catLine(CatLook look, QWidget *content, QWidget *parent)
{
    auto *line = new QWidget(parent);
    auto *row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto *faceBox = new QVBoxLayout;
    faceBox->setContentsMargins(0, 0, 0, 1);
    faceBox->addStretch(1);
    faceBox->addWidget(new CatFace(m_model.companionVariantID(), look, 30, line));
    row->addLayout(faceBox);
    content->setParent(line);
    row->addWidget(content, 0, Qt::AlignBottom);
    // The cat's bubbles keep at least 60 points free at the trailing side.
    row->addSpacerItem(new QSpacerItem(60, 0, QSizePolicy::MinimumExpanding, QSizePolicy::Minimum));
    return line;
}

void AskBarView::fillPortrait()
{
    discard(m_film);
    discard(m_face);
    const CompanionVariant look = CompanionLibrary::variant(m_model.companionVariantID());
    const auto idle = look.clips.find(QStringLiteral("idle"));
    if (idle != look.clips.end() && idle->second.head) {
        m_film = new CatHeadFilm(look, idle->second, *idle->second.head, 44, this);
        m_film->setPaused(!m_bridge.visible());
        m_portraitSlot->addWidget(m_film);
    } else {
        m_face = new CatFace(m_model.companionVariantID(), CatLook::neutral, 44, this);
        m_portraitSlot->addWidget(m_face);
    }
}

QWidget *AskBarView::emptyState() const { return m_empty; }

QColor AskBarView::statusDotColor() const { return static_cast<Dot *>(m_statusDot)->color(); }

QList<ChatBubble *> AskBarView::bubbles() const
{
    QList<ChatBubble *> out;
    const QList<CatChatLine> &lines = m_model.catChat();
    if (m_empty)
        return m_empty->findChildren<ChatBubble *>();
    for (const CatChatLine &line : lines) {
        if (QWidget *row = m_rows.value(line.id))
            out += row->findChildren<ChatBubble *>();
    }
    return out;
}

void AskBarView::fillConversation()
{
    const bool empty = m_model.catChat().isEmpty() && !m_model.askBusy();
    syncNewChatButton();
    if (empty) {
        keepKeyboardFrom(m_history);
        m_history->hide();
        for (QWidget *row : std::as_const(m_rows))
            discard(row);
        m_rows.clear();
        discard(m_typing);
        discard(m_actions);
        m_actionChips.clear();
        m_openInZephyl = nullptr;
        m_shownLines = -1;
        if (!m_empty)
            fillEmptyState();
    } else {
        keepKeyboardFrom(m_empty);
        discard(m_empty);
        m_suggestionChips.clear();
        m_history->show();
        fillHistory();
    }
    scheduleReport();
}

void AskBarView::fillEmptyState()
{
    auto *empty = new QWidget(this);
    auto *column = new QVBoxLayout(empty);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    column->addWidget(catLine(CatLook::happy,
                              new ChatBubble(L10n::t("Hi! I'm right here. Talk to me about anything: how your day is "
                                                     "going, an idea for a post, or a focus round."),
                                             false, empty),
                              empty));
    auto *chips = new QVBoxLayout;
    chips->setContentsMargins(0, 0, 0, 0);
    chips->setSpacing(8);
    const QStringList titles = suggestions();
    for (int r = 0; r < 2; ++r) {
        auto *row = new QHBoxLayout;
        row->setSpacing(8);
        // In from the leading edge by the cat's face, on the right in right to
        // left (a layout's margins stay where they are; its items turn round).
        row->addSpacing(kIndent);
        for (int i = r * 2; i < r * 2 + 2; ++i) {
            auto *chip = new StyledButton(titles[i], ChipButtonStyle(), empty);
            // The translated title is what is sent.
            connect(chip, &QAbstractButton::clicked, this, [this, title = titles[i]] { send(title); });
            row->addWidget(chip, 0, Qt::AlignVCenter);
            m_suggestionChips << chip;
        }
        row->addStretch(1);
        chips->addLayout(row);
    }
    column->addLayout(chips);
    m_empty = empty;
    m_conversation->insertWidget(0, empty);
}

void AskBarView::fillHistory()
{
    auto *rows = static_cast<QVBoxLayout *>(m_historyContent->layout());
    const QList<CatChatLine> &lines = m_model.catChat();
    // Once the list is up, new rows fade in on the list's spring, the cat's face
    // growing in as it comes.
    const bool entering = m_shownLines >= 0;
    auto enter = [entering](QWidget *row) {
        if (!entering)
            return;
        fadeIn(row);
        if (auto *face = row->findChild<CatFace *>())
            face->enter(kListSpring);
    };

    // Lines are kept by id: a line already shown keeps its row.
    QHash<QUuid, QWidget *> kept;
    for (const CatChatLine &line : lines) {
        QWidget *row = m_rows.take(line.id);
        if (!row) {
            if (line.mine) {
                row = new QWidget(m_historyContent);
                auto *h = new QHBoxLayout(row);
                h->setContentsMargins(0, 0, 0, 0);
                h->setSpacing(0);
                h->addSpacerItem(new QSpacerItem(90, 0, QSizePolicy::MinimumExpanding, QSizePolicy::Minimum));
                h->addWidget(new ChatBubble(line.text, true, row));
                enter(row);
            } else {
                row = catLine(line.look, new ChatBubble(line.text, false, m_historyContent), m_historyContent);
                enter(row);
            }
        }
        kept.insert(line.id, row);
    }
    for (QWidget *row : std::as_const(m_rows))
        discard(row);
    m_rows = std::move(kept);
    // The dots stay while the cat is still thinking, so they do not come in again.
    if (!m_model.askBusy())
        discard(m_typing);
    keepKeyboardFrom(m_actions);
    discard(m_actions);
    m_actionChips.clear();
    m_openInZephyl = nullptr;

    // The rows in order, then the typing dots or the last reply's chips.
    while (rows->count() > 0)
        delete rows->takeAt(0); // the items only; the widgets stay
    for (const CatChatLine &line : lines)
        rows->addWidget(m_rows.value(line.id));
    if (m_model.askBusy()) {
        if (!m_typing) {
            m_typing = catLine(CatLook::curious, new TypingDots(m_historyContent), m_historyContent);
            enter(m_typing);
        }
        rows->addWidget(m_typing);
    } else if (!lines.isEmpty() && !lines.last().mine && !lines.last().actions.isEmpty()) {
        auto *actions = new QWidget(m_historyContent);
        auto *h = new QHBoxLayout(actions);
        // Room under the chips for the ring round them: the row ends the
        // list, whose view cuts whatever is past it.
        h->setContentsMargins(0, 0, 0, FocusRing::kReach + 1);
        h->setSpacing(8);
        h->addSpacing(kIndent);
        for (const AskAction &action : lines.last().actions) {
            // The label as given (the service's own for its actions).
            auto *chip = new StyledButton(action.label, ChipButtonStyle(), actions);
            connect(chip, &QAbstractButton::clicked, this, [this, action] { m_model.performAsk(action); });
            h->addWidget(chip, 0, Qt::AlignVCenter);
            m_actionChips << chip;
        }
        auto *open = new LinkButton(L10n::t("Open in Zephyl"), actions);
        open->setFont(DesignFonts::system(12.5, DesignFonts::Weight::medium));
        connect(open, &QAbstractButton::clicked, this, [this] {
            m_model.setSurface(Surface::assistant);
            m_model.raiseEvent(AppEvent::wantsWorkspace(Surface::assistant));
        });
        h->addWidget(open, 0, Qt::AlignVCenter);
        h->addStretch(1);
        m_openInZephyl = open;
        m_actions = actions;
        enter(actions);
        rows->addWidget(actions);
    }
    rows->addStretch(1);
    for (QWidget *row : m_rows)
        row->show();

    measureHistory();
    if (lines.size() != m_shownLines) {
        // A list shown anew starts at its end; one the user scrolled away from stays.
        if (m_shownLines < 0 || m_pinned)
            scheduleScrollToEnd();
        m_shownLines = lines.size();
    }
}

void AskBarView::followBusy()
{
    const bool busy = m_model.askBusy();
    m_status->setText(busy ? L10n::t("Thinking…") : L10n::t("Listening."));
    static_cast<Dot *>(m_statusDot)->setBusy(busy);
    syncSendButton();
    fillConversation();
    if (m_pinned)
        scheduleScrollToEnd();
}

bool AskBarView::canSend() const { return !m_model.askInput().trimmed().isEmpty() && !m_model.askBusy(); }

void AskBarView::syncSendButton()
{
    if (!canSend())
        keepKeyboardFrom(m_send);
    m_send->setCanSend(canSend());
}

void AskBarView::syncNewChatButton()
{
    if (m_model.catChat().isEmpty())
        keepKeyboardFrom(m_newChat);
    m_newChat->setVisible(!m_model.catChat().isEmpty());
}

void AskBarView::keepKeyboardFrom(QWidget *going)
{
    QWidget *focus = window()->focusWidget();
    if (going && focus && (focus == going || going->isAncestorOf(focus)))
        m_field->setFocus(Qt::OtherFocusReason);
}

void AskBarView::submit()
{
    const QString text = m_model.askInput().trimmed();
    if (text.isEmpty() || m_model.askBusy())
        return;
    m_model.setAskInput(QString());
    send(text);
}

void AskBarView::send(const QString &text)
{
    if (m_model.askBusy())
        return;
    // The model's own flow; the view only follows catChat and askBusy. The
    // user's own question brings the list back to its end.
    m_pinned = true;
    m_model.ask(text);
}

int AskBarView::historyCap() const
{
    const int room = m_bridge.room();
    if (room <= 0)
        return kMaxHistory;
    // On a short screen the list gives up height before the card leaves the
    // screen: it takes what the header and the composer leave of the room.
    const auto height = [](const QWidget *w) {
        return w->hasHeightForWidth() ? w->heightForWidth(kWidth - 36) : w->sizeHint().height();
    };
    const QMargins inset = layout()->contentsMargins();
    const int rest = inset.top() + inset.bottom() + height(m_header) + height(m_composer) + 2 * layout()->spacing();
    return std::clamp(room - rest, kMinHistory, kMaxHistory);
}

void AskBarView::measureHistory()
{
    // The list spans the card inside its 18-point inset, shown or not yet.
    const int width = kWidth - 36;
    QLayout *rows = m_historyContent->layout();
    const int content = rows->hasHeightForWidth() ? rows->totalHeightForWidth(width) : rows->totalSizeHint().height();
    const int cap = historyCap();
    if (content == m_historyHeight && m_history->height() == std::clamp(content, kMinHistory, cap))
        return;
    m_historyHeight = content;
    m_history->setFixedHeight(std::clamp(content, kMinHistory, cap));
    m_history->setVerticalScrollBarPolicy(content > cap ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    scheduleReport();
}

void AskBarView::scheduleScrollToEnd()
{
    m_pinned = true;
    if (m_scrollPending)
        return;
    m_scrollPending = true;
    QTimer::singleShot(0, this, [this] {
        m_scrollPending = false;
        scrollToEnd();
    });
}

void AskBarView::scrollToEnd()
{
    if (m_empty || !m_history->isVisible())
        return;
    QWidget *target = nullptr;
    if (m_typing)
        target = m_typing;
    else if (m_actions)
        target = m_actions;
    else if (!m_model.catChat().isEmpty())
        target = m_rows.value(m_model.catChat().last().id);
    if (!target)
        return;
    m_historyContent->layout()->activate();
    QScrollBar *bar = m_history->verticalScrollBar();
    const int bottom = target->geometry().bottom() + 1;
    bar->setValue(std::clamp(bottom - m_history->viewport()->height(), bar->minimum(), bar->maximum()));
}

QSize AskBarView::idealSize() const
{
    QLayout *column = layout();
    column->activate();
    const int height = column->hasHeightForWidth() ? column->totalHeightForWidth(kWidth)
                                                   : column->totalSizeHint().height();
    return {kWidth, height};
}

void AskBarView::scheduleReport()
{
    if (m_reportPending)
        return;
    m_reportPending = true;
    QTimer::singleShot(0, this, [this] {
        m_reportPending = false;
        reportSize();
    });
}

void AskBarView::reportSize()
{
    // A composer grown by a line leaves the list less room on a short screen.
    if (m_bridge.room() > 0 && !m_history->isHidden())
        measureHistory();
    const QSize size = idealSize();
    if (size == m_reported)
        return;
    m_reported = size;
    m_bridge.sizeChanged(QSizeF(size));
}

bool AskBarView::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest)
        scheduleReport();
    return handled;
}

bool AskBarView::eventFilter(QObject *watched, QEvent *event)
{
    // The list's content laid out anew or at another width: its height again.
    if (watched == m_historyContent && (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize))
        scheduleMeasure();
    return QWidget::eventFilter(watched, event);
}

void AskBarView::scheduleMeasure()
{
    if (m_measurePending)
        return;
    m_measurePending = true;
    QTimer::singleShot(0, this, [this] {
        m_measurePending = false;
        if (!m_history->isHidden())
            measureHistory();
    });
}

void AskBarView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The field takes the keyboard whenever the panel does.
    m_field->setFocus(Qt::OtherFocusReason);
    m_reported = QSize();
    measureHistory();
    scheduleReport();
    scheduleScrollToEnd();
}

void AskBarView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(card, kRadius, kRadius);
    painter.fillPath(shape, PaletteColors::color(Color::milk));
    // A soft glow near the top-leading corner.
    const double cx = layoutDirection() == Qt::RightToLeft ? card.width() * (1 - 0.06) : card.width() * 0.06;
    QRadialGradient glow(QPointF(cx, card.height() * 0.08), 340);
    QColor soft = PaletteColors::color(Color::accentSoft);
    soft.setAlphaF(0.6f);
    glow.setColorAt(0, soft);
    soft.setAlphaF(0);
    glow.setColorAt(1, soft);
    painter.fillPath(shape, glow);
    painter.setPen(QPen(PaletteColors::color(Color::line), 1));
    painter.drawPath(shape);
}
