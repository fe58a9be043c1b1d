#include "workspace/InWindowCatLayer.h"

#include "base/Clock.h"
#include "companion/CompanionTypes.h"
#include "companion/FilmedFigure.h"
#include "companion/LookPicture.h"
#include "companion/ShadowPainter.h"
#include "design/DesignFonts.h"
#include "design/PaletteColors.h"
#include "design/PressAnimator.h"
#include "design/TextBlock.h"

#include <QEasingCurve>
#include <QHash>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kBubbleWidth = 250;
constexpr int kBubbleLines = 5;
constexpr double kBubbleLineSpacing = 1.5;
constexpr double kFade = 0.2;

QHash<QString, QImage> &pictureCache()
{
    static QHash<QString, QImage> cache;
    return cache;
}

double eased(double t)
{
    static const QEasingCurve curve = [] {
        QEasingCurve c(QEasingCurve::BezierSpline);
        c.addCubicBezierSegment(QPointF(0.3, 0), QPointF(0.3, 1), QPointF(1, 1));
        return c;
    }();
    return curve.valueForProgress(std::clamp(t, 0.0, 1.0));
}

QFont bubbleFont() { return DesignFonts::rounded(13, DesignFonts::Weight::medium); }

double fadeIn(double since)
{
    if (since < 0)
        return 1;
    return easeOutProgress((Clock::shared().uptime() - since) / kFade);
}

void paintCard(QPainter &p)
{
    p.save();
    p.rotate(-8);
    const QRectF card(-13, -16, 26, 32);
    QPainterPath shape;
    shape.addRoundedRect(card, 5, 5);
    p.setPen(Qt::NoPen);
    ShadowPainter::paint(p, card, 0, {{QColor(0, 0, 0, 64), 5, {0, 3}}}, [&](QPainter &q) {
        q.fillPath(shape, QColor(255, 254, 252));
        const auto bar = [&q](double y, double w, double h, double r, QColor c) {
            QPainterPath path;
            path.addRoundedRect(QRectF(-w / 2, y, w, h), r, r);
            q.fillPath(path, c);
        };
        // A picture block over two text lines, stacked with 3 points between.
        const double top = -(10 + 3 + 2 + 3 + 2) / 2.0;
        bar(top, 16, 10, 2, QColor(192, 138, 38));
        bar(top + 13, 16, 2, 1, QColor(32, 31, 28, int(0.35 * 255)));
        bar(top + 18, 12, 2, 1, QColor(32, 31, 28, int(0.20 * 255)));
    });
    p.restore();
}

} // namespace

InWindowCatLayer::InWindowCatLayer(InWindowCatStage *stage, QWidget *parent)
    : QWidget(parent), m_stage(stage), m_variant(CompanionVariant::drawn()), m_figure(std::make_unique<FilmedFigure>())
{
    // Never in the way of the page.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    connect(&m_frames, &QTimer::timeout, this, [this] {
        update();
        schedule();
    });
    m_figure->shownChanged = [this] {
        update();
        schedule();
    };
    if (m_stage) {
        connect(m_stage, &InWindowCatStage::perchedChanged, this, [this] {
            const double now = Clock::shared().uptime();
            m_perchedSince = m_stage->perched() ? now : -1;
            // Getting up, the sitting cat fades where it sat.
            m_unperchedSince = !m_stage->perched() && m_sat ? now : -1;
        });
        connect(m_stage, &InWindowCatStage::captionChanged, this, [this] {
            const double now = Clock::shared().uptime();
            // The words shown last leave with the same fade they came in with.
            m_leaving = std::exchange(m_shown, std::nullopt);
            m_leftSince = m_leaving ? now : -1;
            m_captionSince = m_stage->caption() ? now : -1;
        });
        // After the fades above have their start, so the frames run for them.
        for (auto signal : {&InWindowCatStage::actorChanged, &InWindowCatStage::perchChanged,
                            &InWindowCatStage::perchedChanged, &InWindowCatStage::captionChanged})
            connect(m_stage, signal, this, &InWindowCatLayer::stageChanged);
    }
    setVariant(m_variant);
}

