#include "ContrastMeasure.h"

#include "ask/AskBarView.h"
#include "ask/CatFace.h"
#include "design/ButtonStyles.h"
#include "design/Controls.h"
#include "design/NoticeBanner.h"
#include "design/PressAnimator.h"
#include "design/TextBlock.h"
#include "shell/FocusTimerView.h"
#include "workspace/CompanionSettingsWindow.h"
#include "workspace/PlanView.h"
#include "workspace/ScreenKit.h"

#include <QAbstractAnimation>
#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QAction>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace contrastcheck {

namespace {

double luminance(QRgb c)
{
    auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

QRgb mostOf(const QHash<QRgb, int> &counts)
{
    QRgb best = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    return best;
}

// The colour most pixels of the area have.
QRgb commonest(const QImage &image, const QRect &area)
{
    QHash<QRgb, int> counts;
    const QRect r = area & image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000u];
    return mostOf(counts);
}

// The pixels of a ring `gap` outside the area, the colour they mostly have.
QRgb behind(const QImage &image, const QRect &area, int gap = 3)
{
    QHash<QRgb, int> counts;
    const QRect ring = area.adjusted(-gap, -gap, gap, gap);
    auto take = [&](int x, int y) {
        if (image.rect().contains(x, y))
            ++counts[image.pixel(x, y) | 0xff000000u];
    };
    for (int x = ring.left(); x <= ring.right(); ++x) {
        take(x, ring.top());
        take(x, ring.bottom());
    }
    for (int y = ring.top(); y <= ring.bottom(); ++y) {
        take(ring.left(), y);
        take(ring.right(), y);
    }
    return mostOf(counts);
}

double strongest(const QImage &image, const QRect &area, QRgb ground)
{
    double best = 1;
    const QRect r = area & image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            best = std::max(best, contrast(image.pixel(x, y), ground));
    return best;
}

QString hex(QRgb c) { return QColor(c).name(); }

// The window's widgets of a kind, the window itself included.
template <typename T>
QList<T *> drawn(QWidget &window)
{
    QList<T *> out = window.findChildren<T *>();
    if (auto *self = qobject_cast<T *>(&window))
        out.prepend(self);
    return out;
}

// Where a child shows in the window's picture; empty when it does not.
QRect shownRect(QWidget &window, QWidget *w)
{
    if (w == &window)
        return window.rect();
    if (!w->isVisible() || w->visibleRegion().isEmpty() || w->window() != &window)
        return {};
    const QRect local = w->visibleRegion().boundingRect();
    const QRect r = QRect(w->mapTo(&window, local.topLeft()), local.size()) & window.rect();
    // Covered by a sibling (a sheet, a stacked page): not what the user sees.
    QWidget *top = window.childAt(r.center());
    if (!top || (top != w && !w->isAncestorOf(top) && !top->isAncestorOf(w)))
        return {};
    return r;
}

// A button drawn by a ButtonStyle, whichever kind of button draws it.
struct Styled {
    QAbstractButton *button;
    ButtonStyle style;
    bool symbolOnly;
};

QList<Styled> styledButtons(QWidget &window)
{
    QList<Styled> out;
    for (StyledButton *b : window.findChildren<StyledButton *>())
        out.append({b, b->buttonStyle(), b->text().isEmpty()});
    for (RowButton *b : window.findChildren<RowButton *>())
        out.append({b, b->buttonStyle(), b->text().isEmpty() && !b->symbol().isEmpty()});
    return out;
}

// Buttons known by their fill alone, whatever their words: the strong fills.
bool knownByFill(ZephylPalette::Color fill)
{
    using ZephylPalette::Color;
    return fill == Color::primaryFill || fill == Color::attention || fill == Color::accent || fill == Color::ink;
}

} // namespace

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QImage picture(QWidget &window, std::optional<QColor> desk)
{
    const QImage grabbed = window.grab().toImage();
    QImage image(grabbed.size(), QImage::Format_RGB32);
    image.setDevicePixelRatio(grabbed.devicePixelRatio());
    image.fill(desk.value_or(Qt::black));
    QPainter painter(&image);
    painter.drawImage(QPoint(0, 0), grabbed);
    painter.end();
    image.setDevicePixelRatio(1);
    return image;
}

