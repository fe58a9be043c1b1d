#include "workspace/ScreenKit.h"
#include "design/FloatingPanel.h"
#include "design/TextDirection.h"

#include "app/AppModel.h"
#include "companion/CompanionFigure.h"
#include "design/AppearanceService.h"
#include "design/Controls.h"
#include "design/Icons.h"
#include "design/L10n.h"
#include "design/PaletteColors.h"
#include "design/ReadingOrder.h"
#include "design/SettingRow.h"
#include "design/TextBlock.h"
#include "design/ZephylSurface.h"
#include "workspace/KeyboardHold.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using ZephylPalette::Color;

// ---- Backdrop

Backdrop::Backdrop(Color color, double opacity, QWidget *parent) : QWidget(parent), m_color(color), m_opacity(opacity)
{
    AppearanceService::repaintOnChange(this);
}

void Backdrop::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QColor fill = PaletteColors::color(m_color);
    fill.setAlphaF(float(fill.alphaF() * m_opacity));
    painter.fillRect(rect(), fill);
}

// ---- CatFigureView

CatFigureView::CatFigureView(double scale, QSize frame, Qt::Alignment alignment, QWidget *parent)
    : QWidget(parent), m_scale(scale), m_alignment(alignment)
{
    setFixedSize(frame);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(CompanionFigure::accessibilityLabel());
    AppearanceService::repaintOnChange(this);
}

void CatFigureView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = CompanionFigure::kWidth * m_scale;
    const double h = CompanionFigure::kHeight * m_scale;
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    double x = (width() - w) / 2;
    if (m_alignment & Qt::AlignLeading)
        x = rtl ? width() - w : 0;
    else if (m_alignment & Qt::AlignTrailing)
        x = rtl ? 0 : width() - w;
    const double y = (height() - h) / 2;
    CompanionPose pose; // at rest: idle, facing right
    CompanionFigure(pose).paint(painter, QRectF(x, y, w, h));
}

// ---- Spinner

Spinner::Spinner(QWidget *parent, Color color) : QWidget(parent), m_timer(new QTimer(this)), m_color(color)
{
    setFixedSize(16, 16);
    m_timer->setInterval(80);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % 12;
        update();
    });
    AppearanceService::repaintOnChange(this);
}

void Spinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer->start();
}

void Spinner::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer->stop();
}

namespace {
// Twelve spokes, the newest darkest, as the platform's small spinner.
void paintSpokes(QPainter &painter, const QPointF &center, double radius, int step, const QColor &color)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 12; ++i) {
        const double angle = (i * 30.0 - 90.0) * M_PI / 180.0;
        const int age = (step - i + 12) % 12;
        QColor c = color;
        c.setAlphaF(float(std::max(0.18, 1.0 - age / 12.0)));
        painter.setPen(QPen(c, radius * 0.22, Qt::SolidLine, Qt::RoundCap));
        const QPointF dir(std::cos(angle), std::sin(angle));
        painter.drawLine(center + dir * radius * 0.5, center + dir * radius);
    }
    painter.restore();
}
} // namespace

void Spinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintSpokes(painter, QRectF(rect()).center(), width() / 2.0 - 1, m_step, PaletteColors::color(m_color));
}

// ---- RowButton

RowButton::RowButton(const QString &text, const ButtonStyle &style, QWidget *parent)
    : QAbstractButton(parent), m_style(style)
{
    setText(text);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setUpButton(this);
    FocusRing::setOutline(this, style.ringOutline());
}

void RowButton::setSymbol(const QString &symbol, double size)
{
    m_symbol = symbol;
    m_symbolSize = size;
    updateGeometry();
    update();
}

void RowButton::setHint(const QString &hint, const QFont &font, Color color)
{
    m_hint = hint;
    m_hintFont = font;
    m_hintColor = color;
    updateGeometry();
    update();
}