InWindowCatLayer::~InWindowCatLayer() = default;

void InWindowCatLayer::setVariant(const CompanionVariant &variant)
{
    m_variant = variant;
    if (m_stage) {
        QPointer<InWindowCatLayer> self(this);
        m_stage->canDraw = [self](InWindowCatStage::Look look) {
            return self && image(look, self->m_variant).has_value();
        };
        m_stage->canPerch = [self] { return self && sittingClip(self->m_variant).has_value(); };
    }
    // A sitting cat of the new look may be a film.
    stageChanged();
}

std::optional<QImage> InWindowCatLayer::image(InWindowCatStage::Look look, const CompanionVariant &variant)
{
    if (!variant.folder)
        return std::nullopt;
    const QString word = InWindowCatStage::rawValue(look);
    const QString key = variant.id + u'/' + word;
    auto &cache = pictureCache();
    if (const auto found = cache.constFind(key); found != cache.constEnd())
        return *found;
    const QImage picture = LookPicture::load(*variant.folder + u'/' + word + QStringLiteral(".png"));
    if (picture.isNull())
        return std::nullopt;
    cache.insert(key, picture);
    return picture;
}

std::optional<CompanionClip> InWindowCatLayer::sittingClip(const CompanionVariant &variant)
{
    if (!variant.folder)
        return std::nullopt;
    return variant.clip(CompanionState::perch);
}

QTransform InWindowCatLayer::arcPlacement(const InWindowCatStage::Actor &actor, QSizeF size, double progress,
                                          bool tilts)
{
    const double t = std::clamp(progress, 0.0, 1.0);
    const QPointF a = actor.from, b = actor.to;
    const QPointF m((a.x() + b.x()) / 2, std::min(a.y(), b.y()) - actor.lift);
    const double u = 1 - t;
    const double x = a.x() * u * u + 2 * m.x() * t * u + b.x() * t * t;
    const double y = a.y() * u * u + 2 * m.y() * t * u + b.y() * t * t;
    const double w = size.width(), h = size.height();
    if (!tilts || actor.lift <= 0)
        return QTransform::fromTranslate(x - w / 2, y - h);
    const double dx = 2 * u * (m.x() - a.x()) + 2 * t * (b.x() - m.x());
    const double dy = 2 * u * (m.y() - a.y()) + 2 * t * (b.y() - m.y());
    double angle = std::clamp(std::atan2(dy, std::max(std::abs(dx), 0.001)), -0.49, 0.49);
    if (actor.facing < 0)
        angle = -angle;
    QTransform rotation;
    rotation.rotateRadians(angle);
    return QTransform::fromTranslate(-w / 2, -h / 2) * rotation * QTransform::fromTranslate(x, y - h / 2);
}

QPointF InWindowCatLayer::captionOrigin(QSizeF s, const QRectF &c, QSizeF p)
{
    const bool left = s.width() + 12 <= c.left() || (p.width() - c.right()) < c.left();
    double x = left ? c.left() + 6 - s.width() : c.right() - 6;
    double y = c.top() + 0.4 * c.height() - s.height() / 2;
    x = std::min(std::max(x, 8.0), std::max(p.width() - s.width() - 8, 8.0));
    y = std::min(std::max(y, 8.0), std::max(p.height() - s.height() - 8, 8.0));
    return {x, y};
}

QSizeF InWindowCatLayer::bubbleSize(const QString &text, Qt::LayoutDirection direction)
{
    const QFont font = bubbleFont();
    const QStringList lines = TextBlock::layoutLines(text, font, kBubbleWidth, kBubbleLines, direction);
    double width = 0;
    for (const QString &line : lines)
        width = std::max(width, DesignFonts::lineExtent(font, line).width());
    const double lineHeight = DesignFonts::lineExtent(font, text).height();
    const double height = lines.size() * lineHeight + std::max<qsizetype>(lines.size() - 1, 0) * kBubbleLineSpacing;
    return {std::ceil(std::min(width, kBubbleWidth)) + 28, std::ceil(height) + 20};
}

