#include "web/InWindowCatStage.h"

#include <QPointer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <utility>

namespace {
constexpr std::array<std::pair<InWindowCatStage::Look, const char *>, 6> kLooks{{
    {InWindowCatStage::Look::leap, "leap"},
    {InWindowCatStage::Look::happy, "happy"},
    {InWindowCatStage::Look::curious, "curious"},
    {InWindowCatStage::Look::concerned, "concerned"},
    {InWindowCatStage::Look::sleepy, "sleepy"},
    {InWindowCatStage::Look::sit, "sit"},
}};

std::chrono::milliseconds ms(double seconds)
{
    return std::chrono::milliseconds(std::llround(std::max(seconds, 0.0) * 1000.0));
}

// Elements this narrow are no place to sit.
bool wideEnough(const std::optional<QRectF> &rect) { return rect && rect->width() > 80; }

double facingFrom(QPointF from, QPointF to) { return from.x() <= to.x() ? 1 : -1; }

QPointF topMiddle(const QRectF &rect) { return {rect.center().x(), rect.top()}; }
} // namespace

std::optional<InWindowCatStage::Look> InWindowCatStage::lookFromRaw(const QString &raw)
{
    for (const auto &[look, name] : kLooks) {
        if (raw == QLatin1String(name))
            return look;
    }
    return std::nullopt;
}

QString InWindowCatStage::rawValue(Look look)
{
    for (const auto &[l, name] : kLooks) {
        if (l == look)
            return QString::fromLatin1(name);
    }
    return {};
}

QPointF InWindowCatStage::sittingPoint(const QRectF &element)
{
    return {element.right() - std::min(0.22 * element.width(), 110.0), element.top()};
}

InWindowCatStage::InWindowCatStage(QObject *parent) : QObject(parent) {}
InWindowCatStage::~InWindowCatStage() = default;

// ---- Words

bool InWindowCatStage::say(const QString &text, double seconds)
{
    if (!occupied())
        return false;
    const Caption caption{QUuid::createUuid(), text};
    setCaption(caption);
    m_captionEnds = Clock::shared().uptime() + std::max(seconds, 0.0);
    QPointer<InWindowCatStage> self(this);
    m_captionTimer = Clock::shared().after(ms(seconds), [self, caption] {
        if (self && self->m_caption == caption)
            self->setCaption(std::nullopt);
    });
    return true;
}

std::optional<InWindowCatStage::TakenCaption> InWindowCatStage::takeCaption()
{
    if (!m_caption || !m_captionEnds)
        return std::nullopt;
    const QString text = m_caption->text;
    setCaption(std::nullopt);
    m_captionTimer.reset();
    const double remaining = *m_captionEnds - Clock::shared().uptime();
    if (remaining > 1.0)
        return TakenCaption{text, remaining};
    return std::nullopt;
}

// ---- Scenes

bool InWindowCatStage::drawable(std::initializer_list<Look> looks, bool perches) const
{
    if (perches && !(canPerch && canPerch()))
        return false;
    return std::all_of(looks.begin(), looks.end(), [this](Look look) { return canDraw && canDraw(look); });
}

void InWindowCatStage::begin(QSizeF page)
{
    m_scene.reset();
    m_steps.clear();
    m_size = page;
}

void InWindowCatStage::run(std::vector<Step> steps)
{
    m_steps = std::move(steps);
    std::reverse(m_steps.begin(), m_steps.end());
    next();
}

void InWindowCatStage::next()
{
    while (!m_steps.empty()) {
        Step step = std::move(m_steps.back());
        m_steps.pop_back();
        if (step.change)
            step.change();
        if (step.seconds > 0) {
            m_scene = Clock::shared().after(ms(step.seconds), [this] { next(); });
            return;
        }
    }
    m_scene.reset();
}

InWindowCatStage::Step InWindowCatStage::animate(Motion::Property property, double to, double seconds)
{
    return {[this, property, to, seconds] {
                if (!m_actor)
                    return;
                Actor changed = *m_actor;
                double &value = property == Motion::Property::progress ? changed.progress : changed.opacity;
                m_motion = Motion{property, value, Clock::shared().uptime(), seconds};
                value = to;
                setActor(changed);
            },
            seconds};
}

InWindowCatStage::Step InWindowCatStage::pause(double seconds) { return {{}, seconds}; }

InWindowCatStage::Step InWindowCatStage::removeActor()
{
    return {[this] { setActor(std::nullopt); }, 0};
}

std::vector<InWindowCatStage::Step> InWindowCatStage::hopAway(QPointF from, QSizeF page)
{
    const QPointF to(std::min(from.x() + 220, page.width() - 60), page.height() + 90);
    return {{[this, from, to] { setActor(Actor{Look::leap, from, to, 0, 60, 70, 1, false, 1}); }, 0},
            animate(Motion::Property::progress, 1, 0.6), removeActor()};
}

void InWindowCatStage::show(Look look, QSizeF page, double seconds)
{
    if (m_perch || !drawable({look}, false))
        return;
    begin(page);
    const double h = page.height();
    setActor(Actor{look, {150, h - 6 + 130}, {150, h - 6}, 0, 0, 128, 1, false, 1});
    run({animate(Motion::Property::progress, 1, 0.45), pause(seconds), animate(Motion::Property::progress, 0, 0.4),
         removeActor()});
}

