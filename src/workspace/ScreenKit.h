#pragma once

#include "design/ButtonStyles.h"
#include "design/DesignFonts.h"
#include "design/ZephylPalette.h"

#include <QAbstractButton>
#include <QLayout>
#include <QPointer>
#include <QVBoxLayout>
#include <QWidget>

#include <functional>
#include <optional>

class AppModel;
#include <QScrollArea>
class QTimer;
class TextBlock;

// Pieces the workspace screens share: backgrounds, the resting cat, the small
// spinner, buttons with more than a label, the adaptive grid, cards and the
// scrolling column, and the base of a screen that words itself anew when the
// language changes.

// Fills itself with a palette colour, at an opacity.
class Backdrop final : public QWidget {
    Q_OBJECT
public:
    explicit Backdrop(ZephylPalette::Color color, double opacity = 1.0, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ZephylPalette::Color m_color;
    double m_opacity;
};

// The drawn cat at rest (state idle, facing right), scaled about the centre of
// the widget's frame and placed by `alignment` inside it.
class CatFigureView final : public QWidget {
    Q_OBJECT
public:
    CatFigureView(double scale, QSize frame, Qt::Alignment alignment = Qt::AlignCenter, QWidget *parent = nullptr);
    double scale() const { return m_scale; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_scale;
    Qt::Alignment m_alignment;
};

// A small indeterminate progress indicator; it turns only while shown.
class Spinner final : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(QWidget *parent = nullptr, ZephylPalette::Color color = ZephylPalette::Color::muted);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer *m_timer;
    int m_step = 0;
    ZephylPalette::Color m_color;
};

// A button drawn with a ButtonStyle whose label is a row: a spinner while busy,
// a symbol, the text, and optionally a hint at the trailing end. Text is plain.
class RowButton final : public QAbstractButton {
    Q_OBJECT
public:
    RowButton(const QString &text, const ButtonStyle &style, QWidget *parent = nullptr);

    const ButtonStyle &buttonStyle() const { return m_style; }
    void setSymbol(const QString &symbol, double size = 0);
    QString symbol() const { return m_symbol; }
    // Shown verbatim at the trailing end, in its own font and colour.
    void setHint(const QString &hint, const QFont &font, ZephylPalette::Color color);
    void setBusy(bool busy);
    bool busy() const { return m_busy; }
    // Stretch to the width given and keep the label at the leading side (a
    // hint present) or centred (none).
    void setFillsWidth(bool fills);
    // A fixed square, for a symbol-only button.
    void setSquare(int side);

    // The text as it is drawn at the button's width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    // Where the label's pieces go across a button `width` wide.
    struct Placement {
        QRectF inner;    // inside the padding
        double start;    // of the row, from the inner leading edge
        double textAt;   // of the text, likewise
        double textRoom; // the text's width before it must be cut
    };
    // The row's width unpadded: spinner, symbol, text and hint with their gaps.
    double contentWidth() const;
    Placement placement(const QRectF &rect) const;

    ButtonStyle m_style;
    QString m_symbol;
    double m_symbolSize = 0;
    QString m_hint;
    QFont m_hintFont;
    ZephylPalette::Color m_hintColor = ZephylPalette::Color::muted;
    bool m_busy = false;
    bool m_fills = false;
    int m_square = 0;
    int m_spin = 0;
    QTimer *m_spinTimer = nullptr;
};

// A button without chrome: its label in a font and palette colour, or a symbol.
class PlainButton final : public QAbstractButton {
    Q_OBJECT
public:
    PlainButton(const QString &text, const QFont &font, ZephylPalette::Color color, QWidget *parent = nullptr);
    void setSymbol(const QString &symbol, double size);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QFont m_font;
    ZephylPalette::Color m_color;
    QString m_symbol;
    double m_symbolSize = 0;
};

// A layout that places its items itself, by arrange(): in a given rectangle,
// returning the height it takes.
class ArrangingLayout : public QLayout {
public:
    explicit ArrangingLayout(QWidget *parent = nullptr);
    ~ArrangingLayout() override;

    void addItem(QLayoutItem *item) override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    int count() const override { return int(m_items.size()); }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return arrange(QRect(0, 0, width, 0), false); }
    void setGeometry(const QRect &rect) override;

protected:
    virtual int arrange(const QRect &rect, bool apply) const = 0;
    bool rightToLeft() const { return parentWidget() && parentWidget()->layoutDirection() == Qt::RightToLeft; }

    QList<QLayoutItem *> m_items;
};

// As many columns of `minimum` to `maximum` width as fit, `spacing` apart, rows
// top-aligned; the columns keep to the leading side.
class AdaptiveGridLayout final : public ArrangingLayout {
public:
    AdaptiveGridLayout(int minimum, int maximum, int spacing, QWidget *parent = nullptr);

    // Columns and their width for an available width.
    struct Columns {
        int count = 1;
        int width = 0;
    };
    static Columns columnsFor(int available, int minimum, int maximum, int spacing);

    QSize sizeHint() const override;
    QSize minimumSize() const override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }

protected:
    int arrange(const QRect &rect, bool apply) const override;

private:
    int m_minimum;
    int m_maximum;
    int m_gap;
};

