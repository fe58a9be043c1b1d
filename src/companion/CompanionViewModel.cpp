#include "companion/CompanionViewModel.h"

void CompanionViewModel::setPose(const CompanionPose &pose)
{
    if (pose == m_pose)
        return;
    m_pose = pose;
    Q_EMIT poseChanged();
}

void CompanionViewModel::setBubble(const std::optional<QString> &text)
{
    if (text == m_bubble)
        return;
    m_bubble = text;
    Q_EMIT bubbleChanged();
}

void CompanionViewModel::setVariant(const CompanionVariant &variant)
{
    if (variant == m_variant)
        return;
    m_variant = variant;
    Q_EMIT variantChanged();
}

void CompanionViewModel::setNestFrame(const std::optional<QRectF> &frame)
{
    const bool same = frame.has_value() == m_nestFrame.has_value() && (!frame || sameRect(*frame, *m_nestFrame));
    if (same)
        return;
    m_nestFrame = frame;
    Q_EMIT nestFrameChanged();
}

void CompanionViewModel::setFilmPaused(bool paused)
{
    if (paused == m_filmPaused)
        return;
    m_filmPaused = paused;
    Q_EMIT filmPausedChanged();
}