void RowButton::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    if (busy && !m_spinTimer) {
        m_spinTimer = new QTimer(this);
        m_spinTimer->setInterval(80);
        connect(m_spinTimer, &QTimer::timeout, this, [this] {
            m_spin = (m_spin + 1) % 12;
            update();
        });
    }
    if (m_spinTimer) {
        if (busy && isVisible())
            m_spinTimer->start();
        else
            m_spinTimer->stop();
    }
    updateGeometry();
    update();
}

bool RowButton::event(QEvent *event)
{
    if (m_spinTimer && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        if (event->type() == QEvent::Show && m_busy)
            m_spinTimer->start();
        else
            m_spinTimer->stop();
    }
    const bool handled = QAbstractButton::event(event);
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
        event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease || event->type() == QEvent::Leave)
        update();
    return handled;
}

void RowButton::setFillsWidth(bool fills)
{
    m_fills = fills;
    setSizePolicy(fills ? QSizePolicy::Expanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
    updateGeometry();
}

void RowButton::setSquare(int side)
{
    m_square = side;
    setFixedSize(side, side);
}

namespace {
constexpr double kRowGap = 8;
double symbolBox(double size, double fontSize) { return Icons::boxForFontSize(size > 0 ? size : fontSize); }
} // namespace

double RowButton::contentWidth() const
{
    double content = text().isEmpty() ? 0 : QFontMetricsF(m_style.font()).horizontalAdvance(text());
    if (!m_symbol.isEmpty())
        content += symbolBox(m_symbolSize, m_style.fontSize) + (text().isEmpty() ? 0 : kRowGap);
    if (m_busy)
        content += 16 + kRowGap;
    if (!m_hint.isEmpty())
        content += QFontMetricsF(m_hintFont).horizontalAdvance(m_hint) + 2 * kRowGap;
    return content;
}

QSize RowButton::sizeHint() const
{
    if (m_square > 0)
        return {m_square, m_square};
    const double width = std::ceil(contentWidth() + 2 * m_style.horizontalPadding);
    return {int(std::max(width, m_style.height)), int(m_style.height)};
}

RowButton::Placement RowButton::placement(const QRectF &rect) const
{
    const double pad = m_style.paddingFor(rect.width(), contentWidth());
    const QRectF inner = rect.adjusted(pad, 0, -pad, 0);
    const double textWidth = text().isEmpty() ? 0 : QFontMetricsF(m_style.font()).horizontalAdvance(text());
    double row = textWidth;
    if (!m_symbol.isEmpty())
        row += symbolBox(m_symbolSize, m_style.fontSize) + (text().isEmpty() ? 0 : kRowGap);
    if (m_busy)
        row += 16 + kRowGap;
    const double hintWidth = m_hint.isEmpty() ? 0 : QFontMetricsF(m_hintFont).horizontalAdvance(m_hint);
    // Centred without a hint; from the leading edge beside one.
    const double start = m_hint.isEmpty() ? std::max(0.0, (inner.width() - row) / 2) : 0;
    double at = start + (m_busy ? 16 + kRowGap : 0);
    if (!m_symbol.isEmpty())
        at += symbolBox(m_symbolSize, m_style.fontSize) + kRowGap;
    const double room = std::max(0.0, inner.width() - at - (hintWidth > 0 ? hintWidth + kRowGap : 0));
    return {inner, start, at, room};
}

QString RowButton::shownText() const
{
    return QFontMetricsF(m_style.font()).elidedText(text(), Qt::ElideRight, placement(QRectF(rect())).textRoom);
}

QSize RowButton::minimumSizeHint() const
{
    if (m_fills)
        return {int(m_style.height), int(m_style.height)};
    return sizeHint();
}

void RowButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const Appearance appearance = AppearanceService::shared().appearance();
    const double pressed = isDown() ? 1.0 : 0.0;
    const QRectF r(rect());
    // Fill and outline only; the label is laid out here.
    m_style.paint(painter, r, QString(), QString(), isEnabled(), pressed, appearance, layoutDirection());

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(m_style.opacity(isEnabled(), pressed));
    const QColor label =
        PaletteColors::color(m_style.drawnLabel(appearance, text().isEmpty() && !m_symbol.isEmpty()), appearance);
    const QFont font = m_style.font();
    const QFontMetricsF fm(font);
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    const double box = symbolBox(m_symbolSize, m_style.fontSize);
    const Placement placed = placement(r);
    const QRectF &inner = placed.inner;
    const double hintWidth = m_hint.isEmpty() ? 0 : QFontMetricsF(m_hintFont).horizontalAdvance(m_hint);
    auto place = [&](double offset, double width) {
        return rtl ? inner.right() - offset - width : inner.left() + offset;
    };
    double at = placed.start;
    const double cy = r.center().y();
    if (m_busy) {
        paintSpokes(painter, QPointF(place(at, 16) + 8, cy), 7, m_spin, label);
        at += 16 + kRowGap;
    }
    if (!m_symbol.isEmpty())
        Icons::paint(painter, m_symbol, QRectF(place(at, box), cy - box / 2, box, box), label, layoutDirection());
    if (!text().isEmpty()) {
        const QString shown = containedBidi(fm.elidedText(text(), Qt::ElideRight, placed.textRoom));
        const double w = std::min(fm.horizontalAdvance(text()), placed.textRoom);
        painter.setFont(font);
        painter.setPen(label);
        painter.setLayoutDirection(textDirection(shown, layoutDirection()));
        painter.drawText(QRectF(place(placed.textAt, w), r.top(), w, r.height()),
                         int(Qt::AlignCenter | Qt::TextSingleLine), shown);
    }
    if (!m_hint.isEmpty()) {
        painter.setFont(m_hintFont);
        painter.setPen(PaletteColors::color(m_hintColor, appearance));
        const double x = rtl ? inner.left() : inner.right() - hintWidth;
        painter.drawText(QRectF(x, r.top(), hintWidth, r.height()), int(Qt::AlignCenter | Qt::TextSingleLine), m_hint);
    }
}

