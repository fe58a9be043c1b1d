// One window-topology snapshot of 50 managed windows on a real X server, and the
// ledges cut from it. Run inside an X session with a window manager:
//   tests/rig/xsession -- build/bench/companion_topology_bench
#include <benchmark/benchmark.h>

#include "companion/WindowTopology.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QScreen>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstring>

namespace {

double g_primaryHeight = 800;

void BM_Snapshot50(benchmark::State &state)
{
    size_t windows = 0;
    for (auto _ : state) {
        auto list = WindowTopology::snapshot({}, g_primaryHeight);
        windows = list.size();
        benchmark::DoNotOptimize(list);
    }
    state.counters["windows"] = double(windows);
}
BENCHMARK(BM_Snapshot50)->Unit(benchmark::kMicrosecond);

void BM_SnapshotAndLedges50(benchmark::State &state)
{
    size_t ledges = 0;
    for (auto _ : state) {
        auto list = WindowTopology::ledges(WindowTopology::snapshot({}, g_primaryHeight), 90);
        ledges = list.size();
        benchmark::DoNotOptimize(list);
    }
    state.counters["ledges"] = double(ledges);
}
BENCHMARK(BM_SnapshotAndLedges50)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    g_primaryHeight = QGuiApplication::primaryScreen()->geometry().height();
    // Another client's 50 windows, staggered so their tops cut one another.
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    for (int i = 0; i < 50; ++i) {
        const xcb_window_t w = xcb_generate_id(c);
        const uint32_t values[] = {screen->white_pixel};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, int16_t(20 + (i % 10) * 90),
                          int16_t(60 + (i / 10) * 110), 400, 250, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL, values);
        const QByteArray title = "Window " + QByteArray::number(i);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            uint32_t(title.size()), title.constData());
        xcb_map_window(c, w);
    }
    xcb_flush(c);
    QDeadlineTimer deadline(30000);
    while (WindowTopology::snapshot({}, g_primaryHeight).size() < 50 && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    std::printf("windows managed: %zu\n", WindowTopology::snapshot({}, g_primaryHeight).size());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    xcb_disconnect(c);
    return 0;
}
