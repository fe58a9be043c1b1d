#include "companion/FilmedFigure.h"

#include "companion/DevicePixels.h"

#include <QPainter>

#include <cmath>

namespace {

QPoint wholePixel(QPointF p) { return {int(std::lround(p.x())), int(std::lround(p.y()))}; }

} // namespace

FilmedFigure::FilmedFigure(std::shared_ptr<ClipSource> source) : m_source(std::move(source))
{
    if (!m_source)
        m_source = std::make_shared<WebPClipSource>();
}

FilmedFigure::~FilmedFigure()
{
    for (auto &[file, reel] : m_reels)
        reel.player->clearReadyCallback();
}

void FilmedFigure::load(const CompanionVariant &look)
{
    if (m_variant && m_variant->id == look.id)
        return;
    for (auto &[file, reel] : m_reels) {
        reel.player->clearReadyCallback();
        reel.player->pause();
    }
    m_reels.clear();
    m_showing.reset();
    m_wanted.reset();
    m_variant = look;
}

FilmedFigure::Reel *FilmedFigure::reelFor(const CompanionClip &clip)
{
    if (!m_variant || !m_variant->folder)
        return nullptr;
    const auto found = m_reels.find(clip.file);
    if (found != m_reels.end())
        return &found->second;
    // Only a plain name: a clip never reaches outside its look's folder.
    if (!CompanionClip::isPlainFileName(clip.file))
        return nullptr;
    auto player = m_source->open(*m_variant->folder + u'/' + clip.file);
    if (!player)
        return nullptr;
    Reel reel;
    reel.player = std::move(player);
    return &m_reels.emplace(clip.file, std::move(reel)).first->second;
}

void FilmedFigure::show(const CompanionClip &clip, bool mirrored, double tilt, bool paused)
{
    m_holdStill = paused;
    Reel *reel = reelFor(clip);
    if (!reel)
        return;
    reel->mirrored = mirrored;
    reel->tilt = tilt;
    const double rate = clip.rate ? double(*clip.rate) : 1.0;
    ClipPlayer &player = *reel->player;

    if (m_showing == clip.file) {
        if (!paused && !player.isPlaying())
            player.play(rate);
        else if (paused && player.isPlaying())
            player.pause();
        // Asking for what is shown withdraws an earlier wish for another clip,
        // which would otherwise replace it when it became ready.
        stopWaiting();
        return;
    }
    if (m_wanted == clip.file)
        return; // already on its way
    stopWaiting();
    m_wanted = clip.file;
    player.restart();
    player.play(rate);
    if (player.isReady()) {
        reveal(clip.file);
        return;
    }
    player.setReadyCallback([this, file = clip.file] { reveal(file); });
}

void FilmedFigure::stopWaiting()
{
    if (!m_wanted)
        return;
    const auto found = m_reels.find(*m_wanted);
    m_wanted.reset();
    if (found == m_reels.end())
        return;
    found->second.player->clearReadyCallback();
    found->second.player->pause();
}

void FilmedFigure::reveal(const QString &file)
{
    if (m_wanted != file)
        return; // another clip was asked for since
    const auto found = m_reels.find(file);
    if (found == m_reels.end())
        return;
    Reel &reel = found->second;
    reel.player->clearReadyCallback();
    if (m_showing && *m_showing != file) {
        const auto old = m_reels.find(*m_showing);
        if (old != m_reels.end()) {
            old->second.visible = false;
            old->second.player->pause();
            old->second.fitted.clear(); // only the shown clip keeps its frames at screen size
        }
    }
    reel.visible = true;
    reel.lastShown = ++m_reveals;
    m_showing = file;
    m_wanted.reset();
    if (m_holdStill)
        reel.player->pause();
    trimHidden();
    if (shownChanged)
        shownChanged();
}

