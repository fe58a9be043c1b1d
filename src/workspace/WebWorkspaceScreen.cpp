#include "workspace/WebWorkspaceScreen.h"

#include "app/AppModel.h"
#include "base/Clock.h"
#include "companion/CompanionFigure.h"
#include "companion/CompanionLibrary.h"
#include "companion/FilmedFigure.h"
#include "companion/ShadowPainter.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/DesignFonts.h"
#include "design/L10n.h"
#include "design/PaletteColors.h"
#include "design/PressAnimator.h"
#include "design/ServiceDomain.h"
#include "design/TextBlock.h"
#include "design/TextDirection.h"
#include "web/WebWorkspace.h"
#include "workspace/InWindowCatLayer.h"

#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QLabel>
#include <QPaintEvent>
#include <QRasterWindow>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QRadialGradient>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineView>

#include <cmath>

namespace {

using Phase = WebWorkspaceModel::Phase;

// The scenes' own colours (sRGB out of 255).
const QColor kGround(11, 11, 11);
QColor paper(Appearance a) { return a == Appearance::dark ? QColor(23, 19, 15) : QColor(255, 246, 232); }
QColor ink(Appearance a) { return a == Appearance::dark ? QColor(244, 236, 221) : QColor(43, 33, 24); }
QColor muted(Appearance a) { return a == Appearance::dark ? QColor(201, 187, 166) : QColor(111, 90, 72); }
Appearance appearance() { return AppearanceService::shared().appearance(); }

// A cat of the look drawn into `frame`: its clip when it is filmed, else the
// drawn figure in `state`.
void drawCat(QPainter &p, FilmedFigure &film, const CompanionVariant &look, const std::optional<CompanionClip> &clip,
             CompanionState state, const QRectF &frame, bool mirrored)
{
    if (clip) {
        film.draw(p, look, *clip, frame, mirrored, 0, false);
        return;
    }
    CompanionPose pose;
    pose.state = state;
    CompanionFigure(pose).paint(p, frame);
}

// One paw print: a pad and four toes, sized by the shorter side.
QPainterPath pawPrint(const QRectF &r)
{
    const double s = std::min(r.width(), r.height()) * 0.03125;
    const double mx = r.center().x(), my = r.center().y();
    QPainterPath path;
    path.addEllipse(QRectF(mx - 9 * s, my - 1.5 * s, 18 * s, 15 * s));
    path.addEllipse(QRectF(mx - 13.6 * s, my - 10 * s, 7.2 * s, 10 * s));
    path.addEllipse(QRectF(mx - 7.2 * s, my - 15.5 * s, 7.2 * s, 10 * s));
    path.addEllipse(QRectF(mx + 0 * s, my - 15.5 * s, 7.2 * s, 10 * s));
    path.addEllipse(QRectF(mx + 6.4 * s, my - 10 * s, 7.2 * s, 10 * s));
    return path;
}

} // namespace

double WebWaitWalk::progress(double seconds) { return 0.94 * (1 - std::exp(-seconds / 1.6)); }

double WebWaitWalk::printOpacity(int index, double walked, double track, double step)
{
    const double xi = step * index + step * 0.5;
    // Shows 26 past its centre, full 16 later; pales with age.
    const double u = (walked - 26 - xi) * 0.0625;
    const double fade = u <= 0 ? 0 : 0.3 * std::min(u, 1.0);
    const double v = (walked - xi) / track;
    const double age = v <= 0 ? 1 : 1 - 0.45 * std::min(v, 1.0);
    return fade * age;
}

namespace {

// A window of its own inside a widget, drawn by its owner: what it draws
// reaches the screen by itself, without the rest of the widget's window. It
// takes no input; the widgets under it get the clicks.
class OwnWindow final : public QRasterWindow {
public:
    explicit OwnWindow(std::function<void(QPainter &)> paint) : m_paint(std::move(paint))
    {
        setFlag(Qt::WindowTransparentForInput);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        m_paint(p);
    }

private:
    std::function<void(QPainter &)> m_paint;
};

// The waiting scene: the name, a strip where the cat walks leaving paw prints,
// and "Opening Zephyl…". The walk slows and never reaches the end.
//
// Only the strip changes from frame to frame. While the scene is shown
// plainly (no fade under way) the strip is drawn in a window of its own: the
// page under the scene draws into the workspace window's surface, which is
// composed again as a whole whenever any part of it changes, and where that
// is done by the processor, sixty compositions a second take the time the
// page needs to load. Fading, the scene is drawn as one, the strip included.
class WebWait final : public QWidget {
public:
    static constexpr double kTrack = 380, kStage = 104, kBaseline = 20, kStep = 30;

