#pragma once

// The workspace screens over a model of the scripted service and the virtual
// clock, shown offscreen so that layouts, clicks and keys run as for a user.

#include "app/FlowTestSupport.h"
#include "support/TextPixels.h"

#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/Controls.h"
#include "design/DesignFonts.h"
#include "design/PaletteColors.h"
#include "design/TextBlock.h"
#include "workspace/PlannerKit.h"
#include "workspace/ScreenKit.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCalendarWidget>
#include <QDateTimeEdit>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace screentest {

// The desktop's colour scheme as a test states it (1 dark, 2 light).
class StatedScheme final : public ColorSchemeSource {
public:
    std::optional<quint32> scheme = 2u;
    std::optional<quint32> colorScheme() override { return scheme; }
    void set(std::optional<quint32> value)
    {
        scheme = value;
        Q_EMIT changed();
    }
};

// Installs a stated desktop scheme and the system theme for the test, and puts
// both back afterwards.
struct AppearanceGuard {
    StatedScheme *scheme = new StatedScheme;
    AppearanceGuard()
    {
        AppearanceService::shared().setSource(std::unique_ptr<ColorSchemeSource>(scheme));
        AppearanceService::shared().setTheme(AppTheme::system);
    }
    ~AppearanceGuard()
    {
        AppearanceService::shared().setTheme(AppTheme::system);
        AppearanceService::shared().setSource(std::make_unique<StatedScheme>());
    }
};

// Runs posted events (deferred deletions, queued rebuilds) and lets the
// coroutines of the scripted service move on.
inline void settle()
{
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

// Wholly shown: inside each of its ancestors up to the window, none clipping
// it; and with `room` round it inside a scroller's view (a ring's room).
inline bool wholeInView(const QWidget *w, int room = 0)
{
    const QRect r(w->mapTo(w->window(), QPoint()), w->size());
    for (const QWidget *up = w->parentWidget(); up; up = up->isWindow() ? nullptr : up->parentWidget()) {
        const auto *area = qobject_cast<const QAbstractScrollArea *>(up->parentWidget());
        const int margin = area && area->viewport() == up ? room : 0;
        if (!QRect(up->mapTo(w->window(), QPoint()), up->size()).contains(r.adjusted(-margin, -margin, margin, margin)))
            return false;
    }
    return w->isVisible();
}

// The sheet a screen shows `content` on (its buttons under it included).
inline QWidget *sheetOf(QWidget *content)
{
    QWidget *up = content;
    while (up && !qobject_cast<SheetLayer *>(up))
        up = up->parentWidget();
    return up;
}

// A top-level host of a workspace-sized window around one screen.
struct Host {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    explicit Host(QSize size = QSize(1180, 760)) { window->resize(size); }
    template <typename W>
    W *show(W *widget)
    {
        widget->setParent(window.get());
        widget->setGeometry(QRect(QPoint(0, 0), window->size()));
        window->show();
        widget->show();
        settle();
        return widget;
    }
};

inline QStringList texts(const QWidget *root)
{
    QStringList out;
    for (const TextBlock *block : root->findChildren<TextBlock *>()) {
        if (block->isVisibleTo(root))
            out << block->text();
    }
    return out;
}

// The words under `root` that are shown cut, each as "what: its full text": a
// text block with more lines than it may show or than its height holds, a
// button that cuts its label or a check box narrower than its own, a segment's
// label wider than the segment.
inline QStringList cutLabels(const QWidget *root)
{
    QStringList out;
    for (const QWidget *w : root->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(root) || w->width() <= 0)
            continue;
        const auto *styled = qobject_cast<const StyledButton *>(w);
        const auto *row = qobject_cast<const RowButton *>(w);
        if (const auto *block = qobject_cast<const TextBlock *>(w)) {
            const qsizetype lines = TextBlock::layoutLines(block->text(), block->font(), block->contentsRect().width(),
                                                           0, block->layoutDirection())
                                        .size();
            if ((block->maxLines() > 0 && lines > block->maxLines()) ||
                block->height() + 1 < block->heightForWidth(block->width()))
                out << QStringLiteral("text: ") + block->text();
        } else if (styled || row) {
            if ((styled ? styled->shownText() : row->shownText()) != static_cast<const QAbstractButton *>(w)->text())
                out << QStringLiteral("button: ") + static_cast<const QAbstractButton *>(w)->text();
        } else if (const auto *button = qobject_cast<const QAbstractButton *>(w)) {
            if (!button->text().isEmpty() && button->sizeHint().width() > button->width())
                out << QStringLiteral("button: ") + button->text();
        } else if (const auto *segments = qobject_cast<const SegmentedPicker *>(w)) {
            // Measured in the chosen segment's weight, the wider of the two.
            const QFontMetricsF metrics(DesignFonts::system(12.5, DesignFonts::Weight::semibold));
            for (int i = 0; i < segments->segments().size(); ++i) {
                if (metrics.horizontalAdvance(segments->segments().at(i)) > segments->segmentRect(i).width() - 8)
                    out << QStringLiteral("segment: ") + segments->segments().at(i);
            }
        }
    }
    return out;
}

