#pragma once

#include <QObject>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>

// The cat drawn over the web page inside the workspace window. The web workspace
// owns one and drives it from the page's scene and mood messages; the workspace
// screen draws what it publishes. Its scenes are not choreographed yet: until
// they are, it takes no actor and no perch, so it never counts as occupied and
// every line goes to the desktop cat.
class InWindowCatStage : public QObject {
    Q_OBJECT
public:
    enum class Look { leap, happy, curious, concerned, sleepy, sit };
    static std::optional<Look> lookFromRaw(const QString &raw);
    static QString rawValue(Look look);

    // The cat's current flight or pose, in the page's coordinates.
    struct Actor {
        Look look = Look::sit;
        QRectF frame;
        friend bool operator==(const Actor &, const Actor &) = default;
    };

    explicit InWindowCatStage(QObject *parent = nullptr);
    ~InWindowCatStage() override;

    // Shows a caption beside the cat for `seconds`; true only while the stage is
    // occupied, false (and nothing shown) otherwise.
    virtual bool say(const QString &text, double seconds);
    // Plays the cat in `look` for `seconds` inside a page of `page` size, unless
    // it is perched.
    virtual void show(Look look, QSizeF page, double seconds);
    // The cat comes onto the composer sheet's top edge and perches there; sheets
    // 80 points wide or less are ignored.
    virtual void composerOpened(std::optional<QRectF> from, std::optional<QRectF> sheet, QSizeF page);
    virtual void sheetMoved(std::optional<QRectF> sheet);
    virtual void visit(std::optional<QRectF> from, std::optional<QRectF> target, QSizeF page);
    // "plan", "scheduled" and "published" carry a card to the plan; anything else
    // makes the cat hop away.
    virtual void composerClosed(const QString &outcome, std::optional<QRectF> plan, std::optional<QRectF> sheet,
                                QSizeF page);
    // Cancels the scene and the caption, removes actor, perch and caption.
    virtual void clear();

    bool occupied() const { return m_actor.has_value() || m_perch.has_value(); }
    const std::optional<Actor> &actor() const { return m_actor; }
    const std::optional<QRectF> &perch() const { return m_perch; }
    const QString &caption() const { return m_caption; }

    // Set by the web workspace: runs the page's pulse for a screen name. The
    // stage calls it with "planner" when a carried card lands on the plan.
    std::function<void(const QString &name)> pulse;

signals:
    void actorChanged();
    void perchChanged();
    void captionChanged();

protected:
    void setActor(std::optional<Actor> actor);
    void setPerch(std::optional<QRectF> perch);
    void setCaption(const QString &caption);

private:
    std::optional<Actor> m_actor;
    std::optional<QRectF> m_perch;
    QString m_caption;
};
