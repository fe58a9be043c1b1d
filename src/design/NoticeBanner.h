#pragma once

#include "design/AppNotice.h"
#include "design/ZephylPalette.h"

#include <QStringList>
#include <QWidget>

// Shows one notice: an icon and at most two lines of text on the tone's soft
// colour, always 40 high. It only draws; whoever owns the current notice decides
// when to replace or clear it.
class NoticeBanner final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 40;
    static constexpr int kMaxLines = 2;

    explicit NoticeBanner(const AppNotice &notice, QWidget *parent = nullptr);

    const AppNotice &notice() const { return m_notice; }
    void setNotice(const AppNotice &notice);

    QString symbol() const;
    ZephylPalette::Color foregroundColor() const;
    ZephylPalette::Color fillColor() const;
    // The text lines shown at the current width.
    QStringList visibleLines() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double textWidth() const;

    AppNotice m_notice;
};
