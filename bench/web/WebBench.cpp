// Time from WebWorkspace::start() to the workspace phase against the stand-in
// web app (signed in: the session cookie opens "/instagram" directly), and the
// resident memory of the browser process (this one) and of the engine's page
// processes afterwards. Run with QTWEBENGINE_DISABLE_SANDBOX=1 as root, and a
// private HOME/XDG folder (tests/rig/private-env does both).
//
// RestBesideBareView: the workspace window on the signed-in page at rest beside
// a bare QWebEngineView of the same page, each in a process of its own, in
// alternating rounds: the CPU time of each process tree and the main thread's
// wake-ups over ten seconds in which nothing happens. It needs a display
// (tests/rig/xsession -- build/bench/web_bench --benchmark_filter=Rest).
// The rest is taken twice: from the moment the page is usable, and once the
// welcome line is over too. `web_bench --rest workspace|bare [SECONDS
// [ready|settled]]` runs one side alone.

#include <benchmark/benchmark.h>

#include "RestBench.h"
#include "WebApp.h"
#include "web/WebSchemes.h"
#include "web/WebWorkspace.h"
#include "support/WebPageBench.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QWebEngineProfile>
#include <QWebEngineCookieStore>
#include <QNetworkCookie>
#include <QDateTime>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>

namespace {

using webbench::descendantsRssKB;
using webbench::rssKB;
using webbench::spinUntil;

struct Fixture {
    Standin::Server server;
    QUrl origin;
    QString userId;
    double coldStartMs = 0;

    Fixture()
    {
        server.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty"));
        userId = server.state().accounts.value(QStringLiteral("kitty@example.com")).userId;
        Standin::startSecure(server);
        origin = QUrl(Standin::secureOrigin(server));
        // The first start pays for the engine's own start too.
        WebWorkspace web(origin, options(QStringLiteral("web-bench-cold")));
        QElapsedTimer timer;
        timer.start();
        web.start();
        spinUntil([&] { return web.phase().kind == WebWorkspaceModel::Phase::Kind::signIn; });
        coldStartMs = timer.nsecsElapsed() / 1e6;
    }

    WebWorkspace::Options options(const QString &name) const
    {
        WebWorkspace::Options o;
        o.storageName = name;
        o.trustedCertificate = Standin::certificate();
        return o;
    }

