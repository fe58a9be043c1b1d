#include "shell/FocusTimerView.h"

#include "app/AppModel.h"
#include "design/DesignFonts.h"
#include "design/Icons.h"
#include "design/L10n.h"
#include "design/MenuLook.h"
#include "design/PressAnimator.h"

#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>

#include <algorithm>

const QColor FocusTimerView::caseTop{0xEF, 0xE5, 0xD2};
const QColor FocusTimerView::caseBottom{0xDC, 0xCD, 0xB3};
const QColor FocusTimerView::face{0x1C, 0x19, 0x15};
const QColor FocusTimerView::digits{0xF4, 0xEC, 0xDD};
const QColor FocusTimerView::label{0xA7, 0x9B, 0x86};

namespace {

constexpr int kControlWidth = 30;
constexpr int kControlHeight = 22;
constexpr int kControlSpacing = 6;
constexpr int kControlsAboveBottom = 18;
constexpr double kFadeSeconds = 0.16;

bool isPaused(const FocusSession &s) { return s.phase.kind == FocusSession::Phase::Kind::paused; }

QString pauseOrResume(const FocusSession &s) { return isPaused(s) ? L10n::t("Resume") : L10n::t("Pause"); }

// One of the face's controls: a symbol on a capsule, drawn in the clock's colours
// at the opacity of the controls' fade.
class FaceControl final : public QAbstractButton {
public:
    FaceControl(FocusTimerView *view, QString symbol) : QAbstractButton(view), m_view(view), m_symbol(std::move(symbol))
    {
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::ArrowCursor);
        resize(kControlWidth, kControlHeight);
    }
    void setSymbol(const QString &symbol)
    {
        if (symbol == m_symbol)
            return;
        m_symbol = symbol;
        update();
    }
    QString symbol() const { return m_symbol; }
    QSize sizeHint() const override { return {kControlWidth, kControlHeight}; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setOpacity(m_view->controlsOpacity());
        const QRectF r = QRectF(rect());
        p.setPen(Qt::NoPen);
        p.setBrush(FocusTimerView::digits);
        p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
        const double box = Icons::boxForFontSize(10);
        const QRectF icon(r.center().x() - box / 2, r.center().y() - box / 2, box, box);
        Icons::paint(p, m_symbol, icon, FocusTimerView::face, layoutDirection());
    }

private:
    FocusTimerView *m_view;
    QString m_symbol;
};

// The time in a monospaced row of digits, so the face does not jitter as it counts.
void drawTime(QPainter &p, const QString &text, const QFont &font, const QRectF &box)
{
    const QFontMetricsF fm(font);
    double cell = 0;
    for (QChar d = u'0'; d <= u'9'; d = QChar(d.unicode() + 1))
        cell = std::max(cell, fm.horizontalAdvance(d));
    auto advance = [&](QChar c) { return c.isDigit() ? cell : fm.horizontalAdvance(c); };
    double width = 0;
    for (QChar c : text)
        width += advance(c);
    double x = box.center().x() - width / 2;
    const double baseline = box.top() + fm.ascent();
    p.setFont(font);
    for (QChar c : text) {
        const double w = advance(c);
        p.drawText(QPointF(x + (w - fm.horizontalAdvance(c)) / 2, baseline), QString(c));
        x += w;
    }
}

} // namespace

FocusTimerView::Metrics FocusTimerView::metrics(bool compact)
{
    if (compact)
        return {QSize(86, 46), 15, 9, 6, 7, 18};
    return {QSize(148, 88), 26, 15, 13, 14, 27};
}

