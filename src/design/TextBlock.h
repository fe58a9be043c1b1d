#pragma once

#include "design/ZephylPalette.h"

#include <QStringList>
#include <QWidget>

#include <optional>

class PressAnimator;

// Plain text drawn in a palette colour: never interpreted as markup. Wraps at word
// boundaries (or anywhere, for a word wider than the line), optionally cut to a
// number of lines with an ellipsis, with extra space between lines, leading- or
// centre-aligned, mirrored in right-to-left layouts. Each paragraph reads in one
// direction on all its lines: the layout's, unless its letters are all of the
// other direction. Optionally draws a rounded fill behind itself inside its
// contents margins' outer edge.
class TextBlock : public QWidget {
    Q_OBJECT
public:
    explicit TextBlock(const QString &text, const QFont &font, ZephylPalette::Color color, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    ZephylPalette::Color colorRole() const { return m_color; }
    void setColorRole(ZephylPalette::Color color);
    // 0 shows every line.
    int maxLines() const { return m_maxLines; }
    void setMaxLines(int lines);
    void setLineSpacing(double extra);
    void setCentered(bool centered);
    // Text that must wrap is laid out as narrow as its line count allows, so
    // its lines come out about even rather than one word left alone on the last.
    void setBalanced(bool balanced);
    void setBackground(std::optional<ZephylPalette::Color> fill, double radius);
    // The width a wrapping block asks for before a layout narrows it.
    void setPreferredWidth(int width);
    // Later changes of a shown block's text cross-fade, eased out over `seconds`.
    void setCrossFade(double seconds);
    // How far the new text has come in: 1 when no cross-fade is running.
    double crossFadeProgress() const;

    // The lines shown at the widget's current width.
    QStringList visibleLines() const;

    // One line as shown, with the direction its paragraph reads in.
    struct Line {
        QString text;
        Qt::LayoutDirection direction;
    };
    // Breaks `text` into the lines shown at `width` in a layout of `direction`;
    // with maxLines > 0 the last kept line ends in an ellipsis when text was
    // left out.
    static QList<Line> layout(const QString &text, const QFont &font, double width, int maxLines,
                              Qt::LayoutDirection direction);
    // The same lines' texts.
    static QStringList layoutLines(const QString &text, const QFont &font, double width, int maxLines,
                                   Qt::LayoutDirection direction);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    double lineHeight() const;
    double linesHeight(int count) const;
    double naturalWidth() const;
    // The width lines are broken at inside `width`: narrower when balanced.
    double breakWidth(double width) const;

    QString m_text;
    ZephylPalette::Color m_color;
    int m_maxLines = 0;
    double m_lineSpacing = 0;
    bool m_centered = false;
    bool m_balanced = false;
    std::optional<ZephylPalette::Color> m_fill;
    double m_radius = 0;
    int m_preferredWidth = 360;
    double m_crossFadeSeconds = 0;
    // The text going out while the new one comes in.
    QString m_leaving;
    PressAnimator *m_crossFade = nullptr;
};