// ---- PlainButton

PlainButton::PlainButton(const QString &text, const QFont &font, Color color, QWidget *parent)
    : QAbstractButton(parent), m_font(font), m_color(color)
{
    setText(text);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setUpButton(this);
    FocusRing::setOutline(this, {5, {}});
}

void PlainButton::setSymbol(const QString &symbol, double size)
{
    m_symbol = symbol;
    m_symbolSize = size;
    updateGeometry();
}

QSize PlainButton::sizeHint() const
{
    if (!m_symbol.isEmpty()) {
        const int box = int(Icons::boxForFontSize(m_symbolSize)) + 6;
        return {box, box};
    }
    const QFontMetricsF fm(m_font);
    return {int(std::ceil(fm.horizontalAdvance(text()))) + 4, int(std::ceil(fm.height())) + 6};
}

void PlainButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(!isEnabled() ? 0.45 : (isDown() ? 0.6 : 1.0));
    const QColor color = PaletteColors::color(m_color);
    if (!m_symbol.isEmpty()) {
        const double box = Icons::boxForFontSize(m_symbolSize);
        Icons::paint(painter, m_symbol, QRectF((width() - box) / 2, (height() - box) / 2, box, box), color,
                     layoutDirection());
    } else {
        painter.setFont(m_font);
        painter.setPen(color);
        const QString shown = containedBidi(QFontMetricsF(m_font).elidedText(text(), Qt::ElideRight, width()));
        painter.setLayoutDirection(textDirection(shown, layoutDirection()));
        painter.drawText(QRectF(rect()), int(Qt::AlignCenter | Qt::TextSingleLine), shown);
    }
}

// ---- ArrangingLayout

ArrangingLayout::ArrangingLayout(QWidget *parent) : QLayout(parent) { setContentsMargins(0, 0, 0, 0); }

ArrangingLayout::~ArrangingLayout()
{
    while (QLayoutItem *item = takeAt(0))
        delete item;
}

void ArrangingLayout::addItem(QLayoutItem *item) { m_items.append(item); }
QLayoutItem *ArrangingLayout::itemAt(int index) const { return m_items.value(index); }
QLayoutItem *ArrangingLayout::takeAt(int index)
{
    return index >= 0 && index < m_items.size() ? m_items.takeAt(index) : nullptr;
}

void ArrangingLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

// ---- AdaptiveGridLayout

AdaptiveGridLayout::AdaptiveGridLayout(int minimum, int maximum, int spacing, QWidget *parent)
    : ArrangingLayout(parent), m_minimum(minimum), m_maximum(maximum), m_gap(spacing)
{
}

AdaptiveGridLayout::Columns AdaptiveGridLayout::columnsFor(int available, int minimum, int maximum, int spacing)
{
    // As many columns of the minimum width as fit (at least one), then each as
    // wide as the room allows, up to the maximum.
    const int count = std::max(1, (available + spacing) / std::max(1, minimum + spacing));
    const int width = std::clamp((available - spacing * (count - 1)) / count, 0, maximum);
    return {count, std::max(width, std::min(minimum, available))};
}

QSize AdaptiveGridLayout::sizeHint() const
{
    const int width = m_maximum;
    return {width, heightForWidth(width)};
}

QSize AdaptiveGridLayout::minimumSize() const { return {m_minimum, heightForWidth(m_minimum)}; }

int AdaptiveGridLayout::arrange(const QRect &rect, bool apply) const
{
    const Columns columns = columnsFor(rect.width(), m_minimum, m_maximum, m_gap);
    const bool rtl = rightToLeft();
    int y = rect.top();
    int total = 0;
    for (int start = 0; start < m_items.size(); start += columns.count) {
        int rowHeight = 0;
        for (int i = start; i < std::min<int>(start + columns.count, int(m_items.size())); ++i) {
            QLayoutItem *item = m_items[i];
            const int h = item->hasHeightForWidth() ? item->heightForWidth(columns.width) : item->sizeHint().height();
            rowHeight = std::max(rowHeight, h);
        }
        for (int i = start; i < std::min<int>(start + columns.count, int(m_items.size())); ++i) {
            QLayoutItem *item = m_items[i];
            const int h = item->hasHeightForWidth() ? item->heightForWidth(columns.width) : item->sizeHint().height();
            const int column = i - start;
            const int offset = column * (columns.width + m_gap);
            const int x = rtl ? rect.right() + 1 - offset - columns.width : rect.left() + offset;
            if (apply)
                item->setGeometry(QRect(x, y, columns.width, h));
        }
        y += rowHeight + m_gap;
        total += rowHeight + (start > 0 ? m_gap : 0);
    }
    return total;
}

// ---- FlowLayout

FlowLayout::FlowLayout(int spacing, QWidget *parent) : ArrangingLayout(parent), m_gap(spacing) {}

QSize FlowLayout::sizeHint() const
{
    int width = 0, height = 0;
    for (const QLayoutItem *item : m_items) {
        const QSize hint = item->sizeHint();
        width += hint.width() + (width > 0 ? m_gap : 0);
        height = std::max(height, hint.height());
    }
    return {width, height};
}

QSize FlowLayout::minimumSize() const
{
    // As narrow as its widest item.
    QSize size;
    for (const QLayoutItem *item : m_items)
        size = size.expandedTo(item->minimumSize());
    return size;
}

int FlowLayout::arrange(const QRect &rect, bool apply) const
{
    const bool rtl = rightToLeft();
    int x = 0, y = rect.top(), line = 0;
    for (QLayoutItem *item : m_items) {
        if (item->isEmpty())
            continue;
        QSize size = item->sizeHint().boundedTo(item->maximumSize());
        size.setWidth(std::min(size.width(), rect.width()));
        if (x > 0 && x + size.width() > rect.width()) {
            x = 0;
            y += line + m_gap;
            line = 0;
        }
        if (apply) {
            const int left = rtl ? rect.right() + 1 - x - size.width() : rect.left() + x;
            item->setGeometry(QRect(QPoint(left, y), size));
        }
        x += size.width() + m_gap;
        line = std::max(line, size.height());
    }
    return y + line - rect.top();
}

