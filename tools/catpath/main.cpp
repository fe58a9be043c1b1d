// Runs the seeded brain for 60 simulated seconds at 30 frames a second in a
// described world (a 1440 x 900 screen with a floor above the dock, three
// overlapping windows whose visible top edges are the ledges, and a cursor) and
// draws the cat's path, coloured by state, with its landings and naps marked.
//
// Panels: several seeds left to themselves, then one scripted run in which the
// coordinator sends the cat to visit two windows, celebrates, and closes the
// window the cat stands on.
//
//   QT_QPA_PLATFORM=offscreen catpath [out.png] [--seeds 4] [--hour 9]
//                                     [--temper lively|calm] [--hungry] [--seconds 60]

#include "companion/CompanionBrain.h"
#include "companion/CompanionFigure.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <map>

namespace {

constexpr double kScreenW = 1440, kScreenH = 900;
constexpr double kPanelScale = 0.5;
constexpr double kPanelW = kScreenW * kPanelScale, kPanelH = kScreenH * kPanelScale;
constexpr double kFrame = 1.0 / 30;

QColor stateColor(CompanionState s)
{
    switch (s) {
    case CompanionState::idle: return QColor(120, 120, 120);
    case CompanionState::groom: return QColor(160, 100, 200);
    case CompanionState::walk: return QColor(30, 140, 60);
    case CompanionState::jump: return QColor(220, 120, 20);
    case CompanionState::fall: return QColor(210, 40, 40);
    case CompanionState::sleep: return QColor(40, 80, 200);
    case CompanionState::perch:
    case CompanionState::nest: return QColor(0, 150, 160);
    case CompanionState::stretch: return QColor(200, 170, 0);
    case CompanionState::pounce: return QColor(230, 60, 150);
    case CompanionState::carried: return QColor(0, 0, 0);
    }
    return Qt::black;
}

struct Sample {
    double t;
    CompanionPose pose;
};

struct Event {
    double t;
    QPointF at;
    QString text;
};

struct Run {
    QString title;
    std::vector<Sample> samples;
    std::vector<Event> events;
    std::vector<WindowInfo> windowsAtEnd;
    CompanionWorld worldAtEnd;
};

std::vector<WindowInfo> describedWindows()
{
    // Front to back, y-up frames.
    return {
        {101, 4001, QStringLiteral("Editor"), QRectF(620, 260, 560, 340)},   // top at 600
        {102, 4002, QStringLiteral("Browser"), QRectF(180, 200, 620, 560)},  // top at 760, cut by nothing above
        {103, 4003, QStringLiteral("Terminal"), QRectF(900, 120, 460, 310)}, // top at 430, partly under the editor
    };
}

CompanionWorld worldFor(const std::vector<WindowInfo> &windows, double hour, CompanionTemper temper, bool hungry)
{
    CompanionWorld world(QRectF(0, 0, kScreenW, kScreenH), 70);
    world.ceilingY = kScreenH - 25;
    world.ledges = WindowTopology::ledges(windows, 90);
    world.cursor = QPointF(760, 180);
    world.hour = int(hour);
    world.temper = temper;
    world.hungry = hungry;
    return world;
}

QString signalText(const CompanionSignal &s)
{
    switch (s.kind) {
    case CompanionSignal::Kind::arrived: return QStringLiteral("arrived");
    case CompanionSignal::Kind::landed: return QStringLiteral("landed");
    case CompanionSignal::Kind::fellAsleep: return QStringLiteral("fell asleep");
    case CompanionSignal::Kind::wokeUp: return QStringLiteral("woke up");
    }
    return {};
}

// Runs one brain; `script` may change the world or call the brain at a frame.
Run simulate(const QString &title, std::uint64_t seed, double seconds, int hour, CompanionTemper temper, bool hungry,
             const std::function<void(int frame, CompanionBrain &, std::vector<WindowInfo> &, Run &)> &script = {})
{
    Run run;
    run.title = title;
    std::vector<WindowInfo> windows = describedWindows();
    CompanionBrain brain = CompanionBrain::start(seed, QPointF(300, 70));
    const int frames = int(seconds * 30);
    CompanionState last = brain.pose.state;
    std::printf("== %s\n", qPrintable(title));
    for (int f = 0; f < frames; ++f) {
        if (script)
            script(f, brain, windows, run);
        const CompanionWorld world = worldFor(windows, hour, temper, hungry);
        const auto frameSignals = brain.tick(kFrame, world);
        const double t = (f + 1) * kFrame;
        run.samples.push_back({t, brain.pose});
        QStringList names;
        for (const auto &s : frameSignals)
            names << signalText(s);
        if (!names.isEmpty())
            run.events.push_back({t, brain.pose.position, names.join(QStringLiteral(" + "))});
        for (const auto &s : frameSignals) {
            std::printf("%7.2fs  signal %-11s at (%.0f, %.0f)\n", t, qPrintable(signalText(s)), brain.pose.position.x(),
                        brain.pose.position.y());
        }
        if (brain.pose.state != last) {
            std::printf("%7.2fs  %-8s -> %-8s at (%.0f, %.0f)  for %.1fs\n", t, qPrintable(rawValue(last)),
                        qPrintable(rawValue(brain.pose.state)), brain.pose.position.x(), brain.pose.position.y(),
                        brain.stateDuration);
            last = brain.pose.state;
        }
        run.worldAtEnd = world;
    }
    run.windowsAtEnd = windows;
    return run;
}

// Screen (y up) to panel (y down).
QPointF toPanel(QPointF p) { return QPointF(p.x() * kPanelScale, (kScreenH - p.y()) * kPanelScale); }

void drawPanel(QPainter &p, QPointF origin, const Run &run)
{
    p.save();
    p.translate(origin);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF6, 0xF5, 0xF2));
    p.drawRect(QRectF(0, 0, kPanelW, kPanelH));

    // Windows, back to front, so the front ones cover.
    const auto &windows = run.windowsAtEnd;
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        const QRectF &f = it->frame;
        const QRectF r(toPanel(QPointF(f.x(), geo::maxY(f))), QSizeF(f.width() * kPanelScale, f.height() * kPanelScale));
        p.setPen(QPen(QColor(150, 150, 150), 1));
        p.setBrush(QColor(225, 228, 235));
        p.drawRect(r);
        p.setPen(QColor(110, 110, 110));
        p.drawText(r.adjusted(4, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("%1 #%2").arg(it->ownerName).arg(it->number));
    }
    // Ledges, floor and ceiling.
    p.setPen(QPen(QColor(40, 40, 40), 2.5, Qt::SolidLine, Qt::FlatCap));
    for (const Ledge &l : run.worldAtEnd.ledges)
        p.drawLine(toPanel({l.minX, l.y}), toPanel({l.maxX, l.y}));
    p.setPen(QPen(QColor(90, 70, 40), 2, Qt::DashLine));
    p.drawLine(toPanel({0, run.worldAtEnd.floorY}), toPanel({kScreenW, run.worldAtEnd.floorY}));
    p.setPen(QPen(QColor(160, 160, 160), 1, Qt::DotLine));
    p.drawLine(toPanel({0, run.worldAtEnd.ceiling()}), toPanel({kScreenW, run.worldAtEnd.ceiling()}));
    // Cursor.
    if (run.worldAtEnd.cursor) {
        const QPointF c = toPanel(*run.worldAtEnd.cursor);
        p.setPen(QPen(QColor(200, 0, 0), 1.5));
        p.drawLine(c - QPointF(6, 0), c + QPointF(6, 0));
        p.drawLine(c - QPointF(0, 6), c + QPointF(0, 6));
    }

    // The path, one segment per frame in the state's colour.
    for (size_t i = 1; i < run.samples.size(); ++i) {
        const auto &a = run.samples[i - 1].pose, &b = run.samples[i].pose;
        p.setPen(QPen(stateColor(b.state), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(toPanel(a.position), toPanel(b.position));
    }
    // Signals.
    for (const Event &e : run.events) {
        const QPointF at = toPanel(e.at);
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(e.text.contains(QLatin1String("asleep"))    ? QColor(40, 80, 200)
                   : e.text.contains(QLatin1String("arrived")) ? QColor(0, 170, 0)
                                                                : QColor(255, 255, 255));
        p.drawEllipse(at, 3.5, 3.5);
        p.setPen(QColor(30, 30, 30));
        p.drawText(at + QPointF(5, -5), QStringLiteral("%1 %2s").arg(e.text).arg(e.t, 0, 'f', 1));
    }
    // Start, and the cat itself at the end (figure at panel scale, feet on the point).
    if (!run.samples.empty()) {
        const QPointF start = toPanel(QPointF(300, 70));
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::yellow);
        p.drawRect(QRectF(start - QPointF(4, 4), QSizeF(8, 8)));
        const CompanionPose &end = run.samples.back().pose;
        const QPointF feet = toPanel(end.position);
        p.save();
        p.translate(feet - QPointF(CompanionFigure::kWidth / 2 * kPanelScale, CompanionFigure::kHeight * kPanelScale));
        p.scale(kPanelScale, kPanelScale);
        CompanionFigure(end).paint(p);
        p.restore();
    }
    p.setPen(Qt::black);
    QFont f;
    f.setPixelSize(13);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(8, kPanelH - 22, kPanelW, 20), Qt::AlignLeft, run.title);
    p.restore();

    // A timeline of states under the panel.
    const double y = origin.y() + kPanelH + 4;
    const double total = run.samples.empty() ? 1 : run.samples.back().t;
    for (const Sample &s : run.samples) {
        const double x = origin.x() + s.t / total * kPanelW;
        p.setPen(QPen(stateColor(s.pose.state), 1.5));
        p.drawLine(QPointF(x, y), QPointF(x, y + 10));
    }
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QString out = QStringLiteral("catpath.png");
    int seeds = 4, hour = 9;
    double seconds = 60;
    bool hungry = false;
    CompanionTemper temper = CompanionTemper::lively;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--seeds") && i + 1 < args.size())
            seeds = args[++i].toInt();
        else if (a == QLatin1String("--hour") && i + 1 < args.size())
            hour = args[++i].toInt();
        else if (a == QLatin1String("--seconds") && i + 1 < args.size())
            seconds = args[++i].toDouble();
        else if (a == QLatin1String("--temper") && i + 1 < args.size())
            temper = companionTemperFromRaw(args[++i]).value_or(CompanionTemper::calm);
        else if (a == QLatin1String("--hungry"))
            hungry = true;
        else
            out = a;
    }

    std::vector<Run> runs;
    for (int s = 1; s <= seeds; ++s)
        runs.push_back(simulate(QStringLiteral("seed %1, %2, %3:00%4")
                                    .arg(s)
                                    .arg(rawValue(temper))
                                    .arg(hour)
                                    .arg(hungry ? QStringLiteral(", hungry") : QString()),
                                std::uint64_t(s), seconds, hour, temper, hungry));

    // Scripted: visit the browser's top, then the terminal's, celebrate there, then
    // the terminal closes under the cat.
    runs.push_back(simulate(
        QStringLiteral("seed 1, scripted: visit #102 @3s, #103 @15s, celebrate @30s, #103 closes @40s"), 1, seconds,
        hour, temper, hungry, [](int frame, CompanionBrain &brain, std::vector<WindowInfo> &windows, Run &) {
            const auto ledges = WindowTopology::ledges(windows, 90);
            auto ledgeOf = [&](int number) {
                for (const Ledge &l : ledges) {
                    if (l.windowNumber == number)
                        return l;
                }
                return Ledge{};
            };
            if (frame == 90)
                brain.request(CompanionGoal::visit(ledgeOf(102)));
            if (frame == 450) {
                brain.clearGoal();
                brain.request(CompanionGoal::visit(ledgeOf(103)));
            }
            if (frame == 900) {
                brain.clearGoal();
                brain.request(CompanionGoal::celebrate());
            }
            if (frame == 1200)
                std::erase_if(windows, [](const WindowInfo &w) { return w.number == 103; });
        }));

    const int cols = 2;
    const int rows = int((runs.size() + cols - 1) / cols);
    const double cellW = kPanelW + 20, cellH = kPanelH + 30;
    const double legendH = 30;
    const double scale = 1.5;
    QImage image(QSize(int((cols * cellW + 20) * scale), int((rows * cellH + legendH + 20) * scale)),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    // Legend.
    double lx = 20;
    QFont f;
    f.setPixelSize(12);
    p.setFont(f);
    for (CompanionState s : kAllCompanionStates) {
        p.setPen(QPen(stateColor(s), 4));
        p.drawLine(QPointF(lx, 18), QPointF(lx + 16, 18));
        p.setPen(Qt::black);
        p.drawText(QPointF(lx + 20, 22), rawValue(s));
        lx += 28 + QFontMetricsF(f).horizontalAdvance(rawValue(s));
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        const QPointF origin(10 + double(i % cols) * cellW, legendH + 10 + double(i / cols) * cellH);
        drawPanel(p, origin, runs[i]);
    }
    p.end();
    if (!image.save(out)) {
        std::fprintf(stderr, "catpath: cannot write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("%s\n", qPrintable(out));
    return 0;
}
