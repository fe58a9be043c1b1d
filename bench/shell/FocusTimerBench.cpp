// Painting the focus timer's face into an image of its size at 1x and 2x, as
// the panel does each second while a round runs. Runs offscreen.
#include <benchmark/benchmark.h>

#include "app/AppModel.h"
#include "base/Clock.h"
#include "base/DefaultsStore.h"
#include "shell/FocusTimerView.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

namespace {

void paintFace(benchmark::State &state, bool compact, double scale)
{
    DefaultsStore store;
    FakeClock clock;
    AppModel::Environment environment;
    environment.defaults = &store;
    environment.clock = &clock;
    AppModel model(environment);
    model.startFocus(25);
    FocusTimerView view(model, compact);
    QImage target(view.size() * scale, QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(scale);
    for (auto _ : state) {
        // A new second each time, so no text layout is reused from the last paint.
        clock.advance(std::chrono::seconds(1));
        target.fill(Qt::transparent);
        QPainter painter(&target);
        view.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    }
}

void BM_FullFace1x(benchmark::State &s) { paintFace(s, false, 1); }
void BM_FullFace2x(benchmark::State &s) { paintFace(s, false, 2); }
void BM_CompactFace2x(benchmark::State &s) { paintFace(s, true, 2); }
BENCHMARK(BM_FullFace1x)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullFace2x)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompactFace2x)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