FocusTimerView::FocusTimerView(AppModel &model, bool compact, QWidget *parent)
    : QWidget(parent), m_model(model), m_compact(compact)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setMouseTracking(true);
    setLayoutDirection(L10n::layoutDirection());
    resize(metrics(compact).size);

    m_pauseButton = new FaceControl(this, QStringLiteral("pause.fill"));
    m_endButton = new FaceControl(this, QStringLiteral("xmark"));
    m_endButton->setToolTip(L10n::t("End the session"));
    connect(m_pauseButton, &QAbstractButton::clicked, this, [this] { togglePause(m_model); });
    connect(m_endButton, &QAbstractButton::clicked, this, [this] { m_model.stopFocus(); });
    m_pauseButton->hide();
    m_endButton->hide();

    // Eased out on the application's clock, so the fade runs in virtual time under test.
    m_fade = new PressAnimator(kFadeSeconds, this);
    connect(m_fade, &PressAnimator::changed, this, [this] { setControlsOpacity(m_fade->value()); });

    connect(&m_model, &AppModel::focusChanged, this, [this] { focusChanged(); });
    // A language change while the clock shows: its direction and words follow.
    connect(&m_model, &AppModel::languageChanged, this, [this] {
        setLayoutDirection(L10n::layoutDirection());
        m_endButton->setToolTip(L10n::t("End the session"));
        focusChanged();
    });
    placeControls();
    focusChanged();
}

FocusTimerView::~FocusTimerView() = default;

QString FocusTimerView::phaseTitle(const FocusSession &session)
{
    switch (session.phase.kind) {
    case FocusSession::Phase::Kind::working: return L10n::t("Focus");
    case FocusSession::Phase::Kind::resting: return L10n::t("Break");
    case FocusSession::Phase::Kind::paused:
    case FocusSession::Phase::Kind::idle: break;
    }
    return L10n::t("Paused");
}

void FocusTimerView::togglePause(AppModel &model)
{
    FocusSession next = model.focus();
    switch (next.phase.kind) {
    case FocusSession::Phase::Kind::working:
    case FocusSession::Phase::Kind::resting:
        // The model's tick keeps running; a paused session simply does not count down.
        next.pause();
        model.setFocus(next);
        return;
    case FocusSession::Phase::Kind::paused: model.resumeFocus(); return;
    case FocusSession::Phase::Kind::idle: return;
    }
}

QRectF FocusTimerView::caseRect() const
{
    const QSize s = metrics(m_compact).size;
    // Centred in whatever the view is given, at the mode's size.
    return QRectF((width() - s.width()) / 2.0, (height() - s.height()) / 2.0, s.width(), s.height());
}

QRectF FocusTimerView::faceRect() const
{
    const Metrics m = metrics(m_compact);
    return caseRect().adjusted(m.faceInsetX, m.faceInsetY, -m.faceInsetX, -m.faceInsetY);
}

QPainterPath FocusTimerView::hitArea() const
{
    const double r = metrics(m_compact).caseRadius;
    QPainterPath path;
    path.addRoundedRect(caseRect(), r, r);
    return path;
}

void FocusTimerView::tap(QPoint at)
{
    if (m_compact && hitArea().contains(QPointF(at)))
        togglePause(m_model);
}

std::unique_ptr<QMenu> FocusTimerView::makeContextMenu()
{
    auto menu = std::make_unique<QMenu>();
    menu->setLayoutDirection(L10n::layoutDirection());
    menu->addAction(pauseOrResume(m_model.focus()), this, [this] { togglePause(m_model); });
    menu->addAction(L10n::t("End the session"), this, [this] { m_model.stopFocus(); });
    return menu;
}

void FocusTimerView::contextMenuEvent(QContextMenuEvent *event)
{
    if (!hitArea().contains(QPointF(event->pos()))) {
        event->ignore();
        return;
    }
    const std::unique_ptr<QMenu> menu = makeContextMenu();
    MenuLook::exec(menu.get(), event->globalPos());
}

void FocusTimerView::focusChanged()
{
    const FocusSession &s = m_model.focus();
    // Only the compact face speaks of its tap; the full one has its controls.
    setToolTip(m_compact ? pauseOrResume(s) : QString());
    m_pauseButton->setToolTip(pauseOrResume(s));
    static_cast<FaceControl *>(m_pauseButton)->setSymbol(isPaused(s) ? QStringLiteral("play.fill")
                                                                     : QStringLiteral("pause.fill"));
    update();
}

