#pragma once

#include "companion/CompanionCanvas.h"
#include "companion/FilmedFigure.h"

// Draws a filmed look on the desktop panels: one figure (its reels decoded once)
// shared by every panel of the controller.
class FilmedPainter final : public FilmedFigurePainter {
public:
    explicit FilmedPainter(std::shared_ptr<ClipSource> source = nullptr) : m_figure(std::move(source))
    {
        // A clip that becomes ready later replaces the one on screen only when
        // the panels paint again, and a held clip gives them no other reason to.
        m_figure.shownChanged = [this] {
            if (repaint)
                repaint();
        };
    }

    // Asks the panels for a new paint; set by the owner.
    std::function<void()> repaint;

    void paint(QPainter &painter, const CompanionVariant &variant, const FilmedPlacement &placement,
               const QRectF &frame, bool paused) override
    {
        m_figure.draw(painter, variant, placement.clip, frame, placement.mirrored, placement.tilt, paused);
    }

    qint64 pictureShown() override { return m_figure.pictureShown(); }

    void prepare(const CompanionVariant &variant, const FilmedPlacement &placement, bool paused) override
    {
        m_figure.load(variant);
        m_figure.show(placement.clip, placement.mirrored, placement.tilt, paused);
    }

    FilmedFigure &figure() { return m_figure; }

private:
    FilmedFigure m_figure;
};
