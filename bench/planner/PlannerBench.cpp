// Building the week plan's entries: 1000 drafts and 1000 publications, as the
// plan screen does on every redraw, and the lists it derives from them.
#include "planner/PlanCalendar.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

const QDateTime kNow(QDate(2025, 3, 14), QTime(12, 0), QTimeZone::utc());

QList<ZephylWire::PlanDraft> drafts(int n)
{
    static const char *const formats[] = {"post", "reel", "story", "carousel", "video"};
    QList<ZephylWire::PlanDraft> out;
    for (int i = 0; i < n; ++i) {
        ZephylWire::PlanDraft d;
        d.id = i + 1;
        d.format = QString::fromLatin1(formats[i % 5]);
        switch (i % 4) {
        case 0: d.title = QStringLiteral("Spring launch teaser %1").arg(i); break;
        case 1: d.caption = QStringLiteral("Новая коллекция уже здесь — заходите посмотреть 😺 ").repeated(3); break;
        case 2: break; // "Prepare …"
        default: d.title = QStringLiteral("Behind the scenes %1").arg(i); break;
        }
        if (i % 3 != 0) // a third undated
            d.scheduledAt = kNow.addSecs(qint64(i - n / 2) * 3600).toString(Qt::ISODateWithMs);
        out.push_back(d);
    }
    return out;
}

QList<ZephylWire::Publication> publications(int n)
{
    static const char *const statuses[] = {"published", "failed", "waiting", "scheduled", "draft", "cancelled"};
    QList<ZephylWire::Publication> out;
    for (int i = 0; i < n; ++i) {
        ZephylWire::Publication p;
        p.id = QStringLiteral("pub_%1").arg(i);
        p.status = QString::fromLatin1(statuses[i % 6]);
        p.caption = QStringLiteral("  Caption number %1 with a few words about the post  ").arg(i);
        if (i % 5 != 0)
            p.scheduledAt = kNow.toMSecsSinceEpoch() + qint64(i - n / 2) * 3600000;
        out.push_back(p);
    }
    return out;
}

void BM_Entries(benchmark::State &state)
{
    const auto d = drafts(int(state.range(0)));
    const auto p = publications(int(state.range(0)));
    for (auto _ : state) {
        auto list = PlanCalendar::entries(d, p, kNow);
        benchmark::DoNotOptimize(list);
    }
}
BENCHMARK(BM_Entries)->Arg(1000)->Unit(benchmark::kMillisecond);

// One redraw of the plan screen as described: the entries once per derived list
// (attention, undated, the selected day, seven day cells).
void BM_PlanScreenRedraw(benchmark::State &state)
{
    const auto d = drafts(1000);
    const auto p = publications(1000);
    const QTimeZone zone("Europe/Berlin");
    const auto week = PlanCalendar::days(PlanCalendar::weekStart(kNow, zone), zone);
    for (auto _ : state) {
        benchmark::DoNotOptimize(PlanCalendar::attention(PlanCalendar::entries(d, p, kNow)));
        benchmark::DoNotOptimize(PlanCalendar::undated(PlanCalendar::entries(d, p, kNow)));
        benchmark::DoNotOptimize(PlanCalendar::entriesOn(PlanCalendar::entries(d, p, kNow), week[4], zone));
        for (const QDate &day : week)
            benchmark::DoNotOptimize(PlanCalendar::entriesOn(PlanCalendar::entries(d, p, kNow), day, zone));
    }
}
BENCHMARK(BM_PlanScreenRedraw)->Unit(benchmark::kMillisecond);

void BM_ParseInternetDateTime(benchmark::State &state)
{
    const QString text = QStringLiteral("2025-03-14T11:30:00.250+02:00");
    for (auto _ : state)
        benchmark::DoNotOptimize(PlanCalendar::parseInternetDateTime(text));
}
BENCHMARK(BM_ParseInternetDateTime);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
