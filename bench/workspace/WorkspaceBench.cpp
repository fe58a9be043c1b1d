// The workspace window. Native: from WorkspaceWindowController::show() to the
// first paint of its screen (the sign-in form, and the signed-in split view on
// each surface), and from a change of surface to the new screen's first paint,
// over a model signed in to an in-process stand-in with a connected Instagram
// account, so the summary has its cards and the sidebar its account. Web: from
// show() with the page started to the web workspace screen's first paint and to
// the page's signed-in workspace, and the memory of the window with the engine.
// Run under tests/rig/xsession (a real X server, and the engine's sandbox off
// as root), or with QT_QPA_PLATFORM=offscreen and QTWEBENGINE_DISABLE_SANDBOX=1.

#include <benchmark/benchmark.h>

#include "OperationRoutes.h"
#include "StandinServer.h"
#include "WebApp.h"
#include "support/PaintWatch.h"
#include "support/WebPageBench.h"

#include "app/AppModel.h"
#include "app/ServiceClient.h"
#include "base/DefaultsStore.h"
#include "design/L10n.h"
#include "services/KeychainStore.h"
#include "services/ZephylAPI.h"
#include "web/WebSchemes.h"
#include "web/WebWorkspace.h"
#include "workspace/WebWorkspaceScreen.h"
#include "workspace/WorkspaceRootView.h"
#include "workspace/WorkspaceSplitView.h"
#include "workspace/WorkspaceWindowController.h"

#include <QApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QEvent>

#include <functional>
#include <memory>

namespace {

using webbench::spinUntil;

using benchsupport::PaintWatch;

// One signed-in model over the stand-in, made once for the run.
struct World {
    Standin::Server server;
    std::unique_ptr<KeychainStore> keychain = KeychainStore::inMemory();
    std::unique_ptr<ZephylAPI> api;
    std::unique_ptr<ZephylServiceClient> road;
    DefaultsStore store;
    std::unique_ptr<AppModel> model;