// ---- CardFrame

CardFrame::CardFrame(const std::optional<QString> &title, Padding padding, int spacing, QWidget *parent)
    : QWidget(parent)
{
    auto *surface = new ZephylSurface(18, false, this);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(surface);
    m_rows = new QVBoxLayout(surface);
    m_rows->setContentsMargins(padding.horizontal, padding.vertical, padding.horizontal, padding.vertical);
    m_rows->setSpacing(spacing);
    if (title) {
        m_title = new TextBlock(*title, DesignFonts::system(16, DesignFonts::Weight::semibold), Color::text, surface);
        m_title->setContentsMargins(0, 0, 0, 6);
        m_rows->addWidget(m_title);
    }
}

// ---- Scrolling

namespace {
const char *const kViewedTogether = "zkViewedTogether";

// What comes into view with `control` inside `area`: the nearest group it
// belongs with (a setting's row holds the words that name its control), where
// that fits, else the control alone where it fits.
QWidget *shownWith(QWidget *control, const QScrollArea *area)
{
    const int room = area->viewport()->height();
    for (QWidget *up = control->parentWidget(); up && up != area->widget(); up = up->parentWidget()) {
        if ((up->property(kViewedTogether).toBool() || qobject_cast<SettingRow *>(up)) && up->height() <= room)
            return up;
    }
    return control->height() <= room ? control : nullptr;
}

// The controls below `content` that Tab stops at now, in reading order.
QList<QWidget *> stopsIn(const QWidget *content)
{
    QList<QWidget *> stops = ReadingOrder::controls(content);
    stops.removeIf([](const QWidget *w) { return !w->isVisible() || !w->isEnabled(); });
    return stops;
}

// Scrolls `area` so that `shown`, what `control` comes into view with, is
// wholly in view, with the focus ring round it where the view has room for
// that too. The toolkit's own way brings in only a text field's cursor,
// leaving the rest of its box out. At its first or last control the scroller
// goes on to its start or end where that still shows it.
void reveal(QScrollArea *area, QWidget *shown, const QWidget *control)
{
    const int room = area->viewport()->height();
    const int margin = shown->height() + 2 * (FocusRing::kReach + 1) <= room ? FocusRing::kReach + 1 : 0;
    area->ensureWidgetVisible(shown, 0, margin);
    QScrollBar *bar = area->verticalScrollBar();
    const int top = shown->mapTo(area->widget(), QPoint()).y() - margin;
    const int bottom = top + shown->height() + 2 * margin;
    int to = bar->value();
    if (top < to)
        to = top;
    else if (bottom > to + room)
        to = bottom - room;
    const bool startFits = bottom <= room, endFits = area->widget()->height() - top <= room;
    if (startFits || endFits) {
        const QList<QWidget *> stops = stopsIn(area->widget());
        if (startFits && !stops.isEmpty() && stops.first() == control)
            to = bar->minimum();
        else if (endFits && !stops.isEmpty() && stops.last() == control)
            to = bar->maximum();
    }
    bar->setValue(to);
}

// The scroller nearest round `control`.
QScrollArea *innermostArea(const QWidget *control)
{
    for (QWidget *up = control->parentWidget(); up; up = up->isWindow() ? nullptr : up->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(up); area && area->widget() && area->widget()->isAncestorOf(control))
            return area;
    }
    return nullptr;
}
} // namespace

void viewTogether(QWidget *group) { group->setProperty(kViewedTogether, true); }

void bringIntoView(QWidget *control)
{
    // The innermost first: an outer scroller then sees the control where the
    // inner one put it.
    for (QWidget *up = control->parentWidget(); up; up = up->isWindow() ? nullptr : up->parentWidget()) {
        auto *area = qobject_cast<QScrollArea *>(up);
        if (area && area->widget() && area->widget()->isAncestorOf(control)) {
            if (QWidget *shown = shownWith(control, area))
                reveal(area, shown, control);
        }
    }
}

