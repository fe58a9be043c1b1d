#pragma once

#include <QTextEdit>

class QTextDocument;

// A message's text: plain, selectable, wrapping (anywhere, when a word is
// longer than the line), as wide as its longest line until the row runs out of
// room, as tall as its lines; it never scrolls itself. Each paragraph reads in
// its own script's direction.
class ChatText final : public QTextEdit {
    Q_OBJECT
public:
    // `lineSpacing` is the extra room between lines, in points.
    ChatText(const QString &text, double fontSize, double lineSpacing, QWidget *parent = nullptr);
    ChatText(const QString &text, QWidget *parent = nullptr) : ChatText(text, 14, 3, parent) {}

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void wheelEvent(QWheelEvent *event) override;

private:
    void applyColors();

    // The same text, laid out at the widths the layout asks about.
    QTextDocument *m_measure;
};
