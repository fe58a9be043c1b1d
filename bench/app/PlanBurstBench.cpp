// A plan of 200 drafts edited and saved 50 times in a burst, against the
// stand-in on loopback: how many writes go out, how many bytes, how long until
// the service holds the last edit; the model's saves (one at a time, later ones
// folded into the next) beside one whole-list write per edit. Then one edit
// saved in a plan of a few megabytes that nothing else changed: the requests
// it costs and how long until the service holds it. Last, the moment between
// the read and the write of a save, in plans of 200 and 2,000 drafts: a
// change another device saves in that moment is lost, so it is timed on its
// own beside the whole save.
//
//   plan_burst_bench [runs] [megabytes, 4 unless told]

#include "LiveSupport.h"

#include "app/ServiceClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int kDrafts = 200;
constexpr int kSaves = 50;
const QString kEmail = QStringLiteral("bench@example.com");
const QString kPassword = QStringLiteral("bench-password");

QList<ZephylWire::PlanDraft> plan()
{
    QList<ZephylWire::PlanDraft> out;
    for (int i = 0; i < kDrafts; ++i) {
        ZephylWire::PlanDraft d;
        d.id = 1000 + i;
        d.title = QStringLiteral("Draft %1").arg(i);
        d.caption = QStringLiteral("A caption that says something about the post. #cats").repeated(4);
        d.hashtags = QStringLiteral("#cats #coffee #mornings");
        d.scheduledAt = QStringLiteral("2025-06-%1T09:00:00Z").arg(1 + i % 28, 2, 10, QLatin1Char('0'));
        d.mediaId = QStringLiteral("media-%1").arg(i);
        out.append(d);
    }
    return out;
}

template <typename T>
T wait(QCoro::Task<T> &&task)
{
    return QCoro::waitFor(std::move(task));
}

void spinWhile(const std::function<bool()> &busy)
{
    while (busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

struct Result {
    int writes = 0;
    qint64 bytes = 0;
    double ms = 0;
    bool lastEditStored = false;
};

struct Bench {
    Bench() { wait(h.model->signIn(kEmail, kPassword)); }

    QString storedLastTitle()
    {
        const QString user = server.state().accounts.value(kEmail).userId;
        return Standin::operations(server).drafts.value(user).at(0).toObject().value("title").toString();
    }

    Result measure(bool throughModel)
    {
        AppModel &m = *h.model;
        m.setPlanDrafts(plan());
        server.clearSeen();
        QElapsedTimer timer;
        timer.start();
        std::vector<QCoro::Task<>> saves;
        QString last;
        for (int i = 0; i < kSaves; ++i) {
            QList<ZephylWire::PlanDraft> edited = m.planDrafts();
            last = QStringLiteral("edit %1").arg(i);
            edited[0].title = last;
            m.setPlanDrafts(edited);
            // The model's save, or one whole-list write per edit as each edit stands.
            saves.push_back(throughModel ? m.savePlan() : api->savePlanDrafts(m.planDrafts()));
        }
        for (auto &s : saves)
            wait(std::move(s));
        spinWhile([&] { return m.planSaving(); });
        Result r;
        r.ms = double(timer.nsecsElapsed()) / 1e6;
        for (const auto &seen : server.seen(QStringLiteral("/api/plan/drafts"))) {
            if (seen.method == "PUT") {
                ++r.writes;
                r.bytes += seen.body.size();
            }
        }
        r.lastEditStored = storedLastTitle() == last;
        return r;
    }

    // One title edited in a plan of about `megabytes` MB, read just before, then saved.
    std::pair<int, double> measureLarge(int megabytes)
    {
        AppModel &m = *h.model;
        if (m.planDrafts().size() < 1000) {
            QJsonArray drafts;
            qint64 size = 0;
            const QString caption = QStringLiteral("A caption for the plan, with a few words about the week. ").repeated(6);
            for (qint64 id = 1; size < qint64(megabytes) * 1000 * 1000; ++id) {
                const QJsonObject d{{"id", id},           {"title", QStringLiteral("Draft %1").arg(id)},
                                    {"caption", caption}, {"hashtags", "#cats #plan #week"},
                                    {"format", "post"},   {"scheduledAt", "2025-06-02T09:30:00Z"}};
                size += QJsonDocument(d).toJson(QJsonDocument::Compact).size() + 1;
                drafts.append(d);
            }
            Standin::operations(server).drafts.insert(server.state().accounts.value(kEmail).userId, drafts);
            wait(m.loadPlan());
        }
        QList<ZephylWire::PlanDraft> edited = m.planDrafts();
        edited[0].title = QStringLiteral("edit %1").arg(++m_largeEdits);
        server.clearSeen();
        QElapsedTimer timer;
        timer.start();
        m.setPlanDrafts(edited);
        wait(m.savePlan());
        spinWhile([&] { return m.planSaving(); });
        return {int(server.seen(QStringLiteral("/api/plan/drafts")).size()), double(timer.nsecsElapsed()) / 1e6};
    }

    int m_largeEdits = 0;
    livetest::LiveService live{kEmail, kPassword};
    Standin::Server &server = live.server;
    ZephylAPI *api = live.api.get();
    apptest::Harness &h = live.h;
};

void report(const char *name, std::vector<Result> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Result &a, const Result &b) { return a.ms < b.ms; });
    const Result &median = runs[runs.size() / 2];
    int stored = 0;
    for (const auto &r : runs)
        stored += r.lastEditStored ? 1 : 0;
    std::printf("%-28s writes %3d   bytes %9lld   median %7.1f ms   last edit stored %d/%zu\n", name, median.writes,
                static_cast<long long>(median.bytes), median.ms, stored, runs.size());
}