// Items side by side in their preferred sizes, `spacing` apart, wrapping to a
// new line when the width runs out; lines keep to the leading side.
class FlowLayout final : public ArrangingLayout {
public:
    explicit FlowLayout(int spacing, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSize() const override;
    Qt::Orientations expandingDirections() const override { return {}; }

protected:
    int arrange(const QRect &rect, bool apply) const override;

private:
    int m_gap;
};

// The frame of a settings card: the card surface (radius 18), padded, holding
// an optional title and the rows added to `rows()`.
class CardFrame final : public QWidget {
    Q_OBJECT
public:
    struct Padding {
        int horizontal = 20;
        int vertical = 16;
    };
    CardFrame(const std::optional<QString> &title, Padding padding, int spacing, QWidget *parent = nullptr);
    QVBoxLayout *rows() const { return m_rows; }
    TextBlock *titleText() const { return m_title; }

private:
    QVBoxLayout *m_rows;
    TextBlock *m_title = nullptr;
};

// A vertical scroll area over a column that keeps to the leading side: padded,
// at most `maxWidth` wide. The column's layout is returned through `column`.
QScrollArea *scrollColumn(QVBoxLayout *&column, int maxWidth, const QMargins &padding, int spacing,
                          QWidget *parent = nullptr);
// `child` at the leading side of a row, at most as wide as it allows. Put in a
// column this way (rather than with an alignment), a wrapping child is measured
// for the height it needs at the width it actually gets.
QWidget *leading(QWidget *child, QWidget *parent = nullptr);
// A transparent vertical scroll area around `content`. It takes no keyboard
// itself; a control inside that takes it is scrolled into view.
QScrollArea *scrollArea(QWidget *content, QWidget *parent = nullptr);
// Marks `group` as what comes into view together when a control inside it
// takes the keyboard: a field's box with the buttons beside it.
void viewTogether(QWidget *group);
// Scrolls every scroller round `control`, the innermost first, so that it
// shows with what it belongs with. The first control of a scroller brings
// its start in with it, and the last its end, where they fit together: the
// heading over the one, the lines under the other.
void bringIntoView(QWidget *control);
// Puts every scroller round `widget` back at its start: a screen that opens
// shows from its top, its heading whole, however a short window was scrolled.
void scrollToTop(QWidget *widget);
// Wholly shown, nothing round it cutting it off.
bool shownWhole(const QWidget *widget);
// The control the keyboard takes as `screen` opens: `preferred` where it shows
// whole, else the first control in reading order that does; null with none.
QWidget *openingControl(const QWidget *screen, QWidget *preferred = nullptr);

// Empties a layout, hiding its widgets and deleting them once control returns
// to the event loop (one of them may be the sender of the signal being handled).
void clearLayout(QLayout *layout);
// The widgets of type T a layout holds directly, in order.
template <typename T>
QList<T *> widgetsIn(const QLayout *layout)
{
    QList<T *> found;
    for (int i = 0; layout && i < layout->count(); ++i) {
        if (auto *widget = qobject_cast<T *>(layout->itemAt(i)->widget()))
            found.append(widget);
    }
    return found;
}
// What every chromeless button of the screens shares: the pointing hand, focus
// by click and Tab with a ring only for Tab, repainting with the appearance.
void setUpButton(QAbstractButton *button);
// Shows a window, restores it when minimised, raises and activates it.
void bringForward(QWidget *window);
// Once the window manager has framed `window`, so its frame (title bar
// included) is known: brings it inside the free area of its screen, smaller
// where that area is smaller. `bound` first hears the room inside the frame,
// to lower the window's least size to it.
void keepInWorkArea(QWidget *window, const std::function<void(const QSize &room)> &bound);

// "@" and an Instagram handle, kept in that order in right-to-left text too
// (a left-to-right mark before the "@", as the translations put it).
QString handle(const QString &username);

// A text block in the design's system face.
TextBlock *text(const QString &words, double size, DesignFonts::Weight weight, ZephylPalette::Color color,
                QWidget *parent = nullptr);

// The base of a screen made from the state object. Its content is built by
// build(); a change of language builds it again (after the current event, so
// a control may change the language from inside its own signal), keeping the
// scroll position. Connections to the state object made while building use
// widgets of the content as their context, so they end with it.
class Screen : public QWidget {
    Q_OBJECT
public:
    explicit Screen(AppModel &model, QWidget *parent = nullptr);
    AppModel &model() const { return m_model; }
    QWidget *content() const { return m_content; }
    // Builds the content again at once.
    void rebuild();
    // Builds it again once control returns to the event loop (and a mouse
    // button held on the content is let go); a burst of changes of the state
    // object is drawn once.
    void rebuildSoon();
    // The control the keyboard goes to as the screen opens, where it shows
    // (the assistant's field); none for the first control in reading order.
    virtual QWidget *openingControl() const { return nullptr; }

Q_SIGNALS:
    // The content was built, first or anew.
    void built();

protected:
    virtual QWidget *build() = 0;
    // Called by the subclass at the end of its constructor.
    void populate();
    // The scroll area whose position survives a rebuild.
    void keepScroll(QScrollArea *area) { m_scroll = area; }

private:
    void rebuildOnceLetGo();

    AppModel &m_model;
    QPointer<QWidget> m_content;
    QPointer<QScrollArea> m_scroll;
    bool m_pending = false;
    bool m_soon = false;
    // The language changed since the content was built.
    bool m_reworded = false;
    QPointer<QObject> m_press;
};

// A question the user confirms or cancels, drawn in the palette: its title, an
// optional message, "Cancel" and one destructive action. Window-modal; it
// deletes itself once answered.
class ConfirmationDialog final : public QWidget {
    Q_OBJECT
public:
    ConfirmationDialog(const QString &title, const std::optional<QString> &message, const QString &action,
                       QWidget *anchor);

    QAbstractButton *actionButton() const { return m_action; }
    QAbstractButton *cancelButton() const { return m_cancel; }
    void open();

Q_SIGNALS:
    void confirmed();
    void cancelled();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void answer(bool confirm);

    QAbstractButton *m_action;
    QAbstractButton *m_cancel;
    bool m_answered = false;
};
