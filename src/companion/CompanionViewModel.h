#pragma once

#include "companion/CompanionTypes.h"
#include "companion/CompanionVariant.h"

#include <QObject>
#include <QRectF>
#include <QString>

#include <optional>

// What the cat's panels draw: the pose, the speech bubble's text, the look, the
// focus timer's frame and whether a filmed look is paused. Each property tells
// its change only when the value really changes.
class CompanionViewModel : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const CompanionPose &pose() const { return m_pose; }
    const std::optional<QString> &bubble() const { return m_bubble; }
    const CompanionVariant &variant() const { return m_variant; }
    const std::optional<QRectF> &nestFrame() const { return m_nestFrame; }
    bool filmPaused() const { return m_filmPaused; }

    void setPose(const CompanionPose &pose);
    void setBubble(const std::optional<QString> &text);
    void setVariant(const CompanionVariant &variant);
    void setNestFrame(const std::optional<QRectF> &frame);
    void setFilmPaused(bool paused);

Q_SIGNALS:
    void poseChanged();
    void bubbleChanged();
    void variantChanged();
    void nestFrameChanged();
    void filmPausedChanged();

private:
    CompanionPose m_pose;
    std::optional<QString> m_bubble;
    CompanionVariant m_variant = CompanionVariant::drawn();
    std::optional<QRectF> m_nestFrame;
    bool m_filmPaused = false;
};