    WebWait(QWidget *parent) : QWidget(parent), m_began(Clock::shared().uptime())
    {
        m_frames.setInterval(16);
        connect(&m_frames, &QTimer::timeout, this, &WebWait::frame);
    }
    void setVariant(const CompanionVariant &variant)
    {
        m_variant = variant;
        placeWalk();
    }
    void restart() { m_began = Clock::shared().uptime(); }
    double walked() const { return Clock::shared().uptime() - m_began; }
    // Whether the scene is shown plainly, without a fade under way.
    void setPlain(bool plain)
    {
        m_plain = plain;
        if (plain || !m_walk || m_walk->isHidden())
            return;
        // The window's own surface gets the strip as it is now before the
        // strip's window goes, so no older frame shows in between.
        if (isVisible())
            repaint(walkRect());
        m_walk->hide();
    }

protected:
    // Each time it is shown, the window's first showing included, the walk
    // starts from the left: it was not seen while hidden.
    void showEvent(QShowEvent *) override
    {
        restart();
        m_frames.start();
    }
    void hideEvent(QHideEvent *) override { m_frames.stop(); }
    void resizeEvent(QResizeEvent *) override { placeWalk(); }
    void paintEvent(QPaintEvent *event) override
    {
        QPainter p(this);
        const QRect area = event->rect();
        const QPixmap &ground = still();
        const qreal ratio = ground.devicePixelRatio();
        p.drawPixmap(area, ground, QRectF(area.topLeft() * ratio, area.size() * ratio));
        if (area.intersects(walkRect())) {
            p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
            paintWalk(p);
        }
    }

private:
    // The next frame of the walk: in the strip's own window once the
    // workspace window is composed as a whole, which it is from the moment
    // the page first draws into it (the window is made anew then, and a
    // window of ours inside the old one would go with it); drawn in the scene
    // otherwise.
    // While the scene fades, each step of the fade draws it whole, the walk
    // included: a frame of its own between them would compose the window
    // once more.
    void frame()
    {
        if (graphicsEffect())
            return;
        const QWindow *composed = window()->windowHandle();
        if (!m_plain || !composed || composed->surfaceType() == QSurface::RasterSurface) {
            update(walkRect());
            return;
        }
        if (!m_walkWindow) {
            delete m_walk;
            m_walkWindow = new OwnWindow([this](QPainter &p) { paintWalkWindow(p); });
            m_walk = QWidget::createWindowContainer(m_walkWindow, this);
            m_walk->setFocusPolicy(Qt::NoFocus);
            m_walk->setAttribute(Qt::WA_TransparentForMouseEvents);
        }
        if (m_walk->isHidden()) {
            placeWalk();
            m_walk->show();
        }
        m_walkWindow->update();
    }
    static QFont statusFont() { return DesignFonts::rounded(14, DesignFonts::Weight::semibold); }
    static QString status() { return L10n::t("Opening Zephyl…"); }
    // The strip, centred between the name above it and the status below.
    QRectF strip() const
    {
        const double statusHeight = DesignFonts::lineExtent(statusFont(), status()).height();
        const double total = 56 + 18 + kStage + 18 + statusHeight;
        return QRectF((width() - kTrack) / 2, (height() - total) / 2 + 56 + 18, kTrack, kStage);
    }
    std::optional<CompanionClip> walkClip() const
    {
        if (!m_variant.folder)
            return std::nullopt;
        for (const char *name : {"walk", "run"}) {
            const auto found = m_variant.clips.find(QString::fromLatin1(name));
            if (found != m_variant.clips.end())
                return found->second;
        }
        return std::nullopt;
    }
    // Where the cat is drawn once it has walked `walked` points.
    QRectF catFrame(const QRectF &strip, double walked) const
    {
        if (const auto clip = walkClip()) {
            const double w = clip->pixelWidth * 72 / std::max(clip->pixelHeight, 1.0);
            return QRectF(strip.left() + walked - 0.62 * w, strip.bottom() - 72 + (1 - clip->floor) * 72 - kBaseline, w,
                          72);
        }
        return QRectF(strip.left() + walked - 60, strip.bottom() - 62 + 4 - kBaseline, 84, 62);
    }
    // What a frame of the walk may change: the strip, and wherever the cat is
    // drawn from one end to the other (most of it is left of the strip at the
    // start; a film's frame may reach below it), with room for what a drawn
    // figure puts past its frame.
    QRect walkRect() const
    {
        const QRectF strip = this->strip();
        const QRectF reach = strip | catFrame(strip, 0) | catFrame(strip, kTrack);
        return reach.adjusted(-8, -8, 8, 8).toAlignedRect() & rect();
    }
    void placeWalk()
    {
        if (m_walk)
            m_walk->setGeometry(walkRect());
    }

