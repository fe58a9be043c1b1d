#include "RestBench.h"

#include "WebApp.h"
#include "base/DefaultsStore.h"
#include "companion/CompanionLibrary.h"
#include "platform/X11.h"
#include "support/ProcStatus.h"
#include "support/WebPageBench.h"
#include "web/WebWorkspace.h"
#include "workspace/WebWorkspaceScreen.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineCertificateError>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <memory>

#include <xcb/xcb.h>

#include <unistd.h>

namespace restbench {
namespace {

// Waits for `done`, looking every 20 ms and sleeping in between: the wait is
// no work of the process being weighed.
bool spinUntil(const std::function<bool()> &done, int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// The process tree's CPU time by process, and the main thread's switches.
struct Sample {
    QHash<qint64, std::pair<QString, qint64>> cpuNs; // pid -> kind, nanoseconds
    qint64 voluntary = 0;
    qint64 involuntary = 0;
};

Sample sample()
{
    Sample s;
    const qint64 self = getpid();
    QList<qint64> tree{self};
    tree += benchsupport::descendants(self);
    for (qint64 pid : tree)
        s.cpuNs.insert(pid, {benchsupport::processKind(pid), benchsupport::cpuNanoseconds(pid)});
    s.voluntary = benchsupport::status("voluntary_ctxt_switches:", self, self);
    s.involuntary = benchsupport::status("nonvoluntary_ctxt_switches:", self, self);
    return s;
}

Rest between(const Sample &before, const Sample &after)
{
    Rest rest;
    for (auto it = after.cpuNs.cbegin(); it != after.cpuNs.cend(); ++it) {
        // A process born during the rest counts whole.
        const qint64 earlier = before.cpuNs.contains(it.key()) ? before.cpuNs.value(it.key()).second : 0;
        const double ms = (it->second - earlier) / 1e6;
        rest.cpuMs += ms;
        rest.cpuMsByKind[it->first] += ms;
    }
    rest.wakeups = after.voluntary - before.voluntary;
    rest.preemptions = after.involuntary - before.involuntary;
    return rest;
}

// Runs the event loop, and only it, for a while: no polling of ours wakes the
// thread in between.
void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void print(Kind kind, const Rest &rest, double loadMs, double usableMs)
{
    QJsonObject byKind;
    for (auto it = rest.cpuMsByKind.cbegin(); it != rest.cpuMsByKind.cend(); ++it)
        byKind.insert(it.key(), it.value());
    const QJsonObject line{{QStringLiteral("kind"), kindName(kind)},
                           {QStringLiteral("cpuMs"), rest.cpuMs},
                           {QStringLiteral("byKind"), byKind},
                           {QStringLiteral("wakeups"), rest.wakeups},
                           {QStringLiteral("preemptions"), rest.preemptions},
                           {QStringLiteral("loadMs"), loadMs},
                           {QStringLiteral("usableMs"), usableMs}};
    std::printf("rest %s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// A plain engine page that trusts the stand-in's certificate, as the workspace does.
class TrustingPage final : public QWebEnginePage {
public:
    explicit TrustingPage(QWebEngineProfile *profile) : QWebEnginePage(profile)
    {
        connect(this, &QWebEnginePage::certificateError, this, [](const QWebEngineCertificateError &error) {
            QWebEngineCertificateError e = error;
            if (!e.certificateChain().isEmpty() && e.certificateChain().first() == Standin::certificate())
                e.acceptCertificate();
            else
                e.rejectCertificate();
        });
    }
};

constexpr QSize kWindow(1280, 800);

} // namespace

std::optional<Start> startNamed(const QString &name)
{
    if (name == QLatin1String("settled"))
        return Start::settled;
    if (name == QLatin1String("ready"))
        return Start::ready;
    return std::nullopt;
}

QString startName(Start start) { return start == Start::settled ? QStringLiteral("settled") : QStringLiteral("ready"); }

std::optional<Kind> kindNamed(const QString &name)
{
    if (name == QLatin1String("workspace"))
        return Kind::workspace;
    if (name == QLatin1String("bare"))
        return Kind::bare;
    return std::nullopt;
}

QString kindName(Kind kind) { return kind == Kind::workspace ? QStringLiteral("workspace") : QStringLiteral("bare"); }

int runAlone(Kind kind, double seconds, Start from)
{
    // A user at the machine, reading: the server's idle count starts afresh, as
    // after a touch of the mouse.
    if (xcb_connection_t *c = X11::connection()) {
        xcb_force_screen_saver(c, XCB_SCREEN_SAVER_RESET);
        xcb_flush(c);
    }
    Standin::Server server;
    server.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty"));
    const QString userId = server.state().accounts.value(QStringLiteral("kitty@example.com")).userId;
    if (Standin::startSecure(server) == 0) {
        std::fprintf(stderr, "the stand-in cannot listen\n");
        return 1;
    }
    const QUrl origin(Standin::secureOrigin(server));

    QWidget window;
    window.setWindowTitle(QStringLiteral("Zephyl"));
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    window.resize(kWindow);

    std::unique_ptr<WebWorkspace> web;
    std::unique_ptr<QWebEngineProfile> profile;
    std::unique_ptr<QWebEnginePage> page;
    bool settled = false;
    QElapsedTimer sinceStart;
    double loadMs = 0, usableMs = 0;
    // The account the bare page shows, asked one question at a time.
    QString who;
    bool asked = false;
    if (kind == Kind::workspace) {
        // Measured from readiness, the user is one welcomed earlier today: the
        // welcome line is an animation, not rest.
        if (from == Start::ready)
            DefaultsStore::shared().setNumber(QStringLiteral("zephyl.mac.greetedAt"),
                                              QDateTime::currentMSecsSinceEpoch() / 1000.0);
        WebWorkspace::Options options;
        options.storageName = QStringLiteral("rest-workspace");
        options.trustedCertificate = Standin::certificate();
        web = std::make_unique<WebWorkspace>(origin, options);
        webbench::signIn(server, origin, userId, *web);
        // As the workspace window holds it, with the look the application would use.
        auto *screen = new WebWorkspaceScreen(web.get());
        screen->setVariant(CompanionLibrary::variant(CompanionLibrary::selectedVariantID()));
        layout->addWidget(screen);
        window.show();
        QObject::connect(web->page(), &QWebEnginePage::loadFinished, [&](bool ok) {
            if (ok && loadMs == 0)
                loadMs = sinceStart.nsecsElapsed() / 1e6;
        });
        sinceStart.start();
        web->start();
        QElapsedTimer sinceReady;
        settled = spinUntil([&] {
            if (web->phase().kind != WebWorkspaceModel::Phase::Kind::workspace || !web->workspaceReady())
                return false;
            if (!sinceReady.isValid()) {
                sinceReady.start();
                usableMs = sinceStart.nsecsElapsed() / 1e6;
            }
            if (from == Start::ready)
                return true;
            // The welcome line comes 2.5 s after the session and stays 5 s.
            return sinceReady.elapsed() > 3000 && !web->moment() && !web->catInside();
        }, 60000);
    } else {
        const QString storage =
            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/rest-bare");
        QDir().mkpath(storage);
        profile = std::make_unique<QWebEngineProfile>(QStringLiteral("rest-bare"));
        profile->setPersistentStoragePath(storage);
        page = std::make_unique<TrustingPage>(profile.get());
        // The store of a plain profile reports no cookie set from here: the
        // page itself shows the account once it is signed in.
        profile->cookieStore()->setCookie(webbench::sessionCookie(server, userId), origin);
        auto *view = new QWebEngineView;
        view->setPage(page.get());
        layout->addWidget(view);
        window.show();
        bool loaded = false;
        QObject::connect(page.get(), &QWebEnginePage::loadFinished, [&](bool ok) {
            loaded = ok;
            if (ok && loadMs == 0)
                loadMs = sinceStart.nsecsElapsed() / 1e6;
        });
        sinceStart.start();
        page->load(origin.resolved(QUrl(QStringLiteral("/instagram"))));
        settled = spinUntil([&] {
            if (loaded && !asked) {
                asked = true;
                page->runJavaScript(QStringLiteral("(document.getElementById('who') || {}).textContent || ''"),
                                    [&who, &asked](const QVariant &text) {
                                        who = text.toString();
                                        asked = false;
                                    });
            }
            if (who != QLatin1String("kitty@example.com"))
                return false;
            usableMs = sinceStart.nsecsElapsed() / 1e6;
            return true;
        }, 60000);
    }
    if (!settled) {
        std::fprintf(stderr, "the %s page did not settle\n", qPrintable(kindName(kind)));
        return 1;
    }
    // What a load leaves behind (the engine's own start-up work) dies down.
    if (from == Start::settled)
        idle(2000);

    const Sample before = sample();
    idle(int(seconds * 1000));
    const Sample after = sample();
    print(kind, between(before, after), loadMs, usableMs);

    // The view goes before its page, the page before its profile.
    delete layout->takeAt(0)->widget();
    page.reset();
    profile.reset();
    web.reset();
    return 0;
}

std::optional<Rest> parse(const QByteArray &output)
{
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith("rest "))
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line.mid(5)).object();
        if (o.isEmpty())
            return std::nullopt;
        Rest rest;
        rest.cpuMs = o.value(QLatin1String("cpuMs")).toDouble();
        const QJsonObject byKind = o.value(QLatin1String("byKind")).toObject();
        for (auto it = byKind.begin(); it != byKind.end(); ++it)
            rest.cpuMsByKind.insert(it.key(), it.value().toDouble());
        rest.wakeups = o.value(QLatin1String("wakeups")).toInteger();
        rest.preemptions = o.value(QLatin1String("preemptions")).toInteger();
        rest.loadMs = o.value(QLatin1String("loadMs")).toDouble();
        rest.usableMs = o.value(QLatin1String("usableMs")).toDouble();
        return rest;
    }
    return std::nullopt;
}

} // namespace restbench
