#pragma once

#include "companion/CompanionVariant.h"
#include "web/InWindowCatStage.h"

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QTransform>
#include <QWidget>

#include <QRectF>

#include <memory>
#include <optional>
#include <utility>

class FilmedFigure;

// Draws the in-window cat over the web page: the cat sitting on a page
// element, the figure that flies, poses or carries a card, and the caption
// beside it. It covers the page exactly and never takes the mouse, so the
// page stays usable underneath.
class InWindowCatLayer final : public QWidget {
    Q_OBJECT
public:
    InWindowCatLayer(InWindowCatStage *stage, QWidget *parent = nullptr);
    ~InWindowCatLayer() override;

    // The chosen look; also tells the stage what the window can draw of it.
    void setVariant(const CompanionVariant &variant);
    const CompanionVariant &variant() const { return m_variant; }

    // The look's picture of a pose, read once per look and kept; none for the
    // drawn look or a missing file (looked for again next time).
    static std::optional<QImage> image(InWindowCatStage::Look look, const CompanionVariant &variant);
    // The clip the cat sits with: "perch", else "idle", else any.
    static std::optional<CompanionClip> sittingClip(const CompanionVariant &variant);

    // Where the figure of `size` stands at `progress` along its arc: a
    // transform from the figure's own frame (origin top-left) to the page.
    static QTransform arcPlacement(const InWindowCatStage::Actor &actor, QSizeF size, double progress, bool tilts);
    // The top-left corner of a caption bubble of `bubble` size beside the cat's
    // frame, kept 8 points inside the page.
    static QPointF captionOrigin(QSizeF bubble, const QRectF &cat, QSizeF page);
    // The frame of the visible cat that the caption goes beside; none when no
    // cat can be drawn.
    std::optional<QRectF> catFrame() const;
    // The bubble's size for a text, broken into lines as it is drawn in a
    // window of `direction` (a mixed line can break otherwise in the other).
    static QSizeF bubbleSize(const QString &text, Qt::LayoutDirection direction);

    // Nothing on the layer: no cat, no caption, nothing fading out.
    bool blank() const;

    // The layer's own redraw clock, for tests: running only while something on it moves.
    const QTimer &frameClock() const { return m_frames; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void stageChanged();
    // The drawn value of the actor's progress and opacity, eased in time.
    std::pair<double, double> drawnProgressAndOpacity() const;
    // Milliseconds until the layer must be drawn again by itself; none while
    // nothing on it moves.
    std::optional<int> nextFrameMs() const;
    void schedule();

    QPointer<InWindowCatStage> m_stage;
    CompanionVariant m_variant;
    std::unique_ptr<FilmedFigure> m_figure;
    QTimer m_frames{this};
    // The fades of the sitting cat and the caption, on the clock's uptime.
    double m_perchedSince = -1;
    double m_captionSince = -1;
    // The words drawn last and where; the ones fading out since `m_leftSince`.
    std::optional<std::pair<QString, QRectF>> m_shown, m_leaving;
    double m_leftSince = -1;
    // Where the cat sat last, fading out since `m_unperchedSince` once it got up.
    std::optional<QRectF> m_sat;
    double m_unperchedSince = -1;
};