// ---- The moment between the read and the write

using Steady = std::chrono::steady_clock;

qint64 nanosNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch()).count();
}

// The stand-in on a thread of its own, as a service on its own machine: when
// it answers the read and when it holds the whole write are timed there, and
// the client's work on its own thread does not hold up its reading.
class ThreadedStandin {
public:
    ThreadedStandin()
    {
        m_thread.start();
        m_home.moveToThread(&m_thread);
        run([this] {
            server = new Standin::Server;
            server->start();
            server->addAccount(kEmail, kPassword, QStringLiteral("Kitty"));
            userId = server->state().accounts.value(kEmail).userId;
            Standin::Operations &ops = Standin::operations(*server);
            server->route("GET", "/api/plan/drafts", [this, &ops](const Standin::Seen &seen) {
                const auto user = ops.userFor(seen);
                if (!user)
                    return Standin::Answer::error(401, QStringLiteral("unauthorized"));
                Standin::Answer answer = Standin::Answer::json(200, QJsonObject{{"drafts", ops.drafts.value(*user)}});
                readAnsweredAt = nanosNow();
                return answer;
            });
            server->addAdapter([this](Standin::Seen &seen) {
                if (seen.method == "PUT" && seen.path == QLatin1String("/api/plan/drafts"))
                    writeHeldAt = nanosNow();
            });
        });
    }
    ~ThreadedStandin()
    {
        run([this] { delete server; });
        m_thread.quit();
        m_thread.wait();
    }
    void run(const std::function<void()> &work)
    {
        QMetaObject::invokeMethod(&m_home, work, Qt::BlockingQueuedConnection);
    }
    QString origin() { return QStringLiteral("http://127.0.0.1:%1").arg(server->port()); }

    Standin::Server *server = nullptr;
    QString userId;
    std::atomic<qint64> readAnsweredAt{0};
    std::atomic<qint64> writeHeldAt{0};

private:
    QThread m_thread;
    QObject m_home;
};

// The application's road, noting when the read's answer is in the client's
// hands and when the write has gone out (its last byte handed to the network).
class TimedRoad final : public ZephylServiceClient {
public:
    using ZephylServiceClient::ZephylServiceClient;
    QCoro::Task<QList<PlanDraft>> planDrafts() override
    {
        QList<PlanDraft> drafts = co_await ZephylServiceClient::planDrafts();
        readAt = nanosNow();
        co_return drafts;
    }
    QCoro::Task<> savePlanDrafts(QList<PlanDraft> drafts, std::function<void()> wentOut) override
    {
        outAt = 0;
        return ZephylServiceClient::savePlanDrafts(std::move(drafts), [this, wentOut] {
            outAt = nanosNow();
            if (wentOut)
                wentOut();
        });
    }
    qint64 readAt = 0;
    qint64 outAt = 0;
};

struct Gap {
    double gap = 0;    // the client: the read's answer in hand to the write gone out
    double window = 0; // the service: its answer to the read to its holding the whole write
    double save = 0;   // the whole save: savePlan() called to returned
};

// A model as the application makes it, its records on disk, over the real
// client to the stand-in on its own thread.
struct GapBench {
    GapBench()
    {
        ZephylAPI::Setup setup;
        setup.baseURL = QUrl(standin.origin());
        setup.keychain = keychain.get();
        api = std::make_unique<ZephylAPI>(setup);
        road = std::make_unique<TimedRoad>(*api);
        defaults = std::make_unique<DefaultsStore>(folder.filePath(QStringLiteral("settings.json")));
        defaults->setBool(QStringLiteral("zephyl.mac.workspace.native"), true);
        AppModel::Environment env;
        env.api = road.get();
        env.defaults = defaults.get();
        env.notifications = &notifications;
        env.windows = &windows;
        env.selectedVariantID = [] { return QStringLiteral("drawn"); };
        model = std::make_unique<AppModel>(env);
        wait(model->signIn(kEmail, kPassword));
    }

