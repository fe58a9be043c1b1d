// The focus guard's scan and the window list it reads, over 50 windows of
// another application on a real X server with a window manager.
// Run: tests/rig/xsession -- build/bench/focus_bench
#include "focus/FocusGuard.h"
#include "focus/X11WindowSource.h"
#include "platform/X11.h"
#include "platform/X11WindowList.h"
#include "support/WindowHelperProcess.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>

namespace {

// The floor: one request and its reply, nothing batched.
void BM_OneRoundTrip(benchmark::State &state)
{
    xcb_connection_t *c = X11::connection();
    for (auto _ : state)
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}
BENCHMARK(BM_OneRoundTrip)->Unit(benchmark::kMicrosecond);

void BM_ReadClientWindows(benchmark::State &state)
{
    size_t windows = 0;
    for (auto _ : state) {
        auto list = X11::readClientWindows();
        windows = list.size();
        benchmark::DoNotOptimize(list);
    }
    state.counters["windows"] = double(windows);
}
BENCHMARK(BM_ReadClientWindows)->Unit(benchmark::kMicrosecond);

void BM_FocusGuardScan(benchmark::State &state)
{
    X11WindowSource source;
    size_t found = 0;
    for (auto _ : state) {
        auto list = FocusGuard::scan(source);
        found = list.size();
        benchmark::DoNotOptimize(list);
    }
    state.counters["found"] = double(found);
}
BENCHMARK(BM_FocusGuardScan)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (!X11::available()) {
        std::fprintf(stderr, "focus_bench needs an X11 session (tests/rig/xsession -- ...)\n");
        return 1;
    }
    QStringList titles;
    for (int i = 0; i < 50; ++i) {
        switch (i % 4) {
        case 0: titles << QStringLiteral("Reels • Instagram %1").arg(i); break;
        case 1: titles << QStringLiteral("Лента новостей — окно %1").arg(i); break;
        case 2: titles << QStringLiteral("Quarterly report %1.ods — LibreOffice").arg(i); break;
        default: titles << QStringLiteral("مستند %1").arg(i); break;
        }
    }
    zktest::WindowHelperProcess helper;
    if (!helper.start(QStringLiteral(ZK_WINDOW_HELPER), titles)) {
        std::fprintf(stderr, "the window helper did not show its windows\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