    // The paper, its glows, the name and the status stay as they are while the
    // cat walks: drawn once per size, look and language, then copied.
    const QPixmap &still()
    {
        const Appearance a = appearance();
        const bool dark = a == Appearance::dark;
        const qreal ratio = devicePixelRatioF();
        const QIcon icon = QGuiApplication::windowIcon();
        const QString words = status();
        if (m_still.size() == size() * ratio && m_stillDark == dark && m_stillWords == words &&
            m_stillIcon == icon.cacheKey())
            return m_still;
        m_still = QPixmap(size() * ratio);
        m_still.setDevicePixelRatio(ratio);
        m_stillDark = dark;
        m_stillWords = words;
        m_stillIcon = icon.cacheKey();
        QPainter p(&m_still);
        p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        paintGround(p, a);

        const QFont titleFont = DesignFonts::rounded(28, DesignFonts::Weight::heavy);
        const QString name = QStringLiteral("Zephyl Kitty");
        const double nameWidth = DesignFonts::lineExtent(titleFont, name).width();
        const double rowWidth = nameWidth + (icon.isNull() ? 0 : 56 + 12);
        const QRectF walk = strip();
        const double y = walk.top() - 18 - 56;

        // The name, with the application's icon when it has one.
        double x = (width() - rowWidth) / 2;
        if (!icon.isNull()) {
            const QRectF tile(x, y, 56, 56);
            const QPixmap picture = icon.pixmap(112, 112);
            ShadowPainter::paint(p, tile, 0, {{QColor(0, 0, 0, dark ? 89 : 36), 6, {0, 3}}},
                                 [&](QPainter &q) { q.drawPixmap(tile, picture, QRectF(picture.rect())); });
            x += 56 + 12;
        }
        p.setFont(titleFont);
        p.setPen(ink(a));
        p.drawText(QRectF(x, y, nameWidth + 2, 56), Qt::AlignVCenter | Qt::AlignLeft, name);

        const double statusHeight = DesignFonts::lineExtent(statusFont(), words).height();
        p.setFont(statusFont());
        p.setPen(muted(a));
        p.drawText(QRectF(0, walk.bottom() + 18, width(), statusHeight), Qt::AlignCenter, words);
        return m_still;
    }

    // The strip's window: the still part behind it, then the walk.
    void paintWalkWindow(QPainter &p)
    {
        const QRect area = m_walk ? m_walk->geometry() : walkRect();
        const QPixmap &ground = still();
        const qreal ratio = ground.devicePixelRatio();
        p.drawPixmap(QRect(QPoint(0, 0), area.size()), ground, QRectF(area.topLeft() * ratio, area.size() * ratio));
        p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        p.translate(-area.topLeft());
        paintWalk(p);
    }

    // The prints behind, the cat in front.
    void paintWalk(QPainter &p)
    {
        const Appearance a = appearance();
        const double f = WebWaitWalk::progress(walked()) * kTrack;
        const QRectF strip = this->strip();
        const int prints = int(kTrack / kStep);
        for (int i = 0; i < prints; ++i) {
            const double strength = WebWaitWalk::printOpacity(i, f);
            if (strength <= 0)
                continue;
            const double xi = kStep * i + kStep * 0.5;
            p.save();
            const double dy = (i % 2 ? 4 : -5) - (kBaseline - 8);
            p.translate(strip.left() + xi, strip.bottom() + dy - 7.5);
            p.rotate(i % 2 ? 8 : -8);
            QColor c = ink(a);
            c.setAlphaF(strength);
            p.fillPath(pawPrint(QRectF(-7.5, -7.5, 15, 15)), c);
            p.restore();
        }
        if (const auto clip = walkClip()) {
            m_film.draw(p, m_variant, *clip, catFrame(strip, f), clip->facing < 0, 0, false);
        } else {
            CompanionPose pose;
            pose.state = CompanionState::walk;
            CompanionFigure(pose).paint(p, catFrame(strip, f));
        }
    }

