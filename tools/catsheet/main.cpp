// Renders every pose of the drawn cat over a phase cycle, facing both ways,
// blinking and with gaze, plus speech bubbles with short, long and
// right-to-left text, into one PNG.
//
//   QT_QPA_PLATFORM=offscreen catsheet [out.png] [--scale 2]

#include "companion/CompanionFigure.h"
#include "companion/SpeechBubble.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>

#include <cstdio>

namespace {

constexpr double kCell = 100;   // a cell holds the 84 x 62 frame with room for overflow
constexpr double kCellH = 92;
constexpr double kLabelW = 120;
constexpr int kPhases = 8;

void drawFrameGuide(QPainter &p, QPointF at)
{
    p.save();
    p.setPen(QPen(QColor(0, 0, 0, 30), 0.5, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(at, QSizeF(CompanionFigure::kWidth, CompanionFigure::kHeight)));
    p.restore();
}

void label(QPainter &p, const QRectF &r, const QString &text, int flags = Qt::AlignLeft | Qt::AlignVCenter)
{
    p.save();
    p.setPen(QColor(60, 60, 60));
    QFont f;
    f.setPixelSize(11);
    p.setFont(f);
    p.drawText(r, flags, text);
    p.restore();
}

void cat(QPainter &p, QPointF at, const CompanionPose &pose)
{
    drawFrameGuide(p, at);
    p.save();
    p.translate(at);
    CompanionFigure(pose).paint(p);
    p.restore();
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QString out = QStringLiteral("catsheet.png");
    double scale = 2;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--scale") && i + 1 < args.size())
            scale = args[++i].toDouble();
        else
            out = args[i];
    }

    // Rows: each state facing right then left, then details.
    const int stateRows = int(kAllCompanionStates.size()) * 2;
    const int detailRows = 4;
    const double width = kLabelW + kPhases * kCell + 20;
    const double sheetTop = 34;
    const double catsHeight = (stateRows + detailRows) * kCellH;
    const double bubbleTop = sheetTop + catsHeight + 10;
    const double height = bubbleTop + 420;

    QImage image(QSize(int(width * scale), int(height * scale)), QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(0xE9, 0xE8, 0xE4));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);

    label(p, QRectF(10, 0, width, 16), QStringLiteral("Drawn cat: phase 0 ... 7/8 across; facing right (+1) and left (-1)"));
    for (int i = 0; i < kPhases; ++i)
        label(p, QRectF(kLabelW + i * kCell, 18, kCell, 14), QStringLiteral("phase %1/8").arg(i), Qt::AlignHCenter);

    double y = sheetTop;
    for (CompanionState state : kAllCompanionStates) {
        for (double facing : {1.0, -1.0}) {
            label(p, QRectF(10, y, kLabelW - 10, kCellH),
                  QStringLiteral("%1 %2").arg(rawValue(state), facing > 0 ? QStringLiteral("→") : QStringLiteral("←")));
            for (int i = 0; i < kPhases; ++i) {
                CompanionPose pose;
                pose.state = state;
                pose.facing = facing;
                pose.phase = double(i) / kPhases;
                // Stretch and pounce run on progress; airborne poses on vertical speed.
                pose.progress = double(i) / (kPhases - 1);
                if (state == CompanionState::jump)
                    pose.verticalSpeed = 600 - 1200.0 * i / (kPhases - 1);
                if (state == CompanionState::fall)
                    pose.verticalSpeed = -60.0 * i;
                cat(p, QPointF(kLabelW + i * kCell + 8, y + 14), pose);
            }
            y += kCellH;
        }
    }