// How a date field draws its text, in the X server's pixels when there is one:
// the width of its ink beside the width of the text laid out whole, and the
// room between the field's edge and the ink at the end the text begins at (the
// right in a right-to-left language), where the first field (the day) stands.
struct DrawnDate {
    int ink = 0;
    double whole = 0;
    int room = -1;
};
inline DrawnDate drawnDate(QDateTimeEdit *field)
{
    auto *line = field->findChild<QLineEdit *>();
    const QImage shot = zktest::drawnPixels(field);
    if (!line || shot.isNull())
        return {};
    const QRect edit = line->geometry();
    const QRect ink = zktest::inkBox(shot.copy(edit)).translated(edit.topLeft());
    return {ink.width(), DesignFonts::lineExtent(line->font(), line->text()).width(),
            field->isRightToLeft() ? field->width() - 1 - ink.right() : ink.left()};
}

// What is wrong with a date field's calendar, opened by its arrow, in the
// dark: a light ground or a light band (the row of day names, the bar of the
// month) where the palette's dark one should be, or words too faint to read;
// empty when nothing is. The calendar is closed again.
inline QString darkCalendarFault(QDateTimeEdit *field)
{
    // The arrow stands at the field's trailing end.
    QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->isRightToLeft() ? 8 : field->width() - 8, field->height() / 2));
    QWidget *calendar = field->calendarWidget()->window();
    if (!zktest::spinUntil([&] { return calendar->isVisible(); }))
        return QStringLiteral("not opened");
    const QImage shot = zktest::drawnPixels(calendar);
    calendar->close();
    if (shot.isNull())
        return QStringLiteral("nothing drawn");
    const QRgb ground = zktest::commonest(shot);
    const QColor surface = PaletteColors::color(ZephylPalette::Color::surface);
    if (std::max({std::abs(qRed(ground) - surface.red()), std::abs(qGreen(ground) - surface.green()),
                  std::abs(qBlue(ground) - surface.blue())}) > 4)
        return QStringLiteral("on %1").arg(ground, 6, 16, QLatin1Char('0'));
    for (int y = 0; y < shot.height(); ++y)
        if (const QRgb band = zktest::commonest(shot, QRect(0, y, shot.width(), 1)); qGray(band) > 100)
            return QStringLiteral("row %1 on %2").arg(y).arg(band, 6, 16, QLatin1Char('0'));
    if (const double contrast = zktest::standout(shot, shot.rect(), ground).second; contrast < 4.5)
        return QStringLiteral("words at %1:1").arg(contrast);
    return {};
}

// Words of a date field's text and its pop-up arrow ("▾") in the order they
// stand from the field's right edge to its left, each word placed by where the
// field draws the cursor in its middle.
inline QStringList fromTheRight(QDateTimeEdit *field, const QStringList &words)
{
    auto *line = field->findChild<QLineEdit *>();
    const QRect edit = line->geometry();
    // The arrow takes the room beside the text.
    QList<std::pair<double, QString>> placed{
        {edit.left() > field->width() - edit.right() ? edit.left() / 2.0 : (edit.right() + field->width()) / 2.0,
         QStringLiteral("▾")}};
    for (const QString &word : words) {
        const qsizetype at = line->text().indexOf(word);
        if (at < 0)
            return {QStringLiteral("no ") + word + QStringLiteral(" in ") + line->text()};
        line->setCursorPosition(int(at + word.size() / 2));
        placed.append({edit.left() + line->inputMethodQuery(Qt::ImCursorRectangle).toRectF().center().x(), word});
    }
    std::sort(placed.begin(), placed.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    QStringList out;
    for (const auto &[x, word] : placed)
        out << word;
    return out;
}

// A caption editor starts its text on the language's leading side (the right
// in Arabic and Hebrew) and keeps each paragraph in its own reading order: an
// Arabic one and an English one, each placed by where the editor draws the
// cursor at its two ends.
inline void expectCaptionOnTheLeadingSide(QPlainTextEdit *edit, Qt::LayoutDirection direction)
{
    const QString arabic = QStringLiteral("مرحبا بالعالم"), english = QStringLiteral("Hello world.");
    edit->setPlainText(arabic + u'\n' + english);
    settle();
    const auto x = [&](qsizetype position) {
        QTextCursor cursor(edit->document());
        cursor.setPosition(int(position));
        return edit->cursorRect(cursor).center().x();
    };
    const int arabicStart = x(0), arabicEnd = x(arabic.size());
    const int englishStart = x(arabic.size() + 1), englishEnd = x(arabic.size() + 1 + english.size());
    EXPECT_GT(arabicStart, arabicEnd) << "the Arabic paragraph reads right to left";
    EXPECT_LT(englishStart, englishEnd) << "the English one left to right";
    const int width = edit->viewport()->width();
    if (direction == Qt::RightToLeft) {
        EXPECT_GT(arabicStart, width - 12) << "starts at the right edge of " << width;
        EXPECT_GT(englishEnd, width - 12) << "ends at the right edge of " << width;
    } else {
        EXPECT_LT(arabicEnd, 12);
        EXPECT_LT(englishStart, 12);
    }
    edit->clear();
    settle();
}

inline QAbstractButton *buttonNamed(const QWidget *root, const QString &text)
{
    for (QAbstractButton *button : root->findChildren<QAbstractButton *>()) {
        if (button->text() == text && button->isVisibleTo(root))
            return button;
    }
    return nullptr;
}

inline void click(QAbstractButton *button)
{
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    settle();
}

inline void key(QWidget *widget, Qt::Key key)
{
    QTest::keyClick(widget, key);
    settle();
}

} // namespace screentest
