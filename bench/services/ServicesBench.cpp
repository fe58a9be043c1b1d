// Decoding cost of the largest answers the client reads, and the request
// core's overhead per call against the local stand-in, next to a bare
// QNetworkAccessManager request to the same endpoint.

#include <benchmark/benchmark.h>

#include "StandinServer.h"
#include "services/Json.h"
#include "services/ZephylAPI.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

QByteArray feedPage()
{
    QJsonArray items;
    for (int i = 0; i < 50; ++i) {
        QJsonArray media;
        for (int m = 0; m < 3; ++m)
            media.append(QJsonObject{{"url", QStringLiteral("https://cdn.example.com/media/%1/%2.jpg").arg(i).arg(m)},
                                     {"thumbnailUrl", QStringLiteral("https://cdn.example.com/thumb/%1/%2.jpg").arg(i).arg(m)},
                                     {"kind", m == 2 ? "video" : "image"}});
        items.append(QJsonObject{{"id", QStringLiteral("1789%1").arg(i, 10, 10, QLatin1Char('0'))},
                                 {"caption", QStringLiteral("Sunday nap report 😺 #cats #caturday ").repeated(8)},
                                 {"postedAt", "2025-06-01T10:00:00+0000"},
                                 {"platformUrl", QStringLiteral("https://www.instagram.com/p/C%1/").arg(i)},
                                 {"previewUrl", QStringLiteral("https://cdn.example.com/preview/%1.jpg").arg(i)},
                                 {"media", media},
                                 {"mediaCount", 3},
                                 {"kind", "carousel"},
                                 {"sharedToFeed", true}});
    }
    return QJsonDocument(QJsonObject{{"items", items}, {"status", "synced"}, {"provider", "instagram"},
                                     {"cursor", "QVFIUm9abc"}, {"hasMore", true}})
        .toJson(QJsonDocument::Compact);
}

QByteArray planDrafts()
{
    QJsonArray drafts;
    for (int i = 0; i < 200; ++i)
        drafts.append(QJsonObject{{"id", i},
                                  {"title", QStringLiteral("Draft %1").arg(i)},
                                  {"caption", QStringLiteral("A caption for the plan, with a few words. ").repeated(4)},
                                  {"hashtags", "#cats #plan #week"},
                                  {"format", i % 4 == 0 ? "reel" : "post"},
                                  {"scheduledAt", "2025-06-02T09:30:00Z"},
                                  {"gridSlot", i},
                                  {"hiddenFromGrid", false},
                                  {"mediaId", QStringLiteral("media-%1").arg(i)},
                                  {"preview", QStringLiteral("https://cdn.example.com/p/%1.jpg").arg(i)}});
    return QJsonDocument(QJsonObject{{"drafts", drafts}}).toJson(QJsonDocument::Compact);
}

void BM_DecodeFeedPage50(benchmark::State &state)
{
    const QByteArray body = feedPage();
    for (auto _ : state) {
        auto page = ZephylAPI::InstagramFeedResponse::fromJson(Json::parseObject(body));
        benchmark::DoNotOptimize(page);
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_DecodeFeedPage50)->Unit(benchmark::kMicrosecond);

void BM_DecodePlan200(benchmark::State &state)
{
    const QByteArray body = planDrafts();
    for (auto _ : state) {
        auto drafts = Json::list<ZephylAPI::PlanDraft>(Json::parseObject(body), QLatin1StringView("drafts"));
        benchmark::DoNotOptimize(drafts);
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_DecodePlan200)->Unit(benchmark::kMicrosecond);

// One stand-in, signed in once, shared by the two request benchmarks.
struct Service {
    Standin::Server server;
    std::unique_ptr<KeychainStore> keychain = KeychainStore::inMemory();
    std::unique_ptr<ZephylAPI> api;

    Service()
    {
        server.start();
        server.addAccount(QStringLiteral("bench@example.com"), QStringLiteral("bench-password"));
        api = std::make_unique<ZephylAPI>(ZephylAPI::Setup{QUrl(server.origin()), nullptr, nullptr, keychain.get()});
        QCoro::waitFor(api->signInWithEmail(QStringLiteral("bench@example.com"), QStringLiteral("bench-password")));
    }
    static Service &get()
    {
        static Service service;
        return service;
    }
};

// One bare QNetworkAccessManager request per iteration, with the headers the core would send.
void bareRequests(benchmark::State &state, const QString &path, const QByteArray &verb, const QByteArray &body)
{
    Service &service = Service::get();
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(service.server.origin() + path));
    request.setRawHeader("Accept", "application/json");
    if (!body.isEmpty())
        request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Authorization", "Bearer " + service.api->accessToken().value_or(QString()).toUtf8());
    for (auto _ : state) {
        QNetworkReply *reply = body.isEmpty() ? network.sendCustomRequest(request, verb)
                                              : network.sendCustomRequest(request, verb, body);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        benchmark::DoNotOptimize(reply->readAll());
        reply->deleteLater();
    }
}

void BM_BareNetworkRequest(benchmark::State &state)
{
    bareRequests(state, QStringLiteral("/api/v1/me"), "GET", {});
}
BENCHMARK(BM_BareNetworkRequest)->Unit(benchmark::kMicrosecond);

void BM_RequestCore(benchmark::State &state)
{
    Service &service = Service::get();
    for (auto _ : state) {
        auto user = QCoro::waitFor(service.api->currentUser());
        benchmark::DoNotOptimize(user);
    }
}
BENCHMARK(BM_RequestCore)->Unit(benchmark::kMicrosecond);

// A write: the plan saved whole, as a bare request and through the core.
const QByteArray kSmallPlan = R"({"drafts":[{"id":1,"title":"Wednesday reel"}]})";

void BM_BareNetworkPut(benchmark::State &state)
{
    bareRequests(state, QStringLiteral("/api/plan/drafts"), "PUT", kSmallPlan);
}
BENCHMARK(BM_BareNetworkPut)->Unit(benchmark::kMicrosecond);

void BM_RequestCorePut(benchmark::State &state)
{
    Service &service = Service::get();
    ZephylAPI::PlanDraft draft;
    draft.id = 1;
    draft.title = QStringLiteral("Wednesday reel");
    const QList<ZephylAPI::PlanDraft> drafts{draft};
    for (auto _ : state)
        QCoro::waitFor(service.api->savePlanDrafts(drafts));
}
BENCHMARK(BM_RequestCorePut)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