    void paintGround(QPainter &p, Appearance a) const
    {
        p.fillRect(rect(), paper(a));
        const bool dark = a == Appearance::dark;
        const struct { QColor c; double light, dark, cx, cy, r; } glows[] = {
            {QColor(255, 214, 107), 0.5, 0.12, 0.08, 0.06, 360},
            {QColor(255, 201, 219), 0.55, 0.1, 0.96, 0.96, 420},
            {QColor(182, 234, 208), 0.4, 0.08, 0.98, 0.04, 320},
        };
        for (const auto &g : glows) {
            QRadialGradient gradient(QPointF(width() * g.cx, height() * g.cy), g.r);
            QColor c = g.c;
            c.setAlphaF(dark ? g.dark : g.light);
            gradient.setColorAt(0, c);
            c.setAlphaF(0);
            gradient.setColorAt(1, c);
            p.fillRect(rect(), gradient);
        }
    }

    double m_began;
    CompanionVariant m_variant = CompanionVariant::drawn();
    FilmedFigure m_film;
    QTimer m_frames{this};
    bool m_plain = false;
    QPointer<OwnWindow> m_walkWindow;
    QPointer<QWidget> m_walk;
    QPixmap m_still;
    bool m_stillDark = false;
    QString m_stillWords;
    qint64 m_stillIcon = 0;
};

// A wrapping label as tall as its lines at its width.
void fitHeight(QLabel *label) { label->setFixedHeight(std::max(0, label->heightForWidth(label->width()))); }

// A scene on the dark ground: the concerned cat when the look has one, a
// title, a message and one button.
QWidget *groundScene(QWidget *parent, QLabel **picture, QLabel **title, QLabel **message, StyledButton **button,
                     const QString &buttonText)
{
    auto *scene = new QWidget(parent);
    scene->setAutoFillBackground(true);
    QPalette palette = scene->palette();
    palette.setColor(QPalette::Window, kGround);
    scene->setPalette(palette);
    auto *column = new QVBoxLayout(scene);
    column->setSpacing(14);
    column->addStretch();
    *picture = new QLabel(scene);
    (*picture)->setAlignment(Qt::AlignCenter);
    *title = new QLabel(scene);
    *message = new QLabel(scene);
    for (QLabel *label : {*title, *message}) {
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
    }
    // The message wraps at 420 points; a centred wrapping label would
    // otherwise be squeezed to its narrowest.
    (*message)->setWordWrap(true);
    (*message)->setFixedWidth(420);
    (*title)->setFont(DesignFonts::serif(19, DesignFonts::Weight::semibold));
    (*title)->setStyleSheet(QStringLiteral("color: rgb(245, 245, 243);"));
    (*message)->setFont(DesignFonts::system(12.5, DesignFonts::Weight::regular));
    (*message)->setStyleSheet(QStringLiteral("color: rgb(169, 169, 165);"));
    *button = new StyledButton(buttonText, PrimaryButtonStyle(false), scene);
    // The ground is dark in both appearances, and so is the button's drawing.
    (*button)->setFixedAppearance(Appearance::dark);
    column->addWidget(*picture, 0, Qt::AlignHCenter);
    column->addWidget(*title, 0, Qt::AlignHCenter);
    column->addWidget(*message, 0, Qt::AlignHCenter);
    column->addWidget(*button, 0, Qt::AlignHCenter);
    column->addStretch();
    return scene;
}

// A small cat that never takes the mouse: beside the sign-in page, or peeking
// in from the bottom edge with a line.
class CatCorner final : public QWidget {
public:
    CatCorner(CompanionState state, QWidget *parent) : QWidget(parent), m_state(state)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        // A child, so the scene's only clock can be seen from outside.
        m_frames->setSingleShot(true);
        connect(m_frames, &QTimer::timeout, this, qOverload<>(&QWidget::update));
        m_film.shownChanged = [this] { update(); };
    }
    ~CatCorner() override { m_film.shownChanged = nullptr; }
    void setVariant(const CompanionVariant &variant)
    {
        m_variant = variant;
        update();
    }
    void setText(const QString &text)
    {
        m_text = containedBidi(text);
        update();
    }
    std::optional<CompanionClip> clip() const
    {
        return m_variant.folder ? m_variant.clip(m_state) : std::nullopt;
    }
    // The bubble over the cat, as wide as the wider of the two.
    double stackWidth() const
    {
        const double figure = figureSize().width();
        return m_text.isEmpty() ? figure
                                : std::max(figure, InWindowCatLayer::bubbleSize(m_text, layoutDirection()).width());
    }
    QSizeF figureSize() const
    {
        if (const auto c = clip())
            return {c->drawnWidth(), c->height};
        return m_state == CompanionState::idle ? QSizeF(118, 87) : QSizeF(84, 62);
    }

protected:
    void hideEvent(QHideEvent *) override { m_frames->stop(); }
    void paintEvent(QPaintEvent *) override
    {
        paintCat();
        // The next picture of the clip, when it is due; nothing else moves.
        m_frames->stop();
        if (const auto wait = clip() ? m_film.secondsToNextFrame() : std::nullopt; wait && isVisible())
            m_frames->start(std::max(1, int(std::lround(*wait * 1000))));
    }

private:
    void paintCat()
    {
        QPainter p(this);
        p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
        const QSizeF figure = figureSize();
        double bottom = m_state == CompanionState::idle ? height() - 8 : height();
        if (const auto c = clip(); c && m_state == CompanionState::perch)
            bottom += 2 + c->height * (1 - c->floor); // the paw line just below the edge
        const QRectF frame((width() - figure.width()) / 2, bottom - figure.height(), figure.width(), figure.height());
        drawCat(p, m_film, m_variant, clip(), m_state, frame, false);
        if (m_text.isEmpty())
            return;
        const QSizeF bubble = InWindowCatLayer::bubbleSize(m_text, layoutDirection());
        const QRectF box((width() - bubble.width()) / 2, frame.top() - 6 - 9 - bubble.height(), bubble.width(),
                         bubble.height());
        QPainterPath shape;
        shape.addRoundedRect(box, 16, 16);
        QPainterPath tail;
        tail.moveTo(box.center().x() - 8, box.bottom() - 1);
        tail.lineTo(box.center().x(), box.bottom() + 9);
        tail.lineTo(box.center().x() + 8, box.bottom() - 1);
        shape = shape.united(tail);
        p.fillPath(shape, PaletteColors::color(ZephylPalette::Color::surface));
        p.setFont(DesignFonts::rounded(13, DesignFonts::Weight::medium));
        p.setPen(PaletteColors::color(ZephylPalette::Color::text));
        // The line reads in the window's direction unless it is all of the other
        // (an English line in an Arabic window keeps its full stop at its end),
        // set at the window's leading side.
        p.setLayoutDirection(textDirection(m_text, layoutDirection()));
        const Qt::Alignment side = layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
        p.drawText(box.adjusted(14, 10, -14, -10), int(side | Qt::AlignAbsolute | Qt::AlignVCenter | Qt::TextWordWrap),
                   m_text);
    }

