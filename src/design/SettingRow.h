#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class TextBlock;

// One row of a settings list: a title with an optional wrapping detail on the
// leading side, the row's control on the trailing side.
class SettingRow final : public QWidget {
    Q_OBJECT
public:
    // The row takes ownership of `content`, which may be null.
    SettingRow(const QString &title, const std::optional<QString> &detail, QWidget *content,
               QWidget *parent = nullptr);

    TextBlock *titleText() const { return m_title; }
    // Null when the row has no detail.
    TextBlock *detailText() const { return m_detail; }
    QWidget *content() const { return m_content; }

private:
    TextBlock *m_title;
    TextBlock *m_detail = nullptr;
    QWidget *m_content;
};

// A hairline in the palette's line colour, as wide as it is given.
class Divider2 final : public QWidget {
    Q_OBJECT
public:
    explicit Divider2(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