std::optional<QString> catShortfall(const QImage &image, const QRect &area, const QString &where)
{
    if (area.isEmpty())
        return std::nullopt;
    const QRgb ground = behind(image, area, 0);
    const QRect r = area & image.rect();
    auto inked = [&](int x, int y) { return r.contains(x, y) && contrast(image.pixel(x, y), ground) > 1.15; };
    int edges = 0, seen = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            if (!inked(x, y) || (inked(x - 1, y) && inked(x + 1, y) && inked(x, y - 1) && inked(x, y + 1)))
                continue;
            ++edges;
            double best = 1;
            for (int dy = -5; dy <= 5; ++dy)
                for (int dx = -5; dx <= 5; ++dx)
                    if (r.contains(x + dx, y + dy))
                        best = std::max(best, contrast(image.pixel(x + dx, y + dy), ground));
            if (best >= 3.0)
                ++seen;
        }
    if (edges < 20)
        return QStringLiteral("%1: no cat drawn").arg(where);
    if (seen < edges * 0.9)
        return QStringLiteral("%1: the cat's edge stands out in %2 of %3 places on %4")
            .arg(where)
            .arg(seen)
            .arg(edges)
            .arg(hex(ground));
    return std::nullopt;
}

QStringList shortfalls(QWidget &window, const QImage &image)
{
    QStringList found;
    // Text: its strongest pixel against the ground it mostly sits on.
    auto text = [&](QWidget *w, const QString &words, const QFont &font, const QRect &inside = {}) {
        QRect r = shownRect(window, w);
        if (!inside.isNull())
            r &= inside;
        if (r.isEmpty() || words.trimmed().isEmpty() || r.height() < 6)
            return;
        const QRgb ground = commonest(image, r);
        const bool large = font.pointSizeF() >= 18 || (font.pointSizeF() >= 14 && font.bold());
        const double need = large ? 3.0 : 4.5;
        const double got = strongest(image, r, ground);
        if (got < need)
            found << QStringLiteral("%4 \"%1\" %2:1 on %3")
                         .arg(words.left(40))
                         .arg(got, 0, 'f', 2)
                         .arg(hex(ground), QString::fromLatin1(w->metaObject()->className()));
    };
    for (QLabel *label : window.findChildren<QLabel *>())
        if (label->pixmap().isNull())
            text(label, label->text(), label->font());
    for (TextBlock *block : window.findChildren<TextBlock *>())
        text(block, block->text(), block->font());
    for (NoticeBanner *banner : window.findChildren<NoticeBanner *>())
        text(banner, banner->notice().text, banner->font());
    // Fields: what was typed, or the placeholder that stands in for a label.
    auto field = [&](QWidget *w, QWidget *viewport, const QString &typed, const QString &placeholder) {
        const QString words = typed.isEmpty() ? placeholder : typed;
        const QRect area(viewport->mapTo(&window, QPoint(0, 0)), viewport->size());
        text(w, words, w->font(), area);
    };
    for (QLineEdit *edit : window.findChildren<QLineEdit *>())
        field(edit, edit, edit->text(), edit->placeholderText());
    for (QPlainTextEdit *edit : window.findChildren<QPlainTextEdit *>())
        field(edit, edit->viewport(), edit->toPlainText(), edit->placeholderText());
    for (QTextEdit *edit : window.findChildren<QTextEdit *>())
        field(edit, edit->viewport(), edit->toPlainText(), edit->placeholderText());

    // Controls that draw their own words: each segment of a picker, the
    // weekday and the date of a day in the week strip.
    for (SegmentedPicker *picker : window.findChildren<SegmentedPicker *>()) {
        const QPoint origin = picker->mapTo(&window, QPoint(0, 0));
        for (int i = 0; i < picker->segments().size(); ++i)
            text(picker, picker->segments()[i], picker->font(),
                 picker->segmentRect(i).toAlignedRect().translated(origin).adjusted(2, 2, -2, -2));
    }
    for (DayCell *day : window.findChildren<DayCell *>()) {
        const QPoint origin = day->mapTo(&window, QPoint(0, 0));
        // As the cell lays itself out: the weekday's line, 6 apart, the date's 38-point circle.
        const int line = day->sizeHint().height() - 55;
        const int top = (day->height() - day->sizeHint().height()) / 2;
        QFont small = day->font();
        small.setPointSizeF(10);
        text(day, QStringLiteral("weekday"), small, QRect(origin + QPoint(0, top), QSize(day->width(), line)));
        const QRect circle(origin + QPoint((day->width() - 38) / 2, top + line + 6), QSize(38, 38));
        text(day, QStringLiteral("date"), small, circle.adjusted(6, 6, -6, -6));
    }
    // Switches: the track, by its fill or its outline, against what is around it.
    for (ToggleSwitch *toggle : window.findChildren<ToggleSwitch *>()) {
        const QRect r = shownRect(window, toggle);
        if (r.isEmpty() || !toggle->isEnabled())
            continue;
        const QRgb around = behind(image, r, 2);
        // The middle column holds no knob, in either state.
        const int x = r.center().x();
        double edge = 1;
        for (int y = r.top(); y <= r.top() + 6; ++y)
            edge = std::max(edge, contrast(image.pixel(x, y), around));
        if (edge < 3.0)
            found << QStringLiteral("switch (%1) %2:1 on %3")
                         .arg(toggle->isOn() ? QStringLiteral("on") : QStringLiteral("off"))
                         .arg(edge, 0, 'f', 2)
                         .arg(hex(around));
    }

    // Buttons: the label on the fill (a symbol 3:1); a button known by its
    // fill, also against what is around it (others are known by their words).
    for (const Styled &s : styledButtons(window)) {
        QAbstractButton *button = s.button;
        const QRect r = shownRect(window, button);
        if (r.isEmpty() || r.size() != button->size() || !button->isEnabled())
            continue;
        const QRgb around = behind(image, r);
        const int y = r.center().y();
        const QRgb fill = image.pixel(r.left() + std::min(6, r.width() / 4), y);
        double edge = contrast(fill, around);
        for (int x = r.left(); x <= r.left() + 2; ++x)
            edge = std::max(edge, contrast(image.pixel(x, y), around));
        if (knownByFill(s.style.fill) && edge < 3.0)
            found << QStringLiteral("button \"%1\" %2:1 (%3 on %4)")
                         .arg(button->text())
                         .arg(edge, 0, 'f', 2)
                         .arg(hex(fill), hex(around));
        if (!button->text().isEmpty() || s.symbolOnly) {
            const double need = s.symbolOnly ? 3.0 : 4.5;
            const QRect inner = s.symbolOnly ? r.adjusted(r.width() / 4, r.height() / 4, -r.width() / 4, -r.height() / 4)
                                             : r.adjusted(8, 4, -8, -4);
            const double label = strongest(image, inner, fill);
            if (label < need)
                found << QStringLiteral("button %1 \"%2\" %3:1 on %4")
                             .arg(s.symbolOnly ? QStringLiteral("symbol") : QStringLiteral("label"),
                                  s.symbolOnly ? button->accessibleName() : button->text())
                             .arg(label, 0, 'f', 2)
                             .arg(hex(fill));
        }
    }
    // Other buttons with words (links drawn as text) against their ground.
    for (QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
        if (qobject_cast<StyledButton *>(button) || qobject_cast<RowButton *>(button) || !button->isEnabled() ||
            qobject_cast<VariantCard *>(button))
            continue;
        text(button, button->text(), button->font());
    }
    // The send button, ready: its circle against the card, its arrow on the circle.
    for (SendButton *send : window.findChildren<SendButton *>()) {
        const QRect r = shownRect(window, send);
        if (r.isEmpty() || !send->isEnabled())
            continue;
        const QRgb fill = image.pixel(r.left() + 6, r.center().y());
        const QRgb around = behind(image, r);
        double edge = 1;
        for (int x = r.left(); x <= r.left() + 3; ++x)
            edge = std::max(edge, contrast(image.pixel(x, r.center().y()), around));
        if (edge < 3.0)
            found << QStringLiteral("send button %1:1 (%2 on %3)").arg(edge, 0, 'f', 2).arg(hex(fill), hex(around));
        const double arrow = strongest(image, r.adjusted(10, 10, -10, -10), fill);
        if (arrow < 3.0)
            found << QStringLiteral("send arrow %1:1 on %2").arg(arrow, 0, 'f', 2).arg(hex(fill));
    }

    auto cat = [&](const QRect &area, const char *where) {
        if (const std::optional<QString> line = catShortfall(image, area, QString::fromLatin1(where)))
            found << *line;
    };
    for (CatFigureView *figure : window.findChildren<CatFigureView *>())
        cat(shownRect(window, figure), "cat figure");
    for (VariantCard *card : window.findChildren<VariantCard *>()) {
        const QRect r = shownRect(window, card);
        if (r.size() == card->size() && card->poster().isNull())
            cat(QRect(r.left() + 16, r.top() + 16, r.width() - 32, 82), "drawn look's card");
    }
    for (CatFace *face : window.findChildren<CatFace *>()) {
        const QRect r = shownRect(window, face);
        if (!face->showsPicture() && !r.isEmpty()) {
            const QRectF frame = CatFace::drawnFrame(face->width());
            cat(QRect(r.topLeft() + frame.topLeft().toPoint(), frame.size().toSize()) & r, "ask portrait");
        }
    }

    // The focus clock's own face: its digits and phase on the dark face.
    for (FocusTimerView *clock : drawn<FocusTimerView>(window)) {
        const QRect r = shownRect(window, clock);
        if (r.isEmpty())
            continue;
        const FocusTimerView::Metrics m = FocusTimerView::metrics(clock->compact());
        const QRect face = r.adjusted(int(m.faceInsetX) + 2, int(m.faceInsetY) + 2, -int(m.faceInsetX) - 2,
                                      -int(m.faceInsetY) - 2);
        const QRgb ground = commonest(image, face);
        const double got = strongest(image, face, ground);
        if (got < 4.5)
            found << QStringLiteral("focus clock digits %1:1 on %2").arg(got, 0, 'f', 2).arg(hex(ground));
    }
    return found;
}

