// One brain tick against a world of 20 window ledges, in the states a frame
// most often sees.
#include <benchmark/benchmark.h>

#include "companion/CompanionBrain.h"

namespace {

CompanionWorld world20()
{
    CompanionWorld w(QRectF(0, 0, 2560, 1440), 70);
    for (int i = 0; i < 20; ++i) {
        const double x = 60 + (i % 5) * 480, y = 300 + (i / 5) * 250;
        w.ledges.push_back(Ledge{x, x + 400, y, 100 + i, x});
    }
    w.cursor = QPointF(900, 500);
    w.temper = CompanionTemper::lively;
    w.hour = 9;
    return w;
}

void BM_TickStandingOnAWindow(benchmark::State &state)
{
    const CompanionWorld w = world20();
    CompanionBrain b = CompanionBrain::start(1, QPointF(1000, 70));
    // Standing on the last window of the list: the support search runs over all of them.
    const Ledge &last = w.ledges.back();
    b.pose.position = QPointF(last.midX(), last.y);
    b.support = CompanionBrain::Support::onLedge(last);
    b.stateDuration = 1e9;
    for (auto _ : state) {
        auto s = b.tick(1.0 / 30, w);
        benchmark::DoNotOptimize(s);
        benchmark::DoNotOptimize(b.pose);
    }
}
BENCHMARK(BM_TickStandingOnAWindow);

void BM_TickFreeRunning(benchmark::State &state)
{
    // The cat left to itself: idles, walks, hops and sleeps over a long run.
    const CompanionWorld w = world20();
    CompanionBrain b = CompanionBrain::start(7, QPointF(1000, 70));
    for (auto _ : state) {
        auto s = b.tick(1.0 / 30, w);
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_TickFreeRunning);

void BM_TickWalkingWithAGoal(benchmark::State &state)
{
    const CompanionWorld w = world20();
    CompanionBrain proto = CompanionBrain::start(3, QPointF(200, 70));
    proto.request(CompanionGoal::visit(w.ledges[19]));
    CompanionBrain b = proto;
    int frames = 0;
    for (auto _ : state) {
        auto s = b.tick(1.0 / 30, w);
        benchmark::DoNotOptimize(s);
        if (++frames == 300) { // start over so the visit keeps being pursued
            b = proto;
            frames = 0;
        }
    }
}
BENCHMARK(BM_TickWalkingWithAGoal);

} // namespace

BENCHMARK_MAIN();
