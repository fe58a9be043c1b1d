#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPainterPath>
#include <QSize>
#include <QWidget>

#include <memory>

class AppModel;
class QMenu;
class PressAnimator;
struct FocusSession;

// The small clock face of a running focus round: the phase and the time left
// of the model's focus session, with pause, resume and end controls. Full mode
// shows the phase and, while the pointer is over it, the controls; compact
// mode only the time, and a tap on it pauses or resumes.
class FocusTimerView final : public QWidget {
    Q_OBJECT

public:
    // The clock's own colours, the same in light and dark appearance.
    static const QColor caseTop;
    static const QColor caseBottom;
    static const QColor face;
    static const QColor digits;
    static const QColor label;

    struct Metrics {
        QSize size;
        double caseRadius;
        double faceRadius;
        double faceInsetX;
        double faceInsetY;
        double digitSize;
    };
    static Metrics metrics(bool compact);

    FocusTimerView(AppModel &model, bool compact, QWidget *parent = nullptr);
    ~FocusTimerView() override;

    bool compact() const { return m_compact; }
    bool hovering() const { return m_hovering; }
    // The case's rounded rectangle, where the face answers the pointer.
    QPainterPath hitArea() const;

    // "Focus", "Break" or "Paused", in the user's language.
    static QString phaseTitle(const FocusSession &session);
    // Working or resting pauses in place; paused resumes; idle stays idle.
    static void togglePause(AppModel &model);

    // A press and release on the face that did not move the panel.
    void tap(QPoint at);
    // The menu of a secondary click, made afresh for the current phase.
    std::unique_ptr<QMenu> makeContextMenu();

    QAbstractButton *pauseButton() const { return m_pauseButton; }
    QAbstractButton *endButton() const { return m_endButton; }
    // 0 hidden, 1 shown; eased in and out with the hover.
    double controlsOpacity() const { return m_controlsOpacity; }

    QSize sizeHint() const override { return metrics(m_compact).size; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void setHovering(bool hovering);
    void setControlsOpacity(double opacity);
    void focusChanged();
    void placeControls();
    QRectF caseRect() const;
    QRectF faceRect() const;

    AppModel &m_model;
    bool m_compact;
    bool m_hovering = false;
    double m_controlsOpacity = 0;
    PressAnimator *m_fade = nullptr;
    QAbstractButton *m_pauseButton = nullptr;
    QAbstractButton *m_endButton = nullptr;
};
