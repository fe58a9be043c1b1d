// The summary rules over a large plan: rebuilding the cards runs on the main
// thread after every load and every change, so it must stay far below a frame.
// Then what stands between a plan's read and its write: the merge with what
// another device changed and the body of the write, over 2,000 drafts (where a
// change another device saves meanwhile is lost); and the kept record that
// names the list as sent, written once the write has gone out.

#include <benchmark/benchmark.h>

#include "AppTestSupport.h"
#include "app/PlanMerge.h"
#include "app/SummaryObservations.h"
#include "app/UnsavedPlanStore.h"
#include "base/RecordStore.h"
#include "services/Json.h"

#include <QCoreApplication>
#include <QTemporaryDir>

namespace {

const QDateTime kNow(QDate(2025, 6, 11), QTime(12, 0), QTimeZone::utc());

QList<ZephylWire::PlanDraft> drafts(int count)
{
    QList<ZephylWire::PlanDraft> out;
    for (int i = 0; i < count; ++i) {
        ZephylWire::PlanDraft d;
        d.id = i + 1;
        d.title = QStringLiteral("Draft %1").arg(i);
        d.caption = QStringLiteral("A caption that says something about the post. #cats").repeated(3);
        // Dated in the past, so every draft is read and none ends the search early.
        d.scheduledAt = kNow.addDays(-1 - i % 60).toString(Qt::ISODateWithMs);
        if (i % 3)
            d.mediaId = QStringLiteral("media-%1").arg(i);
        out.append(d);
    }
    return out;
}

QList<ZephylWire::Publication> publications(int count)
{
    static const QString statuses[] = {QStringLiteral("published"), QStringLiteral("scheduled"),
                                       QStringLiteral("processing"), QStringLiteral("failed")};
    QList<ZephylWire::Publication> out;
    for (int i = 0; i < count; ++i) {
        ZephylWire::Publication p;
        p.id = QStringLiteral("pub-%1").arg(i);
        p.status = statuses[i % 4];
        p.scheduledAt = kNow.toMSecsSinceEpoch() - qint64(i) * 3'600'000;
        p.isDraft = i % 7 == 0;
        out.append(p);
    }
    return out;
}

QList<ZephylWire::InstagramFeedItem> feed(int count)
{
    QList<ZephylWire::InstagramFeedItem> out;
    for (int i = 0; i < count; ++i) {
        ZephylWire::InstagramFeedItem item;
        item.id = QString::number(i);
        item.kind = i % 2 ? ZephylWire::InstagramFeedItem::Kind::reel : ZephylWire::InstagramFeedItem::Kind::feed;
        item.caption = i % 4 ? QStringLiteral("Sunday nap report") : QString();
        out.append(item);
    }
    return out;
}

void BM_SummaryBuild(benchmark::State &state)
{
    const auto d = drafts(int(state.range(0)));
    const auto p = publications(int(state.range(0)));
    const auto f = feed(50);
    for (auto _ : state)
        benchmark::DoNotOptimize(SummaryObservations::build(true, d, p, f, kNow));
}
BENCHMARK(BM_SummaryBuild)->Arg(500)->Unit(benchmark::kMicrosecond);

// The model's own rebuild, with its signal when the cards change.
void BM_RebuildObservations(benchmark::State &state)
{
    apptest::Harness h(kNow);
    AppModel &m = h.make();
    ZephylWire::InstagramProfile profile;
    profile.username = QStringLiteral("kitty");
    m.setInstagram(profile);
    m.setPlanDrafts(drafts(int(state.range(0))));
    m.setPublications(publications(int(state.range(0))));
    m.setFeedItems(feed(50));
    for (auto _ : state) {
        m.rebuildObservations();
        benchmark::DoNotOptimize(m.observations().size());
    }
}
BENCHMARK(BM_RebuildObservations)->Arg(500)->Unit(benchmark::kMicrosecond);

// One draft date read strictly, next to Qt's lenient ISO reading of the same text.
void BM_InternetDateTime(benchmark::State &state)
{
    const QString text = QStringLiteral("2025-06-12T09:30:00.250+02:00");
    for (auto _ : state)
        benchmark::DoNotOptimize(SummaryObservations::internetDateTime(text));
}
BENCHMARK(BM_InternetDateTime)->Unit(benchmark::kNanosecond);

void BM_QtIsoDate(benchmark::State &state)
{
    const QString text = QStringLiteral("2025-06-12T09:30:00.250+02:00");
    for (auto _ : state)
        benchmark::DoNotOptimize(QDateTime::fromString(text, Qt::ISODateWithMs));
}
BENCHMARK(BM_QtIsoDate)->Unit(benchmark::kNanosecond);

// The record written as soon as a plan's write has gone out, so that a write
// whose answer is lost (or an end of the application under it) leaves the list
// as sent on disk: the plan as edited, the list just read, the list sent. The
// record before the read was written already. With another device's change in
// the list read (second argument 1), the list read and the list sent are new.
void BM_KeptPlanOnceTheWriteIsOut(benchmark::State &state)
{
    QTemporaryDir dir;
    RecordStore records(dir.path());
    UnsavedPlanStore store(records);
    const QString owner = QStringLiteral("kitty@example.com");
    const auto base = drafts(int(state.range(0)));
    QList<ZephylWire::PlanDraft> ours = base;
    ours[1].caption += QStringLiteral(" here");
    for (auto _ : state) {
        state.PauseTiming();
        store.save(owner, {ours, base, false});
        // As read from the service: a list of its own, equal or not.
        QList<ZephylWire::PlanDraft> server(base.cbegin(), base.cend()), sending = ours;
        if (state.range(1)) {
            server[0].caption += QStringLiteral(" there");
            sending[0] = server[0];
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(store.save(owner, {sending, server, false, sending}));
    }
}
BENCHMARK(BM_KeptPlanOnceTheWriteIsOut)->Args({200, 0})->Args({2000, 0})->Args({2000, 1})->Unit(benchmark::kMillisecond);

// The merge once another device changed one draft's caption; then once it
// moved a tile (every slot numbered anew) while half the drafts were deleted
// here, each of which is looked at for whether only its number changed.
void BM_PlanMerge(benchmark::State &state)
{
    const auto base = drafts(int(state.range(0)));
    QList<ZephylWire::PlanDraft> theirs = base, ours = base;
    if (state.range(1) == 0) {
        theirs[0].caption += QStringLiteral(" there");
        ours[1].caption += QStringLiteral(" here");
    } else {
        for (qsizetype i = 0; i < theirs.size(); ++i)
            theirs[i].gridSlot = i;
        std::swap(theirs[0].gridSlot, theirs[1].gridSlot);
        ours.resize(ours.size() / 2);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(PlanMerge::merge(base, ours, theirs, kNow.toMSecsSinceEpoch()));
}
BENCHMARK(BM_PlanMerge)->Args({200, 0})->Args({2000, 0})->Args({2000, 1})->Unit(benchmark::kMillisecond);

// The write's body: the whole list as JSON bytes.
void BM_PlanWriteBody(benchmark::State &state)
{
    const auto list = drafts(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(Json::encode(QJsonObject{{QStringLiteral("drafts"), Json::toArray(list)}}).size());
}
BENCHMARK(BM_PlanWriteBody)->Arg(2000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