    CompanionState m_state;
    CompanionVariant m_variant = CompanionVariant::drawn();
    QString m_text;
    FilmedFigure m_film;
    QTimer *m_frames = new QTimer(this);
};

// The children of one type (these classes have no meta-object of their own,
// so findChildren would take any widget for them).
template <typename T>
QList<T *> directChildren(const QObject *parent)
{
    QList<T *> found;
    for (QObject *child : parent->children())
        if (auto *typed = dynamic_cast<T *>(child))
            found.append(typed);
    return found;
}

// A layer that comes and goes with the timing of the change that caused it:
// fading, or rising from below the screen's bottom edge (and sinking back).
// A layer on its way out takes no clicks (a second "Try again" would load the
// page twice), and once gone it is hidden.
class Presence final : public QObject {
public:
    enum class Way { fade, rise };

    Presence(QWidget *layer, Way way)
        : QObject(layer), m_layer(layer), m_way(way), m_motion(new PressAnimator(0.0, this)),
          m_passive(layer->testAttribute(Qt::WA_TransparentForMouseEvents))
    {
        connect(m_motion, &PressAnimator::changed, this, &Presence::apply);
        layer->hide();
    }
    static Presence *of(const QWidget *layer)
    {
        const auto found = directChildren<Presence>(layer);
        return found.isEmpty() ? nullptr : found.first();
    }

