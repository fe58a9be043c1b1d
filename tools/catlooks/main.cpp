// Renders the bundled filmed cat looks from the drawn figure, in fur colours of
// their own: per look a folder with its looping clips (animated WebP with alpha),
// face, portrait, live face, poster and in-window pose pictures, and the
// manifest.json that describes them. Run by the build into the build tree's
// bundle folder:
//
//   QT_QPA_PLATFORM=offscreen catlooks <Cats folder>

#include "AnimatedWebP.h"

#include "companion/CompanionFigure.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QSaveFile>

#include <cmath>
#include <numbers>
#include <cstdio>
#include <functional>

namespace {

using S = CompanionState;

// A clip frame is the figure's design frame with a margin for the tail, the
// paws, the sleep marks and the shadows, at twice the point size.
constexpr double kMargin = 12;
constexpr double kFrameW = CompanionFigure::kWidth + 2 * kMargin;  // 108 points
constexpr double kFrameH = CompanionFigure::kHeight + 2 * kMargin; // 86 points
constexpr double kPixelScale = 2;

struct LookSpec {
    const char *folder;
    const char *id;
    const char *name;
    QColor fur, cream, amber, paper;
};

const LookSpec kLooks[] = {
    {"ginger", "ginger", "Ginger", QColor(0xC2, 0x6A, 0x2E), QColor(0xF6, 0xE7, 0xD2), QColor(0x2F, 0x7E, 0x86),
     QColor(0xFB, 0xF8, 0xF2)},
    {"smoke", "smoke", "Smoke", QColor(0x66, 0x6E, 0x7C), QColor(0xE9, 0xE7, 0xE2), QColor(0xB8, 0x3B, 0x4B),
     QColor(0xF9, 0xF8, 0xF5)},
};

// Where the figure's paws stand and where the cushion of the nest clip lies, in
// design points.
constexpr double kFeetY = CompanionFigure::kHeight;
constexpr double kCushionTop = 57;
const QRectF kCushion(12, kCushionTop, 60, 9);

struct ClipSpec {
    const char *name;
    S state;
    double seconds; // one phase cycle of the state, so the loop is seamless
    int frames;
    bool cushion = false;
    // The square around the head, in design points (centre x, centre y, side).
    std::optional<QRectF> head = std::nullopt;
};

QRectF headAround(double cx, double cy, double side) { return {cx - side / 2, cy - side / 2, side, side}; }

const ClipSpec kClips[] = {
    {"idle", S::idle, 1 / 0.45, 20, false, headAround(57, 23, 44)},
    {"groom", S::groom, 1 / 1.4, 10, false, headAround(57, 23, 44)},
    {"walk", S::walk, 1 / 2.1, 8, false, headAround(57, 23, 44)},
    {"air", S::carried, 1, 1},
    {"sleep", S::sleep, 1 / 0.32, 24, false, headAround(60, 37, 38)},
    {"perch", S::perch, 1 / 0.4, 20, false, headAround(57, 17, 44)},
    {"nest", S::nest, 1 / 0.4, 20, true, headAround(57, 17, 44)},
};

CompanionFigure figureOf(const LookSpec &look, const CompanionPose &pose)
{
    CompanionFigure figure(pose);
    figure.fur = look.fur;
    figure.cream = look.cream;
    figure.amber = look.amber;
    figure.paper = look.paper;
    figure.marks = QColor(0x7A, 0x6B, 0x56);
    return figure;
}

void cushion(QPainter &p, const LookSpec &look)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(look.amber.darker(115));
    p.drawRoundedRect(kCushion, 4.5, 4.5);
    p.setBrush(look.amber.lighter(125));
    p.drawRoundedRect(kCushion.adjusted(3, 1.5, -3, -5), 2, 2);
    p.restore();
}

// The pose at `t` (0...1) through the clip's cycle.
CompanionPose poseAt(const ClipSpec &clip, double t, int frame)
{
    CompanionPose pose;
    pose.state = clip.state;
    pose.phase = t;
    // A blink now and then keeps the awake clips alive.
    if (clip.state == S::idle || clip.state == S::perch || clip.state == S::nest)
        pose.blink = frame == clip.frames * 3 / 4;
    return pose;
}

