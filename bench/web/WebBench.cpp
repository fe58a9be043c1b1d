// Time from WebWorkspace::start() to the workspace phase against the stand-in
// web app (signed in: the session cookie opens "/instagram" directly), and the
// resident memory of the browser process (this one) and of the engine's page
// processes afterwards. Run with QTWEBENGINE_DISABLE_SANDBOX=1 as root, and a
// private HOME/XDG folder (tests/rig/private-env does both).

#include <benchmark/benchmark.h>

#include "WebApp.h"
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

#include <unistd.h>

#include <functional>
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

} // namespace

int main(int argc, char **argv)
{
    WebWorkspace::registerSchemes();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