    void set(bool shown, const AnimationTiming &timing) { m_motion->setPressed(shown, timing); }
    // Whether the layer draws nothing now: fading it would change no pixel,
    // only redraw the window's whole size off screen at every frame.
    std::function<bool()> blank;
    // Told after each step whether the layer is there and drawn plainly (no
    // fade under way).
    std::function<void(bool plain)> plainly;
    // A layer that draws itself at the opacity it is given, so fading it
    // draws nothing off screen first.
    std::function<void(double opacity)> fadesItself;
    bool shown() const { return m_motion->pressed(); }
    bool moving() const { return m_motion->running(); }
    double value() const { return m_motion->value(); }
    // Where a rising layer rests, and how far below it it starts.
    void place(const QRect &rest, int distance)
    {
        m_rest = rest;
        m_distance = distance;
        apply();
    }
    // A layer that is replaced goes out and then away.
    void retire(const AnimationTiming &timing)
    {
        m_retired = true;
        set(false, timing);
    }

private:
    void apply()
    {
        const double v = m_motion->value();
        const bool present = m_motion->pressed() || m_motion->running();
        if (m_way == Way::rise) {
            m_layer->setGeometry(m_rest.translated(0, int(std::lround((1 - v) * m_distance))));
        } else if (fadesItself) {
            fadesItself(present ? std::clamp(v, 0.0, 1.0) : 0.0);
        } else if (present && (m_motion->running() || v < 1) && !(blank && blank())) {
            auto *effect = qobject_cast<QGraphicsOpacityEffect *>(m_layer->graphicsEffect());
            if (!effect) {
                effect = new QGraphicsOpacityEffect(m_layer);
                m_layer->setGraphicsEffect(effect);
            }
            effect->setOpacity(std::clamp(v, 0.0, 1.0));
        } else if (m_layer->graphicsEffect()) {
            // Settled: drawn plainly again.
            m_layer->setGraphicsEffect(nullptr);
        }
        m_layer->setAttribute(Qt::WA_TransparentForMouseEvents, m_passive || !m_motion->pressed());
        m_layer->setVisible(present);
        if (plainly)
            plainly(present && !m_layer->graphicsEffect());
        if (!present && m_retired)
            m_layer->deleteLater();
    }

    QWidget *m_layer;
    Way m_way;
    PressAnimator *m_motion;
    QRect m_rest;
    int m_distance = 0;
    bool m_passive;
    bool m_retired = false;
};

// The screen's paper over the web view: the page's opacity is what the veil
// lets through. Fading the engine's own surface would redraw the page off screen.
class PageVeil final : public QWidget {
public:
    explicit PageVeil(QWidget *parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }
    void setOpacity(double opacity)
    {
        if (opacity == m_opacity)
            return;
        m_opacity = opacity;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QColor color = paper(appearance());
        color.setAlphaF(m_opacity);
        QPainter(this).fillRect(rect(), color);
    }

private:
    double m_opacity = 1;
};

// The three timings of the screen's changes.
AnimationTiming phaseTiming() { return AnimationTiming::easeOut(0.22); }
AnimationTiming readyTiming() { return AnimationTiming::easeOut(0.3); }
AnimationTiming momentTiming() { return AnimationTiming::springing({0.55, 0.82, 0.0}); }

} // namespace

WebWorkspaceScreen::WebWorkspaceScreen(WebWorkspace *web, QWidget *parent)
    : QWidget(parent), m_web(web), m_variant(CompanionVariant::drawn())
{
    setMinimumSize(960, 600);
    m_host = new QWidget(this);
    m_veil = new PageVeil(this);
    new Presence(m_veil, Presence::Way::fade);
    Presence::of(m_veil)->fadesItself = [veil = static_cast<PageVeil *>(m_veil)](double opacity) {
        veil->setOpacity(opacity);
    };
    m_layer = new InWindowCatLayer(web ? &web->stage() : nullptr, this);
    new Presence(m_layer, Presence::Way::fade);
    Presence::of(m_layer)->blank = [layer = m_layer] { return layer->blank(); };
    m_company = new CatCorner(CompanionState::idle, this);
    new Presence(m_company, Presence::Way::fade);
    m_peek = makePeek();
    m_wait = new WebWait(this);
    new Presence(m_wait, Presence::Way::fade);
    Presence::of(m_wait)->plainly = [wait = static_cast<WebWait *>(m_wait)](bool plain) { wait->setPlain(plain); };

    m_failure = groundScene(this, &m_failurePicture, &m_failureTitle, &m_failureMessage, &m_retry, L10n::t("Try again"));
    m_failureTitle->setText(L10n::t("No connection to " ZEPHYL_SERVICE_DOMAIN " right now."));
    new Presence(m_failure, Presence::Way::fade);
    connect(m_retry, &QPushButton::clicked, this, [this] {
        // Back to waiting at once, then the entry page loads again.
        if (m_web)
            m_web->retry();
    });

    QLabel *outdatedTitle = nullptr, *explanation = nullptr;
    m_outdated = groundScene(this, &m_outdatedPicture, &outdatedTitle, &explanation, &m_update,
                             L10n::t("Open the updater"));
    outdatedTitle->setText(L10n::t("This computer needs a newer Qt WebEngine to show Zephyl."));
    explanation->setText(L10n::t("Zephyl's window is drawn by the system's Qt WebEngine, and here it is older than "
                                 "Zephyl needs. The system's package updates install the newest one, free; then "
                                 "open me again."));
    fitHeight(explanation);
    new Presence(m_outdated, Presence::Way::fade);
    if (const QString updater = softwareUpdater(); !updater.isEmpty())
        openSoftwareUpdate = [updater] { QProcess::startDetached(updater, {}); };
    connect(m_update, &QPushButton::clicked, this, [this] {
        if (openSoftwareUpdate)
            openSoftwareUpdate();
    });

    if (m_web) {
        // Each of the three changes moves what it changes with its own timing;
        // a screen no one sees moves nothing and is found as things stand.
        const auto seen = [this](const AnimationTiming &timing) {
            return isVisible() ? timing : AnimationTiming::immediate();
        };
        connect(m_web, &WebWorkspaceModel::phaseChanged, this, [this, seen] { refresh(seen(phaseTiming())); });
        connect(m_web, &WebWorkspaceModel::workspaceReadyChanged, this, [this, seen] { refresh(seen(readyTiming())); });
        connect(m_web, &WebWorkspaceModel::momentChanged, this, [this, seen] { refresh(seen(momentTiming())); });
        adoptWebView();
    }
    AppearanceService::repaintOnChange(this);
    setVariant(m_variant);
    refresh();
}