// Draws with the design frame's origin at `origin` scaled by `scale`.
QImage render(QSize pixels, const std::function<void(QPainter &)> &draw, const QColor &background = Qt::transparent)
{
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return image;
}

QImage clipFrame(const LookSpec &look, const ClipSpec &clip, const CompanionPose &pose)
{
    const QSize pixels(int(kFrameW * kPixelScale), int(kFrameH * kPixelScale));
    return render(pixels, [&](QPainter &p) {
        p.scale(kPixelScale, kPixelScale);
        p.translate(kMargin, kMargin);
        if (clip.cushion)
            cushion(p, look);
        figureOf(look, pose).paint(p);
    });
}

// The part `box` of the design frame, drawn into a square of `side` pixels.
QImage crop(const LookSpec &look, const CompanionPose &pose, const QRectF &box, int side,
            const QColor &background = Qt::transparent)
{
    return render(QSize(side, side), [&](QPainter &p) {
        p.scale(side / box.width(), side / box.height());
        p.translate(-box.topLeft());
        figureOf(look, pose).paint(p);
    }, background);
}

bool save(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        std::fprintf(stderr, "catlooks: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool saveImage(const QString &path, const QImage &image, const char *format, int quality = -1)
{
    if (!image.save(path, format, quality)) {
        std::fprintf(stderr, "catlooks: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// Frame durations in whole milliseconds that add up to the cycle exactly.
QList<int> durations(double seconds, int frames)
{
    QList<int> out;
    const double total = seconds * 1000;
    int used = 0;
    for (int i = 1; i <= frames; ++i) {
        const int until = int(std::lround(total * i / frames));
        out.append(until - used);
        used = until;
    }
    return out;
}

QJsonObject writeClip(const QString &folder, const LookSpec &look, const ClipSpec &clip, bool &ok)
{
    QList<AnimatedWebP::Frame> frames;
    const QList<int> ms = durations(clip.seconds, clip.frames);
    for (int i = 0; i < clip.frames; ++i)
        frames.append({clipFrame(look, clip, poseAt(clip, double(i) / clip.frames, i)), ms[i]});
    const QString file = QLatin1String(clip.name) + QStringLiteral(".webp");
    // Lossless: quicker to decode than lossy with alpha (measured), and exact.
    const QByteArray webp = AnimatedWebP::encode(frames, 100);
    ok = ok && !webp.isEmpty() && save(folder + u'/' + file, webp);

    auto frac = [](double v) { return std::round(v * 1e6) / 1e6; };
    QJsonObject o{
        {QStringLiteral("file"), file},
        {QStringLiteral("height"), kFrameH},
        {QStringLiteral("pixelWidth"), kFrameW * kPixelScale},
        {QStringLiteral("pixelHeight"), kFrameH * kPixelScale},
        {QStringLiteral("floor"), frac((kMargin + kFeetY) / kFrameH)},
        {QStringLiteral("facing"), 1},
    };
    if (clip.cushion) {
        o.insert(QStringLiteral("prop"),
                 QJsonObject{{QStringLiteral("centerX"), frac((kMargin + kCushion.center().x()) / kFrameW)},
                             {QStringLiteral("top"), frac((kMargin + kCushionTop) / kFrameH)}});
    }
    if (clip.head) {
        const QRectF h = *clip.head;
        o.insert(QStringLiteral("head"), QJsonObject{{QStringLiteral("x"), (kMargin + h.x()) * kPixelScale},
                                                     {QStringLiteral("y"), (kMargin + h.y()) * kPixelScale},
                                                     {QStringLiteral("size"), h.width() * kPixelScale}});
    }
    return o;
}

bool writeLook(const QString &cats, const LookSpec &look)
{
    const QString folder = cats + u'/' + QLatin1String(look.folder);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "catlooks: cannot make %s\n", qPrintable(folder));
        return false;
    }
    QFile::remove(folder + QStringLiteral("/manifest.json"));
    bool ok = true;
    QJsonObject clips;
    for (const ClipSpec &clip : kClips)
        clips.insert(QLatin1String(clip.name), writeClip(folder, look, clip, ok));

    // Faces: the idle head, cropped square.
    const QRectF head = headAround(57, 23, 44);
    const QColor warmPaper(0xF6, 0xF1, 0xE7);
    auto face = [&](std::function<void(CompanionPose &)> expression, QRectF box = QRectF()) {
        CompanionPose pose;
        expression(pose);
        return crop(look, pose, box.isNull() ? head : box, 128);
    };
    ok = ok && saveImage(folder + QStringLiteral("/face.jpg"), crop(look, {}, head, 128, warmPaper), "JPEG", 90);
    ok = ok && saveImage(folder + QStringLiteral("/face-neutral.png"), face([](auto &) {}), "PNG");
    ok = ok && saveImage(folder + QStringLiteral("/face-happy.png"), face([](auto &p) {
        p.state = S::pounce;
        p.progress = 0.5;
        p.gaze = QPointF(0, 0.8);
    }, head.translated(0, -14)), "PNG");
    ok = ok && saveImage(folder + QStringLiteral("/face-concerned.png"),
                         face([](auto &p) { p.gaze = QPointF(-0.4, -1); }), "PNG");
    ok = ok && saveImage(folder + QStringLiteral("/face-curious.png"),
                         face([](auto &p) { p.gaze = QPointF(1, 0.7); }), "PNG");
    {
        CompanionPose sitting;
        sitting.state = S::perch;
        ok = ok && saveImage(folder + QStringLiteral("/portrait.jpg"),
                             crop(look, sitting, QRectF(-6, -6, 92, 92), 256, warmPaper), "JPEG", 90);
    }
    {
        // The live face: the idle head breathing and blinking once, two seconds a loop.
        QList<AnimatedWebP::Frame> frames;
        for (int i = 0; i < 16; ++i) {
            CompanionPose pose;
            pose.phase = i / 16.0;
            pose.blink = i == 11;
            pose.gaze = QPointF(0.3 * std::sin(i / 16.0 * 2 * std::numbers::pi), 0);
            frames.append({crop(look, pose, head, 128), 125});
        }
        const QByteArray live = AnimatedWebP::encode(frames, 100);
        ok = ok && !live.isEmpty() && save(folder + QStringLiteral("/face-live.webp"), live);
    }
    ok = ok && saveImage(folder + QStringLiteral("/poster.png"), clipFrame(look, kClips[0], {}), "PNG");

    // The cat inside the workspace window: one picture per pose word.
    struct Pose {
        const char *word;
        std::function<void(CompanionPose &)> set;
    };
    const Pose poses[] = {
        {"leap", [](auto &p) { p.state = S::jump; p.verticalSpeed = 300; }},
        {"happy", [](auto &p) { p.state = S::pounce; p.progress = 0.5; }},
        {"curious", [](auto &p) { p.gaze = QPointF(1, 0.7); }},
        {"concerned", [](auto &p) { p.state = S::nest; p.gaze = QPointF(-0.4, -1); }},
        {"sleepy", [](auto &p) { p.state = S::sleep; p.phase = 0.1; }},
        {"sit", [](auto &p) { p.state = S::nest; }},
    };
    for (const Pose &pose : poses) {
        CompanionPose p;
        pose.set(p);
        ok = ok && saveImage(folder + u'/' + QLatin1String(pose.word) + QStringLiteral(".png"),
                             clipFrame(look, ClipSpec{pose.word, p.state, 1, 1}, p), "PNG");
    }

    const QJsonObject manifest{
        {QStringLiteral("id"), QLatin1String(look.id)},
        {QStringLiteral("name"), QJsonObject{{QStringLiteral("en"), QLatin1String(look.name)}}},
        {QStringLiteral("walkSpeed"), 68},
        {QStringLiteral("width"), CompanionFigure::kWidth},
        {QStringLiteral("height"), CompanionFigure::kHeight},
        {QStringLiteral("clips"), clips},
    };
    // The manifest last: a look whose files failed has none and is skipped.
    return ok && save(folder + QStringLiteral("/manifest.json"), QJsonDocument(manifest).toJson());
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: catlooks <Cats folder>\n");
        return 2;
    }
    bool ok = true;
    for (const LookSpec &look : kLooks)
        ok = writeLook(args[0], look) && ok;
    return ok ? 0 : 1;
}
