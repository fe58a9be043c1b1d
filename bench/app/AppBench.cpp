// The summary rules over a large plan: rebuilding the cards runs on the main
// thread after every load and every change, so it must stay far below a frame.
// The plan's merge and the body of its write, over 2,000 drafts: both stand
// between a save's read of the service's list and its write, where a change
// another device saves is lost.

#include <benchmark/benchmark.h>

#include "AppTestSupport.h"
#include "app/PlanMerge.h"
#include "app/SummaryObservations.h"
#include "services/Json.h"

#include <QCoreApplication>

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

// A save's merge: the list edited here (one title) met with the service's
// (one caption changed there, one draft added there), as the save's read finds it.
void BM_PlanMerge(benchmark::State &state)
{
    const auto base = drafts(int(state.range(0)));
    auto ours = base;
    ours[0].title = QStringLiteral("Edited here");
    auto theirs = base;
    theirs.last().caption = QStringLiteral("Changed on the phone");
    ZephylWire::PlanDraft added;
    added.id = 1'750'000'000'000;
    added.title = QStringLiteral("Added on the phone");
    theirs.append(added);
    for (auto _ : state) {
        benchmark::DoNotOptimize(PlanMerge::sameList(base, theirs));
        benchmark::DoNotOptimize(PlanMerge::merge(base, ours, theirs, 1'750'000'000'001).drafts.size());
    }
}
BENCHMARK(BM_PlanMerge)->Arg(2000)->Unit(benchmark::kMillisecond);

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