    Gap measure(int size)
    {
        standin.run([&] {
            QJsonArray drafts;
            const QString caption = QStringLiteral("A caption that says something about the post. #cats").repeated(4);
            for (int i = 0; i < size; ++i) {
                const QString day = QStringLiteral("%1").arg(1 + i % 28, 2, 10, QLatin1Char('0'));
                drafts.append(QJsonObject{{"id", 1000 + i},
                                          {"title", QStringLiteral("Draft %1").arg(i)},
                                          {"caption", caption},
                                          {"hashtags", "#cats #coffee #mornings"},
                                          {"format", "post"},
                                          {"scheduledAt", QStringLiteral("2025-06-%1T09:00:00Z").arg(day)},
                                          {"hiddenFromGrid", false},
                                          {"mediaId", QStringLiteral("media-%1").arg(i)}});
            }
            Standin::operations(*standin.server).drafts.insert(standin.userId, drafts);
        });
        wait(model->loadPlan());
        // Another device changes one draft meanwhile, so the save has a list to meet.
        standin.run([&] {
            QJsonArray &drafts = Standin::operations(*standin.server).drafts[standin.userId];
            QJsonObject last = drafts.last().toObject();
            last.insert("caption", QStringLiteral("changed on the phone %1").arg(++m_edits));
            drafts.replace(drafts.size() - 1, last);
        });
        QList<ZephylWire::PlanDraft> edited = model->planDrafts();
        edited[0].title = QStringLiteral("edit %1").arg(m_edits);
        model->setPlanDrafts(edited);
        standin.writeHeldAt = 0;
        const qint64 start = nanosNow();
        wait(model->savePlan());
        const qint64 end = nanosNow();
        Gap g;
        g.gap = double(road->outAt - road->readAt) / 1e6;
        g.window = double(standin.writeHeldAt - standin.readAnsweredAt) / 1e6;
        g.save = double(end - start) / 1e6;
        return g;
    }

    int m_edits = 0;
    ThreadedStandin standin;
    QTemporaryDir folder;
    std::unique_ptr<KeychainStore> keychain = KeychainStore::inMemory();
    std::unique_ptr<ZephylAPI> api;
    std::unique_ptr<TimedRoad> road;
    std::unique_ptr<DefaultsStore> defaults;
    apptest::FakeNotifications notifications;
    apptest::FakeWindows windows;
    std::unique_ptr<AppModel> model;
};

void reportGap(int size, std::vector<Gap> runs)
{
    const auto median = [&](double Gap::*field) {
        std::vector<double> v;
        for (const Gap &g : runs)
            v.push_back(g.*field);
        std::sort(v.begin(), v.end());
        return std::pair(v[v.size() / 2], v.back());
    };
    const auto [gap, gapMax] = median(&Gap::gap);
    const auto [window, windowMax] = median(&Gap::window);
    const auto [save, saveMax] = median(&Gap::save);
    std::printf("%5d drafts: read to write: gap median %7.1f ms (max %7.1f)   window median %7.1f ms (max %7.1f)   "
                "whole save median %7.1f ms (max %7.1f)\n",
                size, gap, gapMax, window, windowMax, save, saveMax);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const int megabytes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 4;
    Bench bench;
    std::vector<Result> model, everyEdit;
    for (int i = 0; i < runs; ++i) {
        model.push_back(bench.measure(true));
        everyEdit.push_back(bench.measure(false));
    }
    std::printf("%d drafts, %d saves in a burst, %d runs\n", kDrafts, kSaves, runs);
    report("model (one at a time)", model);
    report("one write per edit", everyEdit);
    std::vector<double> large;
    int requests = 0;
    for (int i = 0; i < runs; ++i) {
        const auto [calls, ms] = bench.measureLarge(megabytes);
        requests = calls;
        large.push_back(ms);
    }
    std::sort(large.begin(), large.end());
    std::printf("one edit saved, %d MB plan:   requests %d   min %7.1f ms   median %7.1f ms   max %7.1f ms\n", megabytes,
                requests, large.front(), large[large.size() / 2], large.back());

    std::printf("the moment between the read and the write (gap: the client holds the read's answer to the service "
                "holds the whole write; window: the service answers the read to it holds the write), %d runs\n",
                runs);
    GapBench gaps;
    for (const int size : {1, 200, 2000}) {
        std::vector<Gap> measured;
        for (int i = 0; i < runs; ++i)
            measured.push_back(gaps.measure(size));
        reportGap(size, measured);
    }
    return 0;
}