WebWorkspaceScreen::~WebWorkspaceScreen()
{
    // The web view belongs to the web workspace and outlives this screen.
    if (m_web && m_web->webView() && m_web->webView()->parentWidget() == m_host) {
        m_web->webView()->hide();
        m_web->webView()->setParent(nullptr);
    }
}

void WebWorkspaceScreen::follow(AppModel &model)
{
    const auto apply = [this, &model] {
        setCompanionEnabled(model.companionEnabled());
        setVariant(CompanionLibrary::variant(model.companionVariantID()));
    };
    connect(&model, &AppModel::companionEnabledChanged, this, apply);
    connect(&model, &AppModel::companionVariantIDChanged, this, apply);
    apply();
}

void WebWorkspaceScreen::setVariant(const CompanionVariant &variant)
{
    m_variant = variant;
    m_layer->setVariant(variant);
    static_cast<WebWait *>(m_wait)->setVariant(variant);
    // The cat beside the sign-in page and the peeking ones, leaving ones included.
    for (auto *cat : directChildren<CatCorner>(this))
        cat->setVariant(variant);
    for (QLabel *picture : {m_failurePicture, m_outdatedPicture}) {
        const auto concerned = InWindowCatLayer::image(InWindowCatStage::Look::concerned, variant);
        picture->setVisible(concerned.has_value());
        if (concerned)
            picture->setPixmap(QPixmap::fromImage(concerned->scaledToHeight(150, Qt::SmoothTransformation)));
    }
    refresh();
}

void WebWorkspaceScreen::setCompanionEnabled(bool enabled)
{
    m_companionEnabled = enabled;
    refresh();
}

bool WebWorkspaceScreen::showsPage() const
{
    if (!m_web)
        return false;
    switch (m_web->phase().kind) {
    case Phase::Kind::signIn: return true;
    case Phase::Kind::workspace: return m_web->workspaceReady();
    default: return false;
    }
}

bool WebWorkspaceScreen::isWaiting() const
{
    if (!m_web)
        return false;
    const auto kind = m_web->phase().kind;
    return kind == Phase::Kind::loading || (kind == Phase::Kind::workspace && !m_web->workspaceReady());
}

QWidget *WebWorkspaceScreen::failureScene() const { return m_failure; }
QWidget *WebWorkspaceScreen::outdatedScene() const { return m_outdated; }
QWidget *WebWorkspaceScreen::waitingScene() const { return m_wait; }
QWidget *WebWorkspaceScreen::signInCompany() const { return m_company; }
QWidget *WebWorkspaceScreen::peekingCat() const { return m_peek; }

