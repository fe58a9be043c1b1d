#pragma once

#include "design/TextBlock.h"

// The small capitals line above a title: upper-cased the same way in every
// language, 11 semibold, letter-spaced 2.2 except in Arabic, muted.
class Eyebrow final : public TextBlock {
    Q_OBJECT
public:
    explicit Eyebrow(const QString &text, QWidget *parent = nullptr);
    void setEyebrowText(const QString &text);

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyFont();
};

// A screen's heading: an eyebrow, then the title in the serif display face.
class ScreenTitle final : public QWidget {
    Q_OBJECT
public:
    ScreenTitle(const QString &eyebrow, const QString &title, QWidget *parent = nullptr);

    Eyebrow *eyebrow() const { return m_eyebrow; }
    TextBlock *title() const { return m_title; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyFont();

    Eyebrow *m_eyebrow;
    TextBlock *m_title;
};