void FocusTimerView::setHovering(bool hovering)
{
    if (m_hovering == hovering)
        return;
    m_hovering = hovering;
    if (m_compact)
        return; // the compact face has no controls to show
    m_pauseButton->setEnabled(hovering);
    m_endButton->setEnabled(hovering);
    m_fade->setPressed(hovering);
}

void FocusTimerView::setControlsOpacity(double opacity)
{
    m_controlsOpacity = opacity;
    const bool shown = !m_compact && opacity > 0;
    m_pauseButton->setVisible(shown);
    m_endButton->setVisible(shown);
    m_pauseButton->update();
    m_endButton->update();
}

void FocusTimerView::placeControls()
{
    const QRectF c = caseRect();
    const int rowWidth = 2 * kControlWidth + kControlSpacing;
    const int left = int(std::lround(c.center().x() - rowWidth / 2.0));
    const int top = int(std::lround(c.bottom() - kControlsAboveBottom - kControlHeight));
    // Pause leads the row: on the right in a right-to-left layout.
    // A change of direction can arrive before the controls exist (the view takes
    // the language's direction as it is made).
    if (!m_pauseButton || !m_endButton)
        return;
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    m_pauseButton->move(rtl ? left + kControlWidth + kControlSpacing : left, top);
    m_endButton->move(rtl ? left : left + kControlWidth + kControlSpacing, top);
}

void FocusTimerView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeControls();
}

void FocusTimerView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LayoutDirectionChange)
        placeControls();
}

void FocusTimerView::mouseMoveEvent(QMouseEvent *event)
{
    setHovering(hitArea().contains(event->position()));
    event->ignore(); // a press on the face moves the panel
}

void FocusTimerView::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    setHovering(false);
}

void FocusTimerView::paintEvent(QPaintEvent *)
{
    const Metrics m = metrics(m_compact);
    const FocusSession &s = m_model.focus();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The case: a warm gradient with a soft light rim.
    const QRectF c = caseRect();
    QLinearGradient gradient(c.topLeft(), c.bottomLeft());
    gradient.setColorAt(0, caseTop);
    gradient.setColorAt(1, caseBottom);
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    p.drawRoundedRect(c, m.caseRadius, m.caseRadius);
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Overlay);
    QColor rim(Qt::white);
    rim.setAlphaF(0.55f);
    p.setPen(QPen(rim, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(c.adjusted(0.5, 0.5, -0.5, -0.5), m.caseRadius - 0.5, m.caseRadius - 0.5);
    p.restore();

    // The face.
    const QRectF f = faceRect();
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawRoundedRect(f, m.faceRadius, m.faceRadius);

    // The phase over the time, centred on the face, one point apart.
    const QFont timeFont = DesignFonts::rounded(m.digitSize, DesignFonts::Weight::medium);
    const QFontMetricsF timeMetrics(timeFont);
    const double timeHeight = timeMetrics.ascent() + timeMetrics.descent();
    QFont labelFont = DesignFonts::tracked(DesignFonts::system(8.5, DesignFonts::Weight::semibold),
                                           L10n::languageTracking(1.6));
    const QString title = L10n::locale().toUpper(phaseTitle(s));
    const double labelHeight = m_compact ? 0 : DesignFonts::lineExtent(labelFont, title).height();
    const double spacing = m_compact ? 0 : 1;
    double top = f.center().y() - (labelHeight + spacing + timeHeight) / 2;
    if (!m_compact) {
        p.setPen(label);
        p.setFont(labelFont);
        p.drawText(QRectF(f.left(), top, f.width(), labelHeight), Qt::AlignCenter, title);
        top += labelHeight + spacing;
    }
    QColor digitColor = digits;
    if (isPaused(s))
        digitColor.setAlphaF(0.5f);
    p.setPen(digitColor);
    drawTime(p, s.display(), timeFont, QRectF(f.left(), top, f.width(), timeHeight));
}