void WebWorkspaceScreen::refresh(const AnimationTiming &timing)
{
    if (!m_web)
        return;
    adoptWebView();
    const Phase &phase = m_web->phase();
    const bool ready = m_web->workspaceReady();
    // The page is covered, never removed: it keeps loading under the scenes.
    Presence::of(m_veil)->set(!showsPage(), timing);
    Presence::of(m_layer)->set(phase.kind == Phase::Kind::workspace && ready, timing);
    // A scene that fades out keeps the words it had.
    if (phase.kind == Phase::Kind::failed) {
        m_failureMessage->setText(containedBidi(phase.message));
        fitHeight(m_failureMessage);
        // A failed connection's words are the title's own; they are said once.
        m_failureMessage->setVisible(phase.message.trimmed() != m_failureTitle->text().trimmed());
    }
    Presence::of(m_failure)->set(phase.kind == Phase::Kind::failed, timing);
    Presence::of(m_outdated)->set(phase.kind == Phase::Kind::outdated, timing);
    m_update->setVisible(bool(openSoftwareUpdate));
    Presence::of(m_company)->set(phase.kind == Phase::Kind::signIn && !m_companionEnabled, timing);
    const bool waiting = isWaiting();
    // Each time the waiting turns on, the walk starts over from the left.
    if (waiting && !Presence::of(m_wait)->shown())
        static_cast<WebWait *>(m_wait)->restart();
    Presence::of(m_wait)->set(waiting, timing);

    // Each moment is a cat of its own: the one before sinks away while the next rises.
    const auto &moment = m_web->moment();
    const bool peeking = moment && phase.kind == Phase::Kind::workspace && ready;
    const QUuid shown = peeking ? moment->id : QUuid();
    if (shown != m_peekID) {
        m_peekID = shown;
        if (Presence::of(m_peek)->shown())
            Presence::of(m_peek)->retire(timing);
        else
            delete m_peek;
        m_peek = makePeek();
        if (peeking)
            static_cast<CatCorner *>(m_peek)->setText(moment->text);
    }
    layoutScenes();
    Presence::of(m_peek)->set(peeking, timing);
    for (QWidget *scene : {m_veil, static_cast<QWidget *>(m_layer), m_company, m_wait, m_failure, m_outdated})
        scene->raise();
    // The cats peeking in, the leaving ones included, are over the page's own cat.
    for (auto *peek : directChildren<CatCorner>(this))
        if (peek != m_company)
            peek->stackUnder(m_wait);
}

QWidget *WebWorkspaceScreen::makePeek()
{
    auto *peek = new CatCorner(CompanionState::perch, this);
    peek->setVariant(m_variant);
    new Presence(peek, Presence::Way::rise);
    return peek;
}

double WebWorkspaceScreen::waitedSeconds() const { return static_cast<WebWait *>(m_wait)->walked(); }

double WebWorkspaceScreen::pageOpacity() const { return 1.0 - Presence::of(m_veil)->value(); }

bool WebWorkspaceScreen::animating() const
{
    for (const QWidget *layer : directChildren<QWidget>(this))
        if (const Presence *presence = Presence::of(layer); presence && presence->moving())
            return true;
    return false;
}

QString WebWorkspaceScreen::softwareUpdater()
{
    // GNOME, KDE and Ubuntu's own; other desktops update through their package tools.
    for (const char *tool : {"gnome-software", "plasma-discover", "update-manager"}) {
        if (const QString path = QStandardPaths::findExecutable(QString::fromLatin1(tool)); !path.isEmpty())
            return path;
    }
    return {};
}

void WebWorkspaceScreen::adoptWebView()
{
    QWebEngineView *view = m_web ? m_web->webView() : nullptr;
    if (!view || view->parentWidget() == m_host)
        return;
    view->setParent(m_host);
    view->setGeometry(m_host->rect());
    view->show();
}

void WebWorkspaceScreen::layoutScenes()
{
    const QRect all = rect();
    m_host->setGeometry(all);
    if (m_web && m_web->webView() && m_web->webView()->parentWidget() == m_host)
        m_web->webView()->setGeometry(m_host->rect());
    for (QWidget *scene : {m_veil, static_cast<QWidget *>(m_layer), m_wait, m_failure, m_outdated})
        scene->setGeometry(all);
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    auto *company = static_cast<CatCorner *>(m_company);
    // Room round the figure for what it draws past its frame (ears, tail).
    constexpr int kSpill = 8;
    const QSize cat = company->figureSize().toSize();
    const int x = rtl ? 44 - kSpill : width() - 44 - cat.width() - kSpill;
    m_company->setGeometry(x, height() - 64 - cat.height() - kSpill, cat.width() + 2 * kSpill,
                           cat.height() + 2 * kSpill);
    auto *peek = static_cast<CatCorner *>(m_peek);
    // The stack sits bottom-trailing, 96 from the trailing edge.
    const int stack = int(std::ceil(peek->stackWidth()));
    const QSize peekSize(stack + 2 * kSpill, int(peek->figureSize().height()) + 160);
    const int px = rtl ? 96 - kSpill : width() - 96 - stack - kSpill;
    // It rises from as far below as the screen is tall: its frame fills the screen.
    Presence::of(m_peek)->place(QRect(px, height() - peekSize.height(), peekSize.width(), peekSize.height()), height());
}

void WebWorkspaceScreen::resizeEvent(QResizeEvent *) { layoutScenes(); }

void WebWorkspaceScreen::showEvent(QShowEvent *) { refresh(AnimationTiming::immediate()); }

void WebWorkspaceScreen::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), paper(appearance()));
}
