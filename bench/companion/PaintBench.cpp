// Painting the drawn cat and its speech bubble into a frame-sized image at 1x
// and 2x, as the companion's panel does every frame.
#include <benchmark/benchmark.h>

#include "companion/CompanionFigure.h"
#include "companion/ShadowPainter.h"
#include "companion/SpeechBubble.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

namespace {

void paintFigure(benchmark::State &state, CompanionState pose, double scale, bool wholeImage = false)
{
    ShadowPainter::workOnWholeImage(wholeImage);
    QImage target(int(200 * scale), int(160 * scale), QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(scale);
    CompanionPose p;
    p.state = pose;
    p.phase = 0.3;
    int frame = 0;
    for (auto _ : state) {
        p.phase = (frame++ % 30) / 30.0;
        QPainter painter(&target);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(QRectF(0, 0, 200, 160), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.translate(50.3, 40.7); // a fractional position, as on screen
        CompanionFigure(p).paint(painter);
    }
    ShadowPainter::workOnWholeImage(false);
}

// The figure alone, without its shadows, for comparison.
void BM_FigureBodyOnly1x(benchmark::State &state)
{
    QImage target(200, 160, QImage::Format_ARGB32_Premultiplied);
    CompanionPose p;
    p.state = CompanionState::walk;
    for (auto _ : state) {
        QPainter painter(&target);
        painter.translate(50.3, 40.7);
        CompanionFigure(p).paintBody(painter);
    }
}
BENCHMARK(BM_FigureBodyOnly1x)->Unit(benchmark::kMicrosecond);

void BM_FigureWalk1x(benchmark::State &s) { paintFigure(s, CompanionState::walk, 1); }
void BM_FigureWalk2x(benchmark::State &s) { paintFigure(s, CompanionState::walk, 2); }
void BM_FigureSleep1x(benchmark::State &s) { paintFigure(s, CompanionState::sleep, 1); }
void BM_FigureSleep2x(benchmark::State &s) { paintFigure(s, CompanionState::sleep, 2); }
// Shadows worked over the whole image, as before they were limited to the drawing's span.
void BM_FigureWalkWhole1x(benchmark::State &s) { paintFigure(s, CompanionState::walk, 1, true); }
void BM_FigureWalkWhole2x(benchmark::State &s) { paintFigure(s, CompanionState::walk, 2, true); }
BENCHMARK(BM_FigureWalkWhole1x)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FigureWalkWhole2x)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FigureWalk1x)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FigureWalk2x)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FigureSleep1x)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FigureSleep2x)->Unit(benchmark::kMicrosecond);

void paintBubble(benchmark::State &state, const QString &text, double scale)
{
    QImage target(int(340 * scale), int(160 * scale), QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(scale);
    const SpeechBubble bubble{text, 20, BubbleShape::Edge::bottom, 10};
    for (auto _ : state) {
        QPainter painter(&target);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(QRectF(0, 0, 340, 160), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.translate(20, 20);
        bubble.paint(painter);
    }
}

const QString kShort = QStringLiteral("Published. Link is in the plan.");
const QString kLong = QStringLiteral("Time for a break: you have been at it for fifty minutes. Stretch, drink some "
                                     "water, look out of the window; I will keep your place in the plan.");

void BM_BubbleShort1x(benchmark::State &s) { paintBubble(s, kShort, 1); }
void BM_BubbleShort2x(benchmark::State &s) { paintBubble(s, kShort, 2); }
void BM_BubbleLong1x(benchmark::State &s) { paintBubble(s, kLong, 1); }
void BM_BubbleLong2x(benchmark::State &s) { paintBubble(s, kLong, 2); }
BENCHMARK(BM_BubbleShort1x)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BubbleShort2x)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BubbleLong1x)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BubbleLong2x)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