    World()
    {
        L10n::setPreference(AppLanguage::en);
        server.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty"));
        server.start();
        Standin::operations(server).connected.insert(
            server.state().accounts.value(QStringLiteral("kitty@example.com")).userId);
        ZephylAPI::Setup setup;
        setup.baseURL = QUrl(server.origin());
        setup.keychain = keychain.get();
        api = std::make_unique<ZephylAPI>(setup);
        road = std::make_unique<ZephylServiceClient>(*api);
        store.setBool(QStringLiteral("zephyl.mac.workspace.native"), true);
        AppModel::Environment environment;
        environment.api = road.get();
        environment.defaults = &store;
        model = std::make_unique<AppModel>(environment);
        QCoro::waitFor(model->signIn(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow")));
    }

    static World &shared()
    {
        static World world;
        return world;
    }
};

// Opening the window (made anew each time) to the first paint of its screen.
void OpenToFirstPaint(benchmark::State &state)
{
    World &world = World::shared();
    AppModel &model = *world.model;
    const bool signedIn = state.range(0) >= 0;
    model.setSession(signedIn ? SessionState::signedIn : SessionState::signedOut);
    if (signedIn)
        model.setSurface(Surfaces::allCases[state.range(0)]);
    for (auto _ : state) {
        DefaultsStore frames;
        WorkspaceWindowController controller(&frames);
        PaintWatch watch;
        QElapsedTimer timer;
        timer.start();
        controller.show(model, nullptr);
        auto *root = controller.window()->findChild<WorkspaceRootView *>();
        QWidget *screen = root->branch();
        if (auto *split = qobject_cast<WorkspaceSplitView *>(screen))
            screen = split->detail();
        watch.watch(screen);
        if (!spinUntil([&] { return watch.painted; })) {
            state.SkipWithError("the screen never painted");
            break;
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        controller.window()->hide();
    }
    state.SetLabel(signedIn ? Surfaces::rawValue(Surfaces::allCases[state.range(0)]).toStdString() : "sign-in");
}
BENCHMARK(OpenToFirstPaint)
    ->DenseRange(-1, 4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15);

// Switching the split view to a surface, to the new screen's first paint.
void SwitchSurface(benchmark::State &state)
{
    World &world = World::shared();
    AppModel &model = *world.model;
    model.setSession(SessionState::signedIn);
    model.setSurface(Surface::assistant);
    DefaultsStore frames;
    WorkspaceWindowController controller(&frames);
    controller.show(model, nullptr);
    auto *root = controller.window()->findChild<WorkspaceRootView *>();
    auto *split = qobject_cast<WorkspaceSplitView *>(root->branch());
    spinUntil([] { return false; }, 300);
    const Surface target = Surfaces::allCases[state.range(0)];
    // From the neighbouring surface each time.
    const Surface from = target == Surface::summary ? Surface::profile : Surface::summary;
    for (auto _ : state) {
        state.PauseTiming();
        model.setSurface(from);
        spinUntil([] { return false; }, 30);
        state.ResumeTiming();
        PaintWatch watch;
        QElapsedTimer timer;
        timer.start();
        model.setSurface(target);
        watch.watch(split->detail());
        if (!spinUntil([&] { return watch.painted; })) {
            state.SkipWithError("the screen never painted");
            break;
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    state.SetLabel(Surfaces::rawValue(target).toStdString());
    controller.window()->hide();
}
BENCHMARK(SwitchSurface)->DenseRange(0, 4)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// The web workspace window, opened the way the coordinator opens it: the page
// started, then the window shown. Each round has a fresh profile holding a
// session cookie, so the page opens the signed-in workspace directly.
void WebWindowToWorkspace(benchmark::State &state)
{
    static Standin::Server secure;
    static const QString userId = [] {
        secure.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"),
                          QStringLiteral("Kitty"));
        Standin::startSecure(secure);
        return secure.state().accounts.value(QStringLiteral("kitty@example.com")).userId;
    }();
    const QUrl origin(Standin::secureOrigin(secure));
    AppModel &model = *World::shared().model;
    std::unique_ptr<WebWorkspace> web;
    std::unique_ptr<WorkspaceWindowController> controller;
    DefaultsStore frames;
    double paints = 0;
    int round = 0;
    for (auto _ : state) {
        controller.reset();
        web.reset();
        WebWorkspace::Options options;
        options.storageName = QStringLiteral("workspace-bench-%1").arg(++round);
        options.trustedCertificate = Standin::certificate();
        web = std::make_unique<WebWorkspace>(origin, options);
        webbench::signIn(secure, origin, userId, *web);
        controller = std::make_unique<WorkspaceWindowController>(&frames);
        PaintWatch watch;
        QElapsedTimer timer;
        timer.start();
        web->start();
        controller->show(model, web.get());
        // The first thing drawn is the waiting scene over the page.
        auto *screen = controller->window()->findChild<WebWorkspaceScreen *>();
        watch.watch(screen->waitingScene() ? screen->waitingScene() : screen);
        if (!spinUntil([&] { return watch.painted; })) {
            state.SkipWithError("the screen never painted");
            break;
        }
        paints += timer.nsecsElapsed() / 1e6;
        if (!spinUntil([&] { return web->phase().kind == WebWorkspaceModel::Phase::Kind::workspace; })) {
            state.SkipWithError("the workspace did not open");
            break;
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    // The window with one workspace open, settled.
    spinUntil([&] { return web && web->workspaceReady(); });
    spinUntil([] { return false; }, 1000);
    state.counters["first_paint_ms"] = paints / std::max(1, round);
    state.counters["browser_rss_MB"] = webbench::rssKB(getpid()) / 1024.0;
    state.counters["page_processes_rss_MB"] = webbench::descendantsRssKB() / 1024.0;
    controller.reset();
    web.reset();
}
BENCHMARK(WebWindowToWorkspace)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

} // namespace

int main(int argc, char **argv)
{
    WebSchemes::registerAll();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