    // Blinking and gaze: idle cat, eyes shut, then eight gaze directions.
    label(p, QRectF(10, y, kLabelW - 10, kCellH), QStringLiteral("blink, gaze"));
    {
        CompanionPose pose;
        pose.blink = true;
        cat(p, QPointF(kLabelW + 8, y + 14), pose);
        const QPointF gazes[] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}};
        for (int i = 0; i < 7; ++i) {
            CompanionPose g;
            g.gaze = gazes[i];
            cat(p, QPointF(kLabelW + (i + 1) * kCell + 8, y + 14), g);
        }
    }
    y += kCellH;
    label(p, QRectF(10, y, kLabelW - 10, kCellH), QStringLiteral("gaze, facing ←"));
    {
        const QPointF gazes[] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}};
        for (int i = 0; i < 8; ++i) {
            CompanionPose g;
            g.facing = -1;
            g.gaze = gazes[i];
            if (i == 0)
                g.blink = true;
            cat(p, QPointF(kLabelW + i * kCell + 8, y + 14), g);
        }
    }
    y += kCellH;
    // Airborne turns at the thresholds and sizes.
    label(p, QRectF(10, y, kLabelW - 10, kCellH), QStringLiteral("vs 41/40/0/-40/-41"));
    {
        const double speeds[] = {41, 40, 0, -40, -41};
        for (int i = 0; i < 5; ++i) {
            CompanionPose g;
            g.state = CompanionState::carried;
            g.verticalSpeed = speeds[i];
            cat(p, QPointF(kLabelW + i * kCell + 8, y + 14), g);
        }
    }
    y += kCellH;
    label(p, QRectF(10, y, kLabelW - 10, kCellH), QStringLiteral("scale 0.5x / 1.5x"));
    {
        CompanionPose g;
        g.state = CompanionState::walk;
        g.phase = 0.25;
        p.save();
        p.translate(kLabelW + 8, y + 30);
        p.scale(0.5, 0.5);
        CompanionFigure(g).paint(p);
        p.restore();
        p.save();
        p.translate(kLabelW + kCell + 8, y);
        p.scale(1.4, 1.4);
        g.state = CompanionState::sleep;
        g.phase = 0.1;
        CompanionFigure(g).paint(p);
        p.restore();
    }

    // Speech bubbles.
    label(p, QRectF(10, bubbleTop, width, 16), QStringLiteral("Speech bubbles (tail bottom / top / offsets / none)"));
    struct Sample {
        QString text;
        BubbleShape::Edge edge;
        double offset;
        double tail;
    };
    const Sample samples[] = {
        {QStringLiteral("Published."), BubbleShape::Edge::bottom, 0, 10},
        {QStringLiteral("Published. Link is in the plan."), BubbleShape::Edge::top, -200, 10},
        {QStringLiteral("A long line that the cat says when it has a lot on its mind: the plan, the grid, the next "
                        "reel, and whether anyone remembered the snacks. It keeps going well past four lines so the "
                        "bubble has to stop and elide the rest of it."),
         BubbleShape::Edge::bottom, 200, 10},
        {QString::fromUtf8("تم النشر. الرابط موجود في الخطة."), BubbleShape::Edge::bottom, -40, 10},
        {QString::fromUtf8("פורסם. הקישור נמצא בתוכנית, ואפשר לפתוח אותו מכל מקום בסביבת העבודה שלך "
                           "כשתרצה לבדוק איך זה נראה."),
         BubbleShape::Edge::top, 30, 12},
        {QStringLiteral("No tail."), BubbleShape::Edge::bottom, 0, 0},
        {QStringLiteral("Hi"), BubbleShape::Edge::bottom, 0, 10},
    };
    double bx = 20, by = bubbleTop + 24, rowH = 0;
    for (const Sample &s : samples) {
        SpeechBubble bubble{s.text, s.offset, s.edge, s.tail};
        const QSizeF size = bubble.size();
        if (bx + size.width() > width - 10) {
            bx = 20;
            by += rowH + 24;
            rowH = 0;
        }
        p.save();
        p.translate(bx, by);
        bubble.paint(p);
        p.restore();
        bx += size.width() + 30;
        rowH = std::max(rowH, size.height());
    }
    p.end();
    if (!image.save(out)) {
        std::fprintf(stderr, "catsheet: cannot write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("%s\n", qPrintable(out));
    return 0;
}
