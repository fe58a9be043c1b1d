// The native workspace window: from WorkspaceWindowController::show() to the
// first paint of its screen (the sign-in form, and the signed-in split view on
// each surface), and from a change of surface to the new screen's first paint.
// Over a model signed in to an in-process stand-in with a connected Instagram
// account, so the summary has its cards and the sidebar its account. Run under
// tests/rig/xsession for a real X server, or with QT_QPA_PLATFORM=offscreen.

#include <benchmark/benchmark.h>

#include "OperationRoutes.h"
#include "StandinServer.h"

#include "app/AppModel.h"
#include "app/ServiceClient.h"
#include "base/DefaultsStore.h"
#include "design/L10n.h"
#include "services/KeychainStore.h"
#include "services/ZephylAPI.h"
#include "services/auth/WebSchemes.h"
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

bool spinUntil(const std::function<bool()> &done, int limitMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Notes the first paint a widget receives.
class PaintWatch final : public QObject {
public:
    bool painted = false;
    void watch(QWidget *widget)
    {
        painted = false;
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

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