std::optional<QRectF> InWindowCatLayer::catFrame() const
{
    if (!m_stage)
        return std::nullopt;
    if (m_stage->perched() && m_stage->perch()) {
        if (const auto clip = sittingClip(m_variant)) {
            const QPointF p = InWindowCatStage::sittingPoint(*m_stage->perch());
            const double w = clip->drawnWidth();
            return QRectF(p.x() - w / 2, m_stage->perch()->top() - clip->height * clip->floor, w,
                          clip->height * clip->floor);
        }
    }
    if (const auto &actor = m_stage->actor()) {
        if (const auto picture = image(actor->look, m_variant)) {
            const double w = actor->height * picture->width() / std::max(picture->height(), 1);
            return QRectF(actor->to.x() - w / 2, actor->to.y() - actor->height, w, actor->height);
        }
    }
    return std::nullopt;
}

std::pair<double, double> InWindowCatLayer::drawnProgressAndOpacity() const
{
    const auto &actor = *m_stage->actor();
    double progress = actor.progress, opacity = actor.opacity;
    if (const auto &motion = m_stage->motion(); motion && motion->duration > 0) {
        const double t = eased((Clock::shared().uptime() - motion->began) / motion->duration);
        if (motion->property == InWindowCatStage::Motion::Property::progress)
            progress = motion->from + (actor.progress - motion->from) * t;
        else
            opacity = motion->from + (actor.opacity - motion->from) * t;
    }
    return {progress, opacity};
}

std::optional<int> InWindowCatLayer::nextFrameMs() const
{
    if (!m_stage)
        return std::nullopt;
    const double now = Clock::shared().uptime();
    const bool moving = m_stage->actor() && m_stage->motion() &&
                        now < m_stage->motion()->began + m_stage->motion()->duration;
    const bool fading = (m_perchedSince >= 0 && now < m_perchedSince + kFade) ||
                        (m_captionSince >= 0 && now < m_captionSince + kFade) ||
                        (m_leftSince >= 0 && now < m_leftSince + kFade) ||
                        (m_unperchedSince >= 0 && now < m_unperchedSince + kFade);
    if (moving || fading)
        return 16;
    // A cat that only sits is a film: redrawn when its next picture is due, not
    // at the display's pace (the whole window is composed again each time). A
    // figure standing still is a picture: the stage's next change repaints it.
    if (m_stage->perched() && m_stage->perch() && sittingClip(m_variant)) {
        if (const auto wait = m_figure->secondsToNextFrame())
            return std::max(1, int(std::lround(*wait * 1000)));
    }
    return std::nullopt;
}

bool InWindowCatLayer::blank() const
{
    return !m_stage || (!m_stage->actor() && !m_stage->perch() && !m_stage->caption() && !nextFrameMs());
}

void InWindowCatLayer::stageChanged()
{
    update();
    schedule();
}

void InWindowCatLayer::schedule()
{
    const auto next = isVisible() ? nextFrameMs() : std::nullopt;
    if (!next)
        m_frames.stop();
    else if (!m_frames.isActive() || m_frames.interval() != *next)
        m_frames.start(*next);
}

void InWindowCatLayer::showEvent(QShowEvent *) { stageChanged(); }

void InWindowCatLayer::hideEvent(QHideEvent *) { m_frames.stop(); }