void scrollToTop(QWidget *widget)
{
    for (QWidget *up = widget->parentWidget(); up; up = up->isWindow() ? nullptr : up->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(up); area && area->widget() && area->widget()->isAncestorOf(widget))
            area->verticalScrollBar()->setValue(area->verticalScrollBar()->minimum());
    }
}

bool shownWhole(const QWidget *widget)
{
    if (!widget->isVisible())
        return false;
    const QRect r(widget->mapTo(widget->window(), QPoint()), widget->size());
    for (const QWidget *up = widget->parentWidget(); up; up = up->isWindow() ? nullptr : up->parentWidget()) {
        if (!QRect(up->mapTo(widget->window(), QPoint()), up->size()).contains(r))
            return false;
    }
    return true;
}

QWidget *openingControl(const QWidget *screen, QWidget *preferred)
{
    if (preferred && preferred->isEnabled() && shownWhole(preferred))
        return preferred;
    for (QWidget *control : stopsIn(screen)) {
        if (shownWhole(control))
            return control;
    }
    return nullptr;
}

namespace {
// A content made while hidden tells its height for its width only once its
// layout has first run, as it shows, which may be after the scroller fitted it
// to the view: its rows squeezed into the view rather than scrolled. As the
// content shows, and whenever its layout is to run, the layout runs at once and
// the scroller fits the content again, before anything is drawn.
class RefitOnLayout final : public QObject {
public:
    explicit RefitOnLayout(QScrollArea *area) : QObject(area), m_area(area) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if ((event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show) && watched == m_area->widget()) {
            if (QLayout *layout = m_area->widget()->layout())
                layout->activate();
            QEvent refit(QEvent::LayoutRequest);
            QCoreApplication::sendEvent(m_area, &refit);
        }
        return false;
    }

private:
    QScrollArea *m_area;
};
} // namespace

QScrollArea *scrollArea(QWidget *content, QWidget *parent)
{
    auto *area = new QScrollArea(parent);
    // The keyboard goes to the controls inside, never to the scroller itself.
    area->setFocusPolicy(Qt::NoFocus);
    // A control that takes the keyboard comes into view, with what it belongs
    // with, through every scroller round it, once (by the innermost); not
    // under a press, which must end on the control it began on. Once the move
    // is over and only if it kept the keyboard: a part made again passes the
    // keyboard on as its control hides, and back to its new one.
    QObject::connect(qApp, &QApplication::focusChanged, area, [area](QWidget *, QWidget *now) {
        if (!now || innermostArea(now) != area || QGuiApplication::mouseButtons() != Qt::NoButton)
            return;
        QTimer::singleShot(0, area, [area, now = QPointer<QWidget>(now)] {
            if (now && now->hasFocus() && innermostArea(now) == area)
                bringIntoView(now);
        });
    });
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area->viewport()->setAutoFillBackground(false);
    area->setWidget(content);
    content->installEventFilter(new RefitOnLayout(area));
    // setWidget() makes the content fill itself with the window colour; the
    // screen's own background shows through instead.
    content->setAutoFillBackground(false);
    ScrollBars::follow(area->verticalScrollBar());
    return area;
}

QWidget *leading(QWidget *child, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(child);
    layout->addStretch(1);
    return row;
}

QScrollArea *scrollColumn(QVBoxLayout *&column, int maxWidth, const QMargins &padding, int spacing, QWidget *parent)
{
    auto *page = new QWidget;
    auto *row = new QHBoxLayout(page);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    auto *body = new QWidget(page);
    body->setMaximumWidth(maxWidth);
    column = new QVBoxLayout(body);
    column->setContentsMargins(padding);
    column->setSpacing(spacing);
    row->addWidget(body, 1);
    row->addStretch(0);
    return scrollArea(page, parent);
}

void clearLayout(QLayout *layout)
{
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

void setUpButton(QAbstractButton *button)
{
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::StrongFocus);
    FocusRing::track(button);
    AppearanceService::repaintOnChange(button);
}

void bringForward(QWidget *window)
{
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    activateShown(window);
}

