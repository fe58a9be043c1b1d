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

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The X server's own processor time, so a figure can be told apart from the
// wait for a busy machine: the server's pid is the peer of our connection.
double serverCpuSeconds()
{
    static const pid_t pid = [] {
        ucred cred{};
        socklen_t size = sizeof cred;
        const int fd = xcb_get_file_descriptor(X11::connection());
        return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 ? cred.pid : pid_t(0);
    }();
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!pid || !std::getline(stat, line))
        return 0;
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14)
            ticks += std::stod(field); // utime and stime
    }
    return ticks / double(sysconf(_SC_CLK_TCK));
}

void reportServerTime(benchmark::State &state, double before)
{
    state.counters["server_us"] =
        benchmark::Counter((serverCpuSeconds() - before) * 1e6, benchmark::Counter::kAvgIterations);
}

// The floor: one request and its reply, nothing batched.
void BM_OneRoundTrip(benchmark::State &state)
{
    xcb_connection_t *c = X11::connection();
    const double before = serverCpuSeconds();
    for (auto _ : state)
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    reportServerTime(state, before);
}
BENCHMARK(BM_OneRoundTrip)->Unit(benchmark::kMicrosecond);

// Everything, and the least a read asks (no title, class or opacity).
void BM_ReadClientWindows(benchmark::State &state)
{
    size_t windows = 0;
    const double before = serverCpuSeconds();
    for (auto _ : state) {
        auto list = X11::readClientWindows(uint32_t(state.range(0)));
        windows = list.size();
        benchmark::DoNotOptimize(list);
    }
    reportServerTime(state, before);
    state.counters["windows"] = double(windows);
}
BENCHMARK(BM_ReadClientWindows)->Arg(X11::fieldAll)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_FocusGuardScan(benchmark::State &state)
{
    X11WindowSource source;
    size_t found = 0;
    const double before = serverCpuSeconds();
    for (auto _ : state) {
        auto list = FocusGuard::scan(source);
        found = list.size();
        benchmark::DoNotOptimize(list);
    }
    reportServerTime(state, before);
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
