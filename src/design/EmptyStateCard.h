#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class StyledButton;
class TextBlock;

// What a screen shows when it has nothing yet: a symbol tile, a title, a muted
// detail and, only when both a title and an action are given, one primary button.
class EmptyStateCard final : public QWidget {
    Q_OBJECT
public:
    EmptyStateCard(const QString &symbol, const QString &title, const QString &detail,
                   const std::optional<QString> &actionTitle = std::nullopt, std::function<void()> action = {},
                   QWidget *parent = nullptr);

    QString symbol() const { return m_symbol; }
    TextBlock *titleText() const { return m_title; }
    TextBlock *detailText() const { return m_detail; }
    // Null when the card has no button.
    StyledButton *actionButton() const { return m_button; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    TextBlock *m_title;
    TextBlock *m_detail;
    StyledButton *m_button = nullptr;
    std::function<void()> m_action;
};