void InWindowCatLayer::paintEvent(QPaintEvent *)
{
    if (!m_stage)
        return;
    QPainter p(this);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);

    // 1. The cat sitting on its element.
    if (m_stage->perched() && m_stage->perch()) {
        if (const auto clip = sittingClip(m_variant)) {
            const QPointF at = InWindowCatStage::sittingPoint(*m_stage->perch());
            const double w = clip->drawnWidth();
            const QRectF frame(at.x() - w / 2, m_stage->perch()->top() - clip->height * clip->floor + clip->sink.value_or(0),
                               w, clip->height);
            p.setOpacity(fadeIn(m_perchedSince));
            m_figure->draw(p, m_variant, *clip, frame, false, 0, false);
            p.setOpacity(1);
            m_sat = frame;
        }
    } else if (m_sat && m_unperchedSince >= 0 && Clock::shared().uptime() < m_unperchedSince + kFade) {
        if (const auto clip = sittingClip(m_variant)) {
            p.setOpacity(1 - fadeIn(m_unperchedSince));
            m_figure->draw(p, m_variant, *clip, *m_sat, false, 0, false);
            p.setOpacity(1);
        }
    }

    // 2. The figure in flight or pose.
    if (const auto &actor = m_stage->actor()) {
        if (const auto picture = image(actor->look, m_variant)) {
            const auto [progress, opacity] = drawnProgressAndOpacity();
            const double h = actor->height;
            const double w = h * picture->width() / std::max(picture->height(), 1);
            p.save();
            p.setTransform(arcPlacement(*actor, {w, h}, progress, actor->look == InWindowCatStage::Look::leap), true);
            p.setOpacity(std::clamp(opacity, 0.0, 1.0));
            p.save();
            if (actor->facing < 0) {
                p.translate(w, 0);
                p.scale(-1, 1);
            }
            p.drawImage(QRectF(0, 0, w, h), *picture);
            p.restore();
            if (actor->carrying) {
                const double cardOpacity = progress <= 0.92 ? 1 : std::max(0.0, (1 - progress) / 0.08);
                const double dx = actor->facing < 0 ? -0.78 * w : 6;
                p.setOpacity(std::clamp(opacity, 0.0, 1.0) * cardOpacity);
                p.translate(w + dx - 13, h + 4 - 16);
                paintCard(p);
            }
            p.restore();
        }
    }

    // 3. The words beside the cat; the last words fade out where they were.
    const auto drawCaption = [&](const QString &text, const QRectF &box, double opacity) {
        p.setOpacity(opacity);
        QPainterPath shape;
        shape.addRoundedRect(box, 16, 16);
        const QColor surface = PaletteColors::color(ZephylPalette::Color::surface);
        ShadowPainter::paint(p, box, 0, {{QColor(0, 0, 0, 41), 10, {0, 4}}},
                             [&](QPainter &q) { q.fillPath(shape, surface); });
        const QFont font = bubbleFont();
        const double lineHeight = DesignFonts::lineExtent(font, text).height();
        p.setFont(font);
        p.setPen(PaletteColors::color(ZephylPalette::Color::text));
        double y = box.top() + 10;
        const Qt::LayoutDirection direction = layoutDirection();
        for (const TextBlock::Line &line : TextBlock::layout(text, font, kBubbleWidth, kBubbleLines, direction)) {
            const Qt::Alignment side = direction == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
            p.setLayoutDirection(line.direction);
            p.drawText(QRectF(box.left() + 14, y, box.width() - 28, lineHeight),
                       int(side | Qt::AlignAbsolute | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip),
                       line.text);
            y += lineHeight + kBubbleLineSpacing;
        }
    };
    if (m_leaving && m_leftSince >= 0 && Clock::shared().uptime() < m_leftSince + kFade)
        drawCaption(m_leaving->first, m_leaving->second, 1 - fadeIn(m_leftSince));
    if (const auto &caption = m_stage->caption()) {
        if (const auto cat = catFrame()) {
            const QSizeF bubble = bubbleSize(caption->text, layoutDirection());
            const QPointF origin = captionOrigin(bubble, *cat, m_stage->size().isEmpty() ? QSizeF(size()) : m_stage->size());
            m_shown = std::make_pair(caption->text, QRectF(origin, bubble));
            drawCaption(caption->text, m_shown->second, fadeIn(m_captionSince));
        }
    }
}