void keepInWorkArea(QWidget *window, const std::function<void(const QSize &room)> &bound)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    const QSize room = area.size().shrunkBy(frame);
    bound(room);
    // The window's least size follows now, not after the resize: a least size
    // lowered deep inside reaches the window one layout at a time, each on a
    // later turn of the event loop, so they are worked out here, innermost
    // first (a widget comes after all it holds, in reverse).
    const QList<QWidget *> inside = window->findChildren<QWidget *>();
    for (auto it = inside.crbegin(); it != inside.crend(); ++it) {
        if (QLayout *layout = (*it)->layout())
            layout->activate();
    }
    if (window->layout())
        window->layout()->activate();
    if (area.contains(outer))
        return;
    const QSize size = inner.size().boundedTo(room);
    const QSize whole = size.grownBy(frame);
    const int x = std::clamp(outer.x(), area.left(), area.left() + area.width() - whole.width());
    const int y = std::clamp(outer.y(), area.top(), area.top() + area.height() - whole.height());
    window->setGeometry(QRect(QPoint(x, y) + QPoint(frame.left(), frame.top()), size));
}

QString handle(const QString &username)
{
    const QString mark = L10n::layoutDirection() == Qt::RightToLeft ? QString(QChar(0x200E)) : QString();
    return mark + QLatin1Char('@') + isolatedPiece(username);
}

TextBlock *text(const QString &words, double size, DesignFonts::Weight weight, Color color, QWidget *parent)
{
    return new TextBlock(words, DesignFonts::system(size, weight), color, parent);
}

// ---- Screen