    void signIn(WebWorkspace &web) { webbench::signIn(server, origin, userId, web); }
};

Fixture &fixture()
{
    static Fixture f;
    return f;
}

// Each round: a fresh profile holding a session cookie, then start() until the
// page reports the signed-in workspace.
void StartToWorkspace(benchmark::State &state)
{
    Fixture &f = fixture();
    std::unique_ptr<WebWorkspace> web;
    int round = 0;
    for (auto _ : state) {
        web.reset();
        web = std::make_unique<WebWorkspace>(f.origin, f.options(QStringLiteral("web-bench-%1").arg(++round)));
        f.signIn(*web);
        QElapsedTimer timer;
        timer.start();
        web->start();
        if (!spinUntil([&] { return web->phase().kind == WebWorkspaceModel::Phase::Kind::workspace && web->account(); })) {
            state.SkipWithError("the workspace did not open");
            break;
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    // Let the page settle, then weigh the processes with one workspace open.
    spinUntil([&] { return web && web->workspaceReady(); });
    spinUntil([] { return false; }, 1000);
    state.counters["cold_start_to_signin_ms"] = f.coldStartMs;
    state.counters["browser_rss_MB"] = rssKB(getpid()) / 1024.0;
    state.counters["page_processes_rss_MB"] = descendantsRssKB() / 1024.0;
    web.reset();
}
BENCHMARK(StartToWorkspace)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One side alone in a fresh process with a fresh home, as a new user starts.
std::optional<restbench::Rest> restAlone(restbench::Kind kind, double seconds, restbench::Start from)
{
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString folder = home.path() + u'/' + QString::fromLatin1(name);
        QDir().mkpath(folder);
        env.insert(QString::fromLatin1(name), folder);
    }
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--rest"), restbench::kindName(kind), QString::number(seconds), restbench::startName(from)});
    if (!child.waitForFinished(int(seconds * 1000) + 120'000)) {
        child.kill(); // our own child
        child.waitForFinished();
        return std::nullopt;
    }
    return restbench::parse(child.readAllStandardOutput());
}

// Five rounds, each side once a round, the first side alternating.
void RestBesideBareView(benchmark::State &state)
{
    const auto from = restbench::Start(state.range(0));
    constexpr double kRestSeconds = 10;
    constexpr int kRounds = 5;
    std::map<restbench::Kind, QList<restbench::Rest>> runs;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            for (int side = 0; side < 2; ++side) {
                const auto kind = (round + side) % 2 ? restbench::Kind::bare : restbench::Kind::workspace;
                const auto rest = restAlone(kind, kRestSeconds, from);
                if (!rest) {
                    state.SkipWithError("a side did not come to rest");
                    return;
                }
                runs[kind] << *rest;
            }
        }
    }
    const auto figures = [&](restbench::Kind kind) {
        QList<double> cpu, wakeups, renderer, browser, load, usable;
        for (const restbench::Rest &r : runs[kind]) {
            load << r.loadMs;
            usable << r.usableMs;
            cpu << r.cpuMs;
            wakeups << double(r.wakeups);
            renderer << r.cpuMsByKind.value(QStringLiteral("renderer"));
            browser << r.cpuMsByKind.value(QStringLiteral("browser"));
        }
        return std::array<double, 6>{median(cpu),     median(wakeups), median(renderer),
                                     median(browser), median(load),    median(usable)};
    };
    const auto ws = figures(restbench::Kind::workspace);
    const auto bare = figures(restbench::Kind::bare);
    state.counters["workspace_cpu_ms"] = ws[0];
    state.counters["bare_cpu_ms"] = bare[0];
    state.counters["cpu_ratio"] = bare[0] > 0 ? ws[0] / bare[0] : 0;
    state.counters["workspace_wakeups"] = ws[1];
    state.counters["bare_wakeups"] = bare[1];
    state.counters["workspace_renderer_ms"] = ws[2];
    state.counters["bare_renderer_ms"] = bare[2];
    state.counters["workspace_browser_ms"] = ws[3];
    state.counters["bare_browser_ms"] = bare[3];
    // The signed-in page's load beside the bare view's, and the time until it is usable.
    state.counters["workspace_load_ms"] = ws[4];
    state.counters["bare_load_ms"] = bare[4];
    state.counters["load_ratio"] = bare[4] > 0 ? ws[4] / bare[4] : 0;
    state.counters["workspace_usable_ms"] = ws[5];
    state.counters["bare_usable_ms"] = bare[5];
    for (restbench::Kind kind : {restbench::Kind::workspace, restbench::Kind::bare}) {
        std::fprintf(stderr, "%-9s", qPrintable(restbench::kindName(kind)));
        for (const restbench::Rest &r : runs[kind]) {
            std::fprintf(stderr, "  %6.1f ms (renderer %5.1f) %3lld wake-ups load %5.0f ms", r.cpuMs,
                         r.cpuMsByKind.value(QStringLiteral("renderer")), static_cast<long long>(r.wakeups), r.loadMs);
        }
        std::fprintf(stderr, "\n");
    }
}
// Arguments: the rest from the page's readiness (0), and once it settled (1).
BENCHMARK(RestBesideBareView)
    ->Arg(int(restbench::Start::ready))
    ->Arg(int(restbench::Start::settled))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    // As the application starts the engine: its schemes and its switches.
    WebSchemes::registerAll();
    QApplication app(argc, argv);
    if (argc >= 3 && qstrcmp(argv[1], "--rest") == 0) {
        const auto kind = restbench::kindNamed(QString::fromLocal8Bit(argv[2]));
        const double seconds = argc >= 4 ? QString::fromLocal8Bit(argv[3]).toDouble() : 10;
        const auto from = restbench::startNamed(argc >= 5 ? QString::fromLocal8Bit(argv[4]) : QStringLiteral("settled"));
        if (!kind || !(seconds > 0) || !from) {
            std::fprintf(stderr, "usage: web_bench --rest workspace|bare [SECONDS [ready|settled]]\n");
            return 2;
        }
        return restbench::runAlone(*kind, seconds, *from);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
