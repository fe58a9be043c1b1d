#pragma once

#include "base/Clock.h"

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The cat drawn over the web page inside the workspace window: what is on
// stage (one flying or posing figure, or the cat sitting on a page element),
// the words beside it, and the one choreography that runs. The web workspace
// owns one and drives it from the page's scene and mood messages; the layer
// over the page draws what it publishes. Page coordinates: points from the web
// view's top-left corner, y downward.
//
// A scene is taken only when the chosen look can be drawn in the window: the
// pictures of the poses it shows, and the sitting clip when it perches. A look
// that cannot be drawn leaves the stage empty, so the cat is never counted as
// in the window while nothing shows there, and every line goes to the desktop.
class InWindowCatStage : public QObject {
    Q_OBJECT
public:
    enum class Look { leap, happy, curious, concerned, sleepy, sit };
    static std::optional<Look> lookFromRaw(const QString &raw);
    static QString rawValue(Look look);

    // One flight or pose of the figure; positions are its bottom centre.
    struct Actor {
        Look look = Look::sit;
        QPointF from;
        QPointF to;
        double progress = 0; // along the path, 0 at `from`, 1 at `to`
        double lift = 0;     // the arc's control point above the higher end
        double height = 0;   // drawn height; the width follows the picture
        double facing = 1;   // -1 mirrors the picture
        bool carrying = false;
        double opacity = 1;
        friend bool operator==(const Actor &, const Actor &) = default;
    };

    struct Caption {
        QUuid id;
        QString text;
        friend bool operator==(const Caption &, const Caption &) = default;
    };

    // The change of `progress` or `opacity` under way: the layer eases the
    // drawn value from `from` to the actor's value over `duration` seconds
    // from `began` (the clock's uptime).
    struct Motion {
        enum class Property { progress, opacity };
        Property property = Property::progress;
        double from = 0;
        double began = 0;
        double duration = 0;
    };

    struct TakenCaption {
        QString text;
        double remaining = 0;
    };

    explicit InWindowCatStage(QObject *parent = nullptr);
    ~InWindowCatStage() override;

    // Whether the window can draw a pose, and the cat sitting on an element.
    // Unset, nothing can be drawn.
    std::function<bool(Look)> canDraw;
    std::function<bool()> canPerch;

    // Shows a caption beside the cat for `seconds`; true only while the stage is
    // occupied, false (and nothing shown) otherwise.
    virtual bool say(const QString &text, double seconds);
    // The words still showing, with more than a second left, handed back (to the
    // desktop cat); the caption goes either way.
    std::optional<TakenCaption> takeCaption();

    // The scenes. Each cancels the running one first, unless its guard refuses
    // the call.
    // A pose rising from the bottom edge for `seconds`; ignored while perched.
    virtual void show(Look look, QSizeF page, double seconds);
    // A leap onto the composer sheet, where the cat then sits; sheets 80 points
    // wide or less are ignored.
    virtual void composerOpened(std::optional<QRectF> from, std::optional<QRectF> sheet, QSizeF page);
    // The sitting cat follows its sheet.
    virtual void sheetMoved(std::optional<QRectF> sheet);
    // A visit to the assistant panel: leap, sit 4.5 s, hop away.
    virtual void visit(std::optional<QRectF> from, std::optional<QRectF> target, QSizeF page);
    // "plan" and "scheduled" carry a card to the plan, "published" celebrates,
    // anything else makes the cat hop away.
    virtual void composerClosed(const QString &outcome, std::optional<QRectF> plan, std::optional<QRectF> sheet,
                                QSizeF page);
    // Cancels the scene and the caption; removes actor, perch and caption.
    virtual void clear();

    bool occupied() const { return m_actor.has_value() || m_perch.has_value(); }
    const std::optional<Actor> &actor() const { return m_actor; }
    const std::optional<QRectF> &perch() const { return m_perch; }
    bool perched() const { return m_perched; }
    const std::optional<Caption> &caption() const { return m_caption; }
    const std::optional<Motion> &motion() const { return m_motion; }
    QSizeF size() const { return m_size; }
    bool sceneRunning() const { return m_scene != nullptr; }

    // Set by the web workspace: runs the page's pulse for an area name. Called
    // with "planner" when a carried card lands on the plan.
    std::function<void(const QString &name)> pulse;

    // Where the cat sits on an element: on its top edge, 22 % of its width in
    // from the right, at most 110 points.
    static QPointF sittingPoint(const QRectF &element);

signals:
    void actorChanged();
    void perchChanged();
    void perchedChanged();
    void captionChanged();

protected:
    void setActor(std::optional<Actor> actor);
    void setPerch(std::optional<QRectF> perch);
    void setPerched(bool perched);
    void setCaption(std::optional<Caption> caption);

private:
    struct Step {
        std::function<void()> change;
        double seconds = 0;
    };
    bool drawable(std::initializer_list<Look> looks, bool perches) const;
    // Cancels the running scene and keeps the page size.
    void begin(QSizeF page);
    // Runs the steps one after another: each change, then its wait.
    void run(std::vector<Step> steps);
    void next();
    // An eased change of the actor's progress or opacity, then a wait as long.
    Step animate(Motion::Property property, double to, double seconds);
    static Step pause(double seconds);
    Step removeActor();
    std::vector<Step> hopAway(QPointF from, QSizeF page);

    std::optional<Actor> m_actor;
    std::optional<QRectF> m_perch;
    bool m_perched = false;
    std::optional<Caption> m_caption;
    std::optional<double> m_captionEnds; // on the clock's uptime
    std::unique_ptr<Clock::Timer> m_captionTimer;
    std::optional<Motion> m_motion;
    QSizeF m_size;
    std::vector<Step> m_steps;
    std::unique_ptr<Clock::Timer> m_scene;
};
