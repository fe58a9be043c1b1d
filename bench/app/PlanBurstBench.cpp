// A plan of 200 drafts edited and saved 50 times in a burst, against the
// stand-in on loopback: how many writes go out, how many bytes, how long until
// the service holds the last edit; the model's saves (one at a time, later ones
// folded into the next) beside one whole-list write per edit. Then one edit
// saved in a plan of a few megabytes that nothing else changed: the requests
// it costs and how long until the service holds it.
//
//   plan_burst_bench [runs] [megabytes, 4 unless told]

#include "LiveSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
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
    return 0;
}
