// The ask panel on a real X server (run it under tests/rig/xsession): from
// show() to the card's first paint with the panel's window on screen, for a
// panel shown before and for one made anew; and what the panel adds to the
// resident memory, empty and with a conversation of 40 lines.
//   tests/rig/xsession -- build/bench/ask_panel_bench

#include "app/AppModel.h"
#include "ask/AskBarView.h"
#include "ask/AskPanelController.h"
#include "base/DefaultsStore.h"
#include "design/L10n.h"
#include "design/FloatingPanel.h"
#include "support/PaintWatch.h"
#include "support/ProcStatus.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QWindow>

#include <functional>
#include <memory>

namespace {

bool spinUntil(const std::function<bool()> &done, int limitMs = 10000)
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

// A field of /proc/self/status, in KiB.
using benchsupport::status;

using benchsupport::PaintWatch;

struct World {
    DefaultsStore store;
    std::unique_ptr<AppModel> model;
    World()
    {
        L10n::setPreference(AppLanguage::en);
        AppModel::Environment environment;
        environment.defaults = &store;
        environment.selectedVariantID = [] { return QStringLiteral("drawn"); };
        model = std::make_unique<AppModel>(environment);
    }
    static World &shared()
    {
        static World world;
        return world;
    }
};

bool onScreen(AskPanelController &ask, PaintWatch &watch)
{
    return spinUntil([&] {
        return watch.painted && ask.panel()->windowHandle() && ask.panel()->windowHandle()->isExposed();
    });
}

QList<CatChatLine> lines(int count)
{
    QList<CatChatLine> out;
    for (int i = 0; i < count; ++i)
        out << CatChatLine{QUuid::createUuid(), i % 2 == 0,
                           QStringLiteral("A line of the conversation, number %1, long enough to wrap once or twice "
                                          "in the card when it is shown at its full width.")
                               .arg(i),
                           CatLook::neutral,
                           {}};
    return out;
}

// show() to the first paint on screen. Range 0: a panel shown before; 1: a
// panel made anew (its construction included); 2: shown before, with 40 lines.
void ShowToPainted(benchmark::State &state)
{
    AppModel &model = *World::shared().model;
    model.setCatChat(state.range(0) == 2 ? lines(40) : QList<CatChatLine>{});
    auto ask = std::make_unique<AskPanelController>(model);
    if (state.range(0) != 1) {
        PaintWatch first;
        first.watch(ask->view());
        ask->show(false);
        onScreen(*ask, first);
        ask->hide();
        spinUntil([&] { return !ask->panel()->windowHandle()->isExposed(); }, 2000);
    }
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        if (state.range(0) == 1)
            ask = std::make_unique<AskPanelController>(model);
        PaintWatch watch;
        watch.watch(ask->view());
        ask->show(false);
        if (!onScreen(*ask, watch)) {
            state.SkipWithError("the panel never painted");
            break;
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        ask->hide();
        spinUntil([&] { return !ask->panel()->windowHandle()->isExposed(); }, 2000);
    }
    const char *labels[] = {"shown before", "made anew", "40 lines"};
    state.SetLabel(labels[state.range(0)]);
}
BENCHMARK(ShowToPainted)->DenseRange(0, 2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

// The resident memory a shown panel adds: the first one (with what its first
// use loads), another one beside it, and the second with 40 lines.
void PanelMemory(benchmark::State &state)
{
    AppModel &model = *World::shared().model;
    model.setCatChat({});
    std::vector<std::unique_ptr<AskPanelController>> kept;
    qint64 first = 0, another = 0, conversation = 0;
    for (auto _ : state) {
        kept.clear();
        auto shown = [&]() -> qint64 {
            const qint64 before = status("VmRSS:");
            kept.push_back(std::make_unique<AskPanelController>(model));
            PaintWatch watch;
            watch.watch(kept.back()->view());
            kept.back()->show(false);
            onScreen(*kept.back(), watch);
            return status("VmRSS:") - before;
        };
        first = shown();
        another = shown();
        const qint64 before = status("VmRSS:");
        model.setCatChat(lines(40));
        spinUntil([&] { return false; }, 300); // let both cards lay out and paint
        conversation = (status("VmRSS:") - before) / 2;
        for (auto &ask : kept)
            ask->hide();
        model.setCatChat({});
    }
    state.counters["first_panel_kib"] = double(first);
    state.counters["another_panel_kib"] = double(another);
    state.counters["forty_lines_each_kib"] = double(conversation);
}
BENCHMARK(PanelMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