void InWindowCatStage::composerOpened(std::optional<QRectF> from, std::optional<QRectF> sheet, QSizeF page)
{
    if (!wideEnough(sheet) || !drawable({Look::leap}, true))
        return;
    begin(page);
    setPerch(sheet);
    setPerched(false);
    const QPointF start = from ? topMiddle(*from) : QPointF(page.width() - 120, page.height() + 40);
    const QPointF end = sittingPoint(*sheet);
    setActor(Actor{Look::leap, start, end, 0, 78, 74, facingFrom(start, end), false, 1});
    run({animate(Motion::Property::progress, 1, 0.62), {[this] {
                                                             setPerched(true);
                                                             setActor(std::nullopt);
                                                         },
                                                         0}});
}

void InWindowCatStage::sheetMoved(std::optional<QRectF> sheet)
{
    if (m_perch && wideEnough(sheet))
        setPerch(sheet);
}

void InWindowCatStage::visit(std::optional<QRectF> from, std::optional<QRectF> target, QSizeF page)
{
    if (m_perch || !wideEnough(target) || !drawable({Look::leap}, true))
        return;
    begin(page);
    const QPointF start = from ? topMiddle(*from) : QPointF(90, page.height() * 0.5);
    const QRectF element = *target;
    const QPointF end = sittingPoint(element);
    setActor(Actor{Look::leap, start, end, 0, 78, 74, facingFrom(start, end), false, 1});
    std::vector<Step> steps{animate(Motion::Property::progress, 1, 0.62),
                            {[this, element] {
                                 setPerch(element);
                                 setPerched(true);
                                 setActor(std::nullopt);
                             },
                             4.5},
                            {[this] {
                                 setPerch(std::nullopt);
                                 setPerched(false);
                             },
                             0}};
    for (Step &step : hopAway(end, page))
        steps.push_back(std::move(step));
    run(std::move(steps));
}

void InWindowCatStage::composerClosed(const QString &outcome, std::optional<QRectF> plan, std::optional<QRectF> sheet,
                                      QSizeF page)
{
    const QRectF leaving = sheet   ? *sheet
                           : m_perch ? *m_perch
                                     : QRectF(page.width() / 2 - 200, page.height() / 2 - 200, 400, 400);
    const QPointF s = sittingPoint(leaving);
    const bool toPlan = (outcome == QLatin1String("plan") || outcome == QLatin1String("scheduled")) && plan;
    const bool published = outcome == QLatin1String("published");
    begin(page);
    setPerch(std::nullopt);
    setPerched(false);
    // A look the window cannot draw leaves without a scene.
    const bool canPlay = toPlan ? drawable({Look::leap, Look::sit}, false)
                                : drawable({Look::leap, published ? Look::happy : Look::leap}, false);
    if (!canPlay) {
        setActor(std::nullopt);
        return;
    }
    setActor(Actor{Look::leap, s, s, 1, 0, 70, 1, false, 1});
    if (toPlan) {
        const QPointF q(plan->right() - 34, plan->top() + 6);
        run({{[this, s, q] { setActor(Actor{Look::leap, s, q, 0, 120, 66, facingFrom(s, q), true, 1}); }, 0},
             animate(Motion::Property::progress, 1, 0.78),
             {[this, q] {
                  if (pulse)
                      pulse(QStringLiteral("planner"));
                  setActor(Actor{Look::sit, q, q, 1, 0, 64, 1, false, 1});
              },
              1.5},
             animate(Motion::Property::opacity, 0, 0.35), removeActor()});
    } else if (published) {
        const QPointF a(s.x(), s.y() + 100), b(s.x(), s.y() + 60);
        run({{[this, a, b] { setActor(Actor{Look::happy, a, b, 0, 46, 120, 1, false, 1}); }, 0},
             animate(Motion::Property::progress, 1, 0.5), pause(2.2), animate(Motion::Property::opacity, 0, 0.4),
             removeActor()});
    } else {
        run(hopAway(s, page));
    }
}

void InWindowCatStage::clear()
{
    m_scene.reset();
    m_steps.clear();
    setActor(std::nullopt);
    setPerch(std::nullopt);
    setPerched(false);
    setCaption(std::nullopt);
    m_captionTimer.reset();
}

// ---- State changes

void InWindowCatStage::setActor(std::optional<Actor> actor)
{
    if (m_actor == actor)
        return;
    // A new placement is drawn where it stands, not eased from the last one.
    if (!actor || !m_actor || actor->look != m_actor->look || actor->from != m_actor->from ||
        actor->to != m_actor->to)
        m_motion.reset();
    m_actor = std::move(actor);
    emit actorChanged();
}

void InWindowCatStage::setPerch(std::optional<QRectF> perch)
{
    if (m_perch == perch)
        return;
    m_perch = std::move(perch);
    emit perchChanged();
}

void InWindowCatStage::setPerched(bool perched)
{
    if (m_perched == perched)
        return;
    m_perched = perched;
    emit perchedChanged();
}

void InWindowCatStage::setCaption(std::optional<Caption> caption)
{
    if (m_caption == caption)
        return;
    m_caption = std::move(caption);
    emit captionChanged();
}