void FilmedFigure::trimHidden()
{
    qint64 hidden = 0;
    for (const auto &[file, reel] : m_reels)
        if (!reel.visible)
            hidden += reel.player->memoryBytes();
    while (hidden > kHiddenBudgetBytes) {
        Reel *oldest = nullptr;
        for (auto &[file, reel] : m_reels) {
            if (reel.visible || m_wanted == file || reel.player->memoryBytes() == 0)
                continue;
            if (!oldest || reel.lastShown < oldest->lastShown)
                oldest = &reel;
        }
        if (!oldest)
            return;
        hidden -= oldest->player->memoryBytes();
        oldest->player->releaseMemory();
    }
}

void FilmedFigure::pauseAll()
{
    for (auto &[file, reel] : m_reels)
        reel.player->pause();
}

void FilmedFigure::paint(QPainter &painter, const QRectF &frame)
{
    if (!m_showing)
        return;
    const auto found = m_reels.find(*m_showing);
    if (found == m_reels.end())
        return;
    Reel &reel = found->second;
    const QImage image = reel.player->currentFrame();
    if (image.isNull() || frame.isEmpty())
        return;
    // Aspect fit, centred.
    const double scale = std::min(frame.width() / image.width(), frame.height() / image.height());
    const QSizeF size(image.width() * scale, image.height() * scale);
    const QRectF target(frame.center() - QPointF(size.width() / 2, size.height() / 2), size);

    // Pixel for pixel on the device (a clip made for this screen's scale), the
    // frame is copied at a whole pixel instead of resampled: a tenth of the work.
    const QTransform device = painter.deviceTransform();
    if (reel.tilt == 0 && device.type() <= QTransform::TxScale && device.m11() > 0 && device.m22() > 0) {
        const QRectF pixels = device.mapRect(target);
        if (std::abs(pixels.width() - image.width()) < 0.5 && std::abs(pixels.height() - image.height()) < 0.5) {
            DevicePixels::draw(painter, wholePixel(pixels.topLeft()), reel.mirrored ? image.mirrored(true, false) : image);
            return;
        }
        // A clip made for another scale: each of its frames is resampled once to
        // the size on screen and kept, then copied at a whole pixel like above.
        const QSize wanted(int(std::lround(pixels.width())), int(std::lround(pixels.height())));
        if (wanted.width() > 0 && wanted.height() > 0 && wanted.width() <= 4 * image.width() &&
            wanted.height() <= 4 * image.height()) {
            const auto key = std::make_tuple(image.cacheKey(), wanted.width(), wanted.height(), reel.mirrored);
            auto at = reel.fitted.find(key);
            if (at == reel.fitted.end()) {
                if (reel.fitted.size() >= kFittedLimit)
                    reel.fitted.clear(); // another size or a clip longer than kept: begin again
                QImage fitted = image.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                if (reel.mirrored)
                    fitted = fitted.mirrored(true, false);
                at = reel.fitted.emplace(key, std::move(fitted)).first;
            }
            DevicePixels::draw(painter, wholePixel(pixels.center() - QPointF(wanted.width(), wanted.height()) / 2),
                               at->second);
            return;
        }
    }

    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(frame.center());
    // Turned first, then mirrored: a mirrored, tilted clip turns the other way on
    // screen, so a cat facing either way lifts its nose for the same tilt.
    if (reel.mirrored)
        painter.scale(-1, 1);
    if (reel.tilt != 0)
        painter.rotate(-reel.tilt);
    painter.drawImage(QRectF(QPointF(-size.width() / 2, -size.height() / 2), size), image);
    painter.restore();
}

void FilmedFigure::draw(QPainter &painter, const CompanionVariant &look, const CompanionClip &clip,
                        const QRectF &frame, bool mirrored, double tilt, bool paused)
{
    load(look);
    show(clip, mirrored, tilt, paused);
    paint(painter, frame);
}

qint64 FilmedFigure::pictureShown()
{
    if (!m_showing)
        return 0;
    const auto found = m_reels.find(*m_showing);
    return found == m_reels.end() ? 0 : found->second.player->currentFrame().cacheKey();
}

std::optional<double> FilmedFigure::secondsToNextFrame() const
{
    if (!m_showing)
        return std::nullopt;
    const auto found = m_reels.find(*m_showing);
    if (found == m_reels.end())
        return std::nullopt;
    return found->second.player->secondsToNextFrame();
}