// A slide or fade still under way is not the screen the user reads: the
// window is measured once what it started has finished, and its layouts have run.
static void settle(QWidget &window)
{
    const auto moving = [&] {
        for (const QAbstractAnimation *a : window.findChildren<QAbstractAnimation *>())
            if (a->state() == QAbstractAnimation::Running && a->totalDuration() >= 0)
                return true;
        for (const PressAnimator *a : window.findChildren<PressAnimator *>())
            if (a->running())
                return true;
        return false;
    };
    QElapsedTimer waited;
    waited.start();
    do {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    } while (moving() && waited.elapsed() < 5000);
}

QStringList measure(QWidget &window, const QString &where, std::optional<QColor> desk)
{
    settle(window);
    QStringList out;
    for (const QString &line : shortfalls(window, picture(window, desk)))
        out << where + QStringLiteral(": ") + line;
    return out;
}

QStringList measureGround(QWidget &widget, QRgb expected, const QString &where)
{
    const QRgb ground = commonest(picture(widget), widget.rect());
    const int off = std::max({std::abs(qRed(ground) - qRed(expected)), std::abs(qGreen(ground) - qGreen(expected)),
                              std::abs(qBlue(ground) - qBlue(expected))});
    if (off <= 4)
        return {};
    return {QStringLiteral("%1: ground %2, not %3").arg(where, hex(ground), hex(expected))};
}

QStringList measureMenu(QMenu &menu, const QString &where)
{
    QStringList out;
    const QImage image = picture(menu);
    for (QAction *action : menu.actions()) {
        if (action->isSeparator() || !action->isVisible() || !action->isEnabled() || action->text().isEmpty())
            continue;
        const QRect r = menu.actionGeometry(action) & image.rect();
        if (r.isEmpty())
            continue;
        const QRgb ground = commonest(image, r);
        const double got = strongest(image, r, ground);
        if (got < 4.5)
            out << QStringLiteral("%1: menu entry \"%2\" %3:1 on %4")
                       .arg(where, action->text())
                       .arg(got, 0, 'f', 2)
                       .arg(hex(ground));
    }
    return out;
}

} // namespace contrastcheck
