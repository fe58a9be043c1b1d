#pragma once

#include <QPlainTextEdit>

// Starts a plain-text entry's lines on the leading side of its layout (the
// right in Arabic and Hebrew), now and after a change of direction. Each
// paragraph still reads in the direction of its own letters, so an English
// line in an Arabic caption keeps its words in order.
void alignToLeadingSide(QPlainTextEdit *edit);

// A plain-text entry that starts one line high and grows by whole lines with its
// content, up to `maxLines`; beyond that it scrolls. Return submits; Shift+Return
// or Alt+Return starts a new line.
class GrowingTextField final : public QPlainTextEdit {
    Q_OBJECT
public:
    // maxLines below 1 is taken as 1.
    GrowingTextField(const QString &placeholder, int maxLines, QWidget *parent = nullptr);

    QString text() const { return toPlainText(); }
    void setText(const QString &text);
    int maxLines() const { return m_maxLines; }
    void setMaxLines(int lines);

    // Lines the content takes at the current width, wrapped lines included.
    int contentLineCount() const;
    // Lines the field is tall: the content's, from 1 up to maxLines.
    int visibleLineCount() const;
    // The field's height for a number of visible lines.
    int heightForLines(int lines) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void submitted();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyColors();
    void fitHeight();

    int m_maxLines;
};