namespace {
// Calls `then` once a mouse button has been let go (or the pointer moves with
// none held, a release that never came), after that event has been delivered.
class PressWatch final : public QObject {
public:
    PressWatch(QObject *owner, std::function<void()> then) : QObject(owner), m_then(std::move(then))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        const bool letGo = event->type() == QEvent::MouseButtonRelease ||
                           (event->type() == QEvent::MouseMove &&
                            static_cast<QMouseEvent *>(event)->buttons() == Qt::NoButton);
        if (letGo && !m_done) {
            m_done = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    deleteLater();
                    m_then();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    std::function<void()> m_then;
    bool m_done = false;
};
} // namespace

Screen::Screen(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    connect(&model, &AppModel::languageChanged, this, [this] {
        m_reworded = true;
        if (m_pending)
            return;
        m_pending = true;
        QMetaObject::invokeMethod(this, [this] { rebuild(); }, Qt::QueuedConnection);
    });
}

void Screen::populate()
{
    QWidget *next = build();
    layout()->addWidget(next);
    // The keyboard stays on the same control of the content built anew, rather
    // than going on to wherever the window's Tab order leads from a hidden one;
    // also the one a window yet to come forward will hand it to.
    QWidget *focus = window()->focusWidget();
    if (m_content && m_content->isAncestorOf(focus) && isVisible()) {
        next->show();
        QWidget *same = KeyboardHold::sameControl(focus, next, m_content);
        if (!same)
            same = KeyboardHold::samePlace(focus, next, m_content);
        // Worded anew, a control is known by its place alone: the same
        // screen reads in another language.
        if (!same && m_reworded)
            same = KeyboardHold::sameSpot(focus, next, m_content);
        if (same && FocusRing::shown(focus))
            FocusRing::give(same);
        else if (same)
            same->setFocus(Qt::OtherFocusReason);
    }
    if (m_content) {
        m_content->hide();
        m_content->deleteLater();
    }
    m_content = next;
    m_reworded = false;
    Q_EMIT built();
}

void Screen::rebuildSoon()
{
    if (m_soon)
        return;
    m_soon = true;
    QMetaObject::invokeMethod(this, &Screen::rebuildOnceLetGo, Qt::QueuedConnection);
}

void Screen::rebuildOnceLetGo()
{
    // A button held down on the content is a click under way: built anew
    // under it, the control pressed would be gone and its release would reach
    // nothing. The control takes its click first.
    if (m_content && m_content->underMouse() && QGuiApplication::mouseButtons() != Qt::NoButton) {
        if (!m_press)
            m_press = new PressWatch(this, [this] {
                m_press.clear(); // a press come meanwhile is watched anew
                rebuildOnceLetGo();
            });
        return;
    }
    m_soon = false;
    rebuild();
}

void Screen::rebuild()
{
    m_pending = false;
    const int offset = m_scroll ? m_scroll->verticalScrollBar()->value() : 0;
    m_scroll = nullptr;
    populate();
    if (m_scroll) {
        // The range is known once the new content is laid out.
        QScrollBar *bar = m_scroll->verticalScrollBar();
        auto *once = new QObject(bar);
        // Followed while the new content lays out, not later: content that
        // came out shorter than the offset would else be scrolled to its end
        // at every change of its height from then on.
        auto *laidOut = new QTimer(once);
        laidOut->setSingleShot(true);
        laidOut->setInterval(0);
        connect(laidOut, &QTimer::timeout, once, &QObject::deleteLater);
        connect(bar, &QScrollBar::rangeChanged, once, [this, bar, offset, once, laidOut](int, int max) {
            bar->setValue(std::min(offset, max));
            // The control the keyboard stayed on shows, though the screen
            // now reads longer or shorter above it.
            QWidget *focus = QApplication::focusWidget();
            if (m_content && m_content->isAncestorOf(focus))
                bringIntoView(focus);
            if (max >= offset)
                once->deleteLater();
            else
                laidOut->start();
        });
    }
}

// ---- ConfirmationDialog

namespace {
// The destructive action: the primary button in the attention colour.
ButtonStyle destructiveStyle()
{
    ButtonStyle style = PrimaryButtonStyle(true);
    style.fill = Color::attention;
    style.labelColor = Color::onAccent;
    return style;
}
} // namespace

ConfirmationDialog::ConfirmationDialog(const QString &title, const std::optional<QString> &message,
                                       const QString &action, QWidget *anchor)
    : QWidget(anchor ? anchor->window() : nullptr, Qt::Dialog)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(title);
    if (anchor)
        setLayoutDirection(anchor->layoutDirection());
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 22, 24, 20);
    column->setSpacing(10);
    auto *heading = text(title, 15, DesignFonts::Weight::semibold, Color::text, this);
    heading->setPreferredWidth(320);
    column->addWidget(heading);
    if (message) {
        auto *words = text(*message, 12.5, DesignFonts::Weight::regular, Color::muted, this);
        words->setPreferredWidth(320);
        column->addWidget(words);
    }
    column->addSpacing(8);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch(1);
    m_cancel = new RowButton(L10n::t("Cancel"), QuietButtonStyle(true), this);
    m_action = new RowButton(action, destructiveStyle(), this);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_action);
    column->addLayout(buttons);
    connect(m_cancel, &QAbstractButton::clicked, this, [this] { answer(false); });
    connect(m_action, &QAbstractButton::clicked, this, [this] { answer(true); });
    setFixedWidth(368);
    AppearanceService::repaintOnChange(this);
}

void ConfirmationDialog::open()
{
    adjustSize();
    if (QWidget *owner = parentWidget()) {
        const QRect frame = owner->geometry();
        move(frame.center().x() - width() / 2, frame.top() + 60);
    }
    show();
    raise();
    activateWindow();
    // Ringed from the first frame where a key opened the question.
    FocusRing::give(m_cancel);
}

void ConfirmationDialog::answer(bool confirm)
{
    if (m_answered)
        return;
    m_answered = true;
    if (confirm)
        Q_EMIT confirmed();
    else
        Q_EMIT cancelled();
    close();
}

void ConfirmationDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        answer(false);
        return;
    }
    QWidget::keyPressEvent(event);
}

void ConfirmationDialog::closeEvent(QCloseEvent *event)
{
    // Closing the window is cancelling.
    if (!m_answered) {
        m_answered = true;
        Q_EMIT cancelled();
    }
    QWidget::closeEvent(event);
}

void ConfirmationDialog::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), PaletteColors::color(Color::background));
}
