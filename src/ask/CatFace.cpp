#include "ask/CatFace.h"

#include "companion/CompanionFigure.h"
#include "companion/CompanionLibrary.h"
#include "companion/LookPicture.h"
#include "design/AppearanceService.h"
#include "design/PaletteColors.h"
#include "design/PressAnimator.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>
#include <cmath>

using ZephylPalette::Color;

namespace {

// Only added to, never emptied: a face is read once for the life of the process.
QHash<QString, QImage> &faces()
{
    static QHash<QString, QImage> cache;
    return cache;
}

// The round portrait: warm paper, the content clipped to the circle, a hairline;
// while entering, scaled about its bottom centre and partly faded in.
template <typename Content>
void paintPortrait(QWidget *widget, double size, Content &&content, double entrance = 1)
{
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (entrance < 1) {
        const double scale = 0.55 + 0.45 * entrance;
        painter.translate(size / 2, size);
        painter.scale(scale, scale);
        painter.translate(-size / 2, -size);
    }
    painter.setOpacity(std::clamp(entrance, 0.0, 1.0));
    const QRectF box(0, 0, size, size);
    QPainterPath circle;
    circle.addEllipse(box);
    painter.save();
    painter.setClipPath(circle);
    painter.fillRect(box, PaletteColors::color(Color::warmPaper));
    content(painter);
    painter.restore();
    QColor line = PaletteColors::color(Color::line);
    painter.setPen(QPen(line, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(box.adjusted(0.5, 0.5, -0.5, -0.5));
}

} // namespace

// ---- CatFace

CatFace::CatFace(QString variantID, CatLook look, double size, QWidget *parent)
    : QWidget(parent), m_variantID(std::move(variantID)), m_look(look), m_size(size)
{
    setFixedSize(sizeHint());
    setAttribute(Qt::WA_TranslucentBackground);
    AppearanceService::repaintOnChange(this);
}

void CatFace::setPortrait(const QString &variantID, CatLook look)
{
    if (variantID == m_variantID && look == m_look)
        return;
    m_variantID = variantID;
    m_look = look;
    m_scaled = QPixmap();
    update();
}

QImage CatFace::face(const QString &variantID, CatLook look)
{
    const QString key = variantID + u'/' + rawValue(look);
    if (const auto found = faces().constFind(key); found != faces().constEnd())
        return *found;
    const std::optional<QString> file = CompanionLibrary::faceURL(variantID, look);
    if (!file)
        return {};
    QImage image = LookPicture::load(*file);
    if (!image.isNull())
        faces().insert(key, image);
    return image;
}

QRectF CatFace::drawnFrame(double size)
{
    const double s = size / 96.0;
    const double w = CompanionFigure::kWidth * s;
    const double h = CompanionFigure::kHeight * s;
    return {size / 2 - w / 2, size / 2 - h / 2 + size * 0.08, w, h};
}

void CatFace::enter(const SpringAnimation &spring)
{
    delete m_entrance;
    m_entrance = new PressAnimator(spring, this);
    connect(m_entrance, &PressAnimator::changed, this, qOverload<>(&QWidget::update));
    m_entrance->setPressed(true);
}

double CatFace::entrance() const { return m_entrance ? m_entrance->value() : 1.0; }

QSize CatFace::sizeHint() const
{
    const int side = int(std::ceil(m_size));
    return {side, side};
}

void CatFace::paintEvent(QPaintEvent *)
{
    const QImage picture = face(m_variantID, m_look);
    paintPortrait(this, m_size, [&](QPainter &painter) {
        if (picture.isNull()) {
            CompanionPose resting;
            resting.facing = 1;
            resting.state = CompanionState::idle;
            CompanionFigure(resting).paint(painter, drawnFrame(m_size));
            return;
        }
        // Filled: aspect kept, the overflow cut by the circle. Scaled once per
        // picture at the screen's density, not at every repaint.
        const qreal ratio = devicePixelRatioF();
        if (m_scaled.isNull() || m_scaledFrom != picture.cacheKey()) {
            const QSize target(int(std::ceil(m_size * ratio)), int(std::ceil(m_size * ratio)));
            m_scaled = QPixmap::fromImage(
                picture.scaled(target, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation));
            m_scaled.setDevicePixelRatio(ratio);
            m_scaledFrom = picture.cacheKey();
        }
        const QSizeF shown = m_scaled.deviceIndependentSize();
        painter.drawPixmap(QPointF((m_size - shown.width()) / 2, (m_size - shown.height()) / 2), m_scaled);
    }, entrance());
}

// ---- CatHeadFilm

CatHeadFilm::CatHeadFilm(CompanionVariant variant, CompanionClip clip, CompanionClip::HeadBox head, double size,
                         QWidget *parent, std::shared_ptr<ClipSource> source)
    : QWidget(parent), m_variant(std::move(variant)), m_clip(std::move(clip)), m_head(head), m_size(size),
      m_figure(std::move(source)), m_next(new QTimer(this))
{
    setFixedSize(sizeHint());
    setAttribute(Qt::WA_TranslucentBackground);
    AppearanceService::repaintOnChange(this);
    m_next->setSingleShot(true);
    connect(m_next, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_figure.shownChanged = [this] { update(); };
}

CatHeadFilm::~CatHeadFilm() { m_figure.shownChanged = nullptr; }

void CatHeadFilm::setFilm(const CompanionVariant &variant, const CompanionClip &clip, const CompanionClip::HeadBox &head)
{
    m_variant = variant;
    m_clip = clip;
    m_head = head;
    update();
}

void CatHeadFilm::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    if (paused)
        m_figure.pauseAll();
    update();
}

QRectF CatHeadFilm::clipFrame(const CompanionClip &clip, const CompanionClip::HeadBox &head, double size)
{
    const double s = size / std::max(head.size, 1.0);
    const double w = clip.pixelWidth * s;
    const double h = clip.pixelHeight * s;
    const double x = size / 2 + s * (clip.pixelWidth / 2 - (head.x + head.size / 2));
    const double y = size / 2 + s * (clip.pixelHeight / 2 - (head.y + head.size / 2));
    return {x - w / 2, y - h / 2, w, h};
}

QSize CatHeadFilm::sizeHint() const
{
    const int side = int(std::ceil(m_size));
    return {side, side};
}

void CatHeadFilm::paintEvent(QPaintEvent *)
{
    paintPortrait(this, m_size, [&](QPainter &painter) {
        m_figure.draw(painter, m_variant, m_clip, clipFrame(m_clip, m_head, m_size), false, 0, m_paused);
    });
    scheduleFrame();
}

void CatHeadFilm::scheduleFrame()
{
    // Redrawn when the next frame is due; a paused or hidden film asks for nothing.
    if (m_paused || !isVisible()) {
        m_next->stop();
        return;
    }
    if (const auto wait = m_figure.secondsToNextFrame())
        m_next->start(std::max(1, int(std::lround(*wait * 1000))));
}
