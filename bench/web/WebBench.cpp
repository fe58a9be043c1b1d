// Time from WebWorkspace::start() to the workspace phase against the stand-in
// web app (signed in: the session cookie opens "/instagram" directly), and the
// resident memory of the browser process (this one) and of the engine's page
// processes afterwards. Run with QTWEBENGINE_DISABLE_SANDBOX=1 as root, and a
// private HOME/XDG folder (tests/rig/private-env does both).

#include <benchmark/benchmark.h>

#include "WebApp.h"
#include "services/web/WebWorkspace.h"

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

bool spinUntil(const std::function<bool()> &done, int limitMs = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// VmRSS in kilobytes, and the parent id, from /proc.
qint64 rssKB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

qint64 parentOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() : -1;
}

// Every process descended from this one: the engine's zygote and page processes.
qint64 descendantsRssKB()
{
    QList<qint64> family{qint64(getpid())};
    qint64 total = 0;
    bool grew = true;
    QList<qint64> all;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (ok)
            all << pid;
    }
    while (grew) {
        grew = false;
        for (qint64 pid : all) {
            if (!family.contains(pid) && family.contains(parentOf(pid))) {
                family << pid;
                total += rssKB(pid);
                grew = true;
            }
        }
    }
    return total;
}

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

    // A signed-in session, as the page's own sign-in leaves it.
    void signIn(WebWorkspace &web)
    {
        const QString token = server.state().newToken(QStringLiteral("web-session"));
        server.state().accessTokens.insert(token, userId);
        QNetworkCookie cookie("__Host-zephyl_session", token.toUtf8());
        cookie.setPath(QStringLiteral("/"));
        cookie.setSecure(true);
        cookie.setHttpOnly(true);
        cookie.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(30));
        bool seen = false;
        auto connection = QObject::connect(web.profile()->cookieStore(), &QWebEngineCookieStore::cookieAdded,
                                           [&](const QNetworkCookie &c) { seen = seen || c.name() == cookie.name(); });
        web.profile()->cookieStore()->setCookie(cookie, origin);
        spinUntil([&] { return seen; });
        QObject::disconnect(connection);
    }
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
