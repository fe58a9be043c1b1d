// The application killed (SIGKILL) at random moments while the user types in
// the ask panel and in the assistant, or writes a new plan draft and saves it,
// and started again after each: every character it had taken, as its trace
// counted them, is back, for the account that typed them, and the plan the
// service holds once the application has settled is the plan before the draft
// or the plan with the whole draft, never anything between. ZK_KILL_ROUNDS (20
// unless told) rounds; ZK_KILL_SEED repeats a run.
// The moment of each kill while typing text is a random number of keystrokes,
// taken as soon as the trace counts them; a draft is killed while its title is
// typed, right after "Save draft", once the service has the request (which it
// may hold unanswered, or store and then cut off), or once the plan said saved or unsaved.

#include "OperationRoutes.h"
#include "StandinServer.h"
#include "app/DraftEditStore.h"
#include "app/UnsavedPlanStore.h"
#include "app/UnsentTextStore.h"
#include "base/DefaultsStore.h"
#include "base/RecordStore.h"
#include "support/AppSetup.h"
#include "support/TestSupport.h"
#include "support/X11TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

namespace {

struct Application {
    QProcess process;
    QString trace;

    explicit Application(const QString &info)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZEPHYL_TRACE"), QStringLiteral("1"));
        env.insert(QStringLiteral("ZEPHYL_BUNDLE_INFO"), info);
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(env);
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { trace += QString::fromUtf8(process.readAllStandardError()); });
        process.start(QStringLiteral(ZK_APP_BIN), QStringList());
    }
    ~Application()
    {
        kill();
        // Wherever it was taller than the window, the plan scrolled rather than squeezed its rows.
        EXPECT_EQ(squeezedRows().toStdString(), "");
    }
    bool saw(const QString &line, qsizetype mark = 0, std::chrono::seconds limit = std::chrono::seconds(60))
    {
        const auto found = [&] { return trace.indexOf(line, mark) >= 0; };
        return zktest::spinUntil([&] { return found() || process.state() == QProcess::NotRunning; }, limit) && found();
    }
    // The last count of unsent characters the application told: (ask, assistant).
    std::optional<std::pair<int, int>> unsent(qsizetype from = 0) const
    {
        static const QRegularExpression line(QStringLiteral("trace: unsent: ask (\\d+), assistant (\\d+)"));
        std::optional<std::pair<int, int>> last;
        for (auto it = line.globalMatch(trace, from); it.hasNext();) {
            const auto m = it.next();
            last = std::pair(m.captured(1).toInt(), m.captured(2).toInt());
        }
        return last;
    }
    // The button or field that has the keyboard, as the last move of the keyboard told.
    QString focused() const
    {
        const qsizetype at = trace.lastIndexOf(QStringLiteral("trace: keyboard: "));
        const qsizetype end = at < 0 ? -1 : trace.indexOf(u'\n', at);
        if (end < 0)
            return {};
        const QString next = trace.mid(end + 1).section(u'\n', 0, 0);
        for (const QString &prefix : {QStringLiteral("trace: focus on: "), QStringLiteral("trace: focus in field: ")}) {
            if (next.startsWith(prefix))
                return next.mid(prefix.size());
        }
        return {};
    }
    // Tab (or Shift+Tab) through the window, one move at a time, until the
    // button or field of that label has the keyboard. Each Tab is done with
    // once the window tells of its release: where it left the keyboard is told
    // by then, also when the keyboard moved meanwhile on its own (a sheet that
    // takes it as it opens), which a count of moves alone would take for the
    // Tab's and so read every later place one Tab late.
    testing::AssertionResult focus(const QString &label, bool backward)
    {
        const auto count = [this](const char *line) { return trace.count(QLatin1String(line)); };
        for (int press = 0; press < 80; ++press) {
            if (focused() == label)
                return testing::AssertionSuccess();
            const qsizetype moves = count("trace: keyboard: ");
            const qsizetype released = count("trace: key up: ");
            zktest::runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), backward ? QStringLiteral("shift+Tab") : QStringLiteral("Tab")});
            if (!zktest::spinUntil([&] { return count("trace: key up: ") > released; }, std::chrono::seconds(10)))
                return testing::AssertionFailure() << "a Tab never reached the window, before \"" << label.toStdString() << '"';
            if (count("trace: keyboard: ") == moves)
                return testing::AssertionFailure() << "a Tab moved the keyboard nowhere, before \"" << label.toStdString() << '"';
        }
        return testing::AssertionFailure() << "\"" << label.toStdString() << "\" never took the keyboard";
    }
    // The last state of the plan told after `from`: its number of drafts and
    // whether it is loading, saving or unsaved.
    std::optional<QString> plan(qsizetype from) const
    {
        const qsizetype at = trace.lastIndexOf(QStringLiteral("trace: plan: "));
        if (at < from || at < 0)
            return std::nullopt;
        return trace.mid(at + 13).section(u'\n', 0, 0);
    }
    // The first placing of the plan's rows where two stood closer than a row is
    // high (squeezed into the view rather than scrolled), else empty. The first
    // and the last row told may be cut by the view's edge: only rows between
    // them are whole.
    QString squeezedRows() const
    {
        static const QRegularExpression placed(QStringLiteral("trace: plan rows: ([^\n]*)"));
        for (auto it = placed.globalMatch(trace); it.hasNext();) {
            const QString said = it.next().captured(1);
            const QStringList at = said.split(u' ', Qt::SkipEmptyParts);
            for (qsizetype i = 2; i + 1 < at.size(); ++i) {
                if (at[i].section(u',', 1).toInt() - at[i - 1].section(u',', 1).toInt() < 50)
                    return said;
            }
        }
        return {};
    }
    // The plan loaded after `from`, and neither loading nor saving nor unsaved since.
    bool planSettled(qsizetype from, std::chrono::seconds limit = std::chrono::seconds(60))
    {
        return zktest::spinUntil([&] {
            const qsizetype loading = trace.indexOf(QStringLiteral(", loading"), from);
            const auto last = plan(from);
            return loading >= 0 && last && !last->contains(u',') && trace.lastIndexOf(QStringLiteral("trace: plan: ")) > loading;
        }, limit);
    }
    // The application says its keyboard is in that window, and the X server
    // has it there: keys go where the server has the keyboard, which on a busy
    // machine can be a moment after the toolkit counts the window active.
    bool keyboardIn(const QString &where)
    {
        const QString prefix = QStringLiteral("trace: keyboard: ");
        return zktest::spinUntil([&] {
            const qsizetype at = trace.lastIndexOf(prefix);
            const auto server = zktest::serverKeyboard();
            return at >= 0 && trace.mid(at + prefix.size()).section(u'\n', 0, 0) == where &&
                   server.in(process.processId(), where);
        }, std::chrono::seconds(30));
    }
    // The ask panel shown, with the keyboard; a press the window manager took
    // while the window was still arriving is pressed again.
    testing::AssertionResult openAsk()
    {
        bool shown = false;
        for (int press = 0; press < 3 && !shown; ++press) {
            const qsizetype mark = trace.size();
            zktest::runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("alt+space")});
            shown = saw(QStringLiteral("trace: ask panel: shown"), mark, std::chrono::seconds(10));
        }
        if (!shown || !keyboardIn(QStringLiteral("Ask the cat")))
            return testing::AssertionFailure() << "the ask panel never took the keyboard\n" << trace.toStdString();
        return testing::AssertionSuccess();
    }
    // The plan screen, reached by Tab and Space as a keyboard user does.
    // `loads`: the screen's rows are built anew once the plan has loaded, and
    // the keyboard moves after that.
    testing::AssertionResult toPlan(bool loads)
    {
        if (!keyboardIn(QStringLiteral("Zephyl")))
            return testing::AssertionFailure() << "the window never took the keyboard\n" << trace.toStdString();
        if (auto found = focus(QStringLiteral("Plan"), true); !found)
            return found << "\n" << trace.toStdString();
        const qsizetype mark = trace.size();
        zktest::runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("space")});
        if (!saw(QStringLiteral("trace: surface: plan"), mark) || (loads && !planSettled(mark)))
            return testing::AssertionFailure() << "the plan never showed\n" << trace.toStdString();
        return testing::AssertionSuccess();
    }
    // A new draft's sheet on the plan screen, the keyboard in its title.
    testing::AssertionResult newDraft(bool loads)
    {
        if (auto shown = toPlan(loads); !shown)
            return shown;
        if (auto found = focus(QStringLiteral("New draft"), false); !found)
            return found << "\n" << trace.toStdString();
        zktest::runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("space")});
        if (auto found = focus(QStringLiteral("Working title"), false); !found)
            return found << "\n" << trace.toStdString();
        return testing::AssertionSuccess();
    }
    // The sign-in form filled in from the keyboard, as a user does.
    testing::AssertionResult signIn(const QString &email, const QString &password)
    {
        if (!keyboardIn(QStringLiteral("Zephyl")))
            return testing::AssertionFailure() << "the window never took the keyboard\n" << trace.toStdString();
        for (const QString &field : {email, password}) {
            zktest::runTool(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("25"), field});
            zktest::runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), field == email ? QStringLiteral("Tab") : QStringLiteral("Return")});
        }
        if (!saw(QStringLiteral("trace: signed in: ") + email))
            return testing::AssertionFailure() << "never signed in\n" << trace.toStdString();
        return testing::AssertionSuccess();
    }
    // A click on the plan's row `row` (0 the topmost on screen) once `rows` are
    // shown, as built after the plan's last change, until the draft's sheet
    // opens: a click that met the rows being built anew is lost, and made again.
    testing::AssertionResult clickPlanRow(int row, int rows)
    {
        const QString prefix = QStringLiteral("trace: plan rows: ");
        for (int attempt = 0; attempt < 4; ++attempt) {
            QStringList places;
            const bool shown = zktest::spinUntil([&] {
                const qsizetype at = trace.lastIndexOf(prefix);
                if (at < trace.lastIndexOf(QStringLiteral("trace: plan: ")))
                    return false;
                places = at < 0 ? QStringList()
                                : trace.mid(at + prefix.size()).section(u'\n', 0, 0).split(u' ', Qt::SkipEmptyParts);
                return places.size() == rows;
            }, std::chrono::seconds(30));
            if (!shown)
                return testing::AssertionFailure() << "the plan never showed " << rows << " rows\n" << trace.toStdString();
            const QString place = places.at(row);
            const qsizetype mark = trace.size();
            zktest::runTool(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), place.section(u',', 0, 0),
                                                        place.section(u',', 1, 1), QStringLiteral("click"), QStringLiteral("1")});
            // The sheet takes the keyboard as it opens.
            if (saw(QStringLiteral("trace: keyboard: Zephyl"), mark, std::chrono::seconds(5)))
                return testing::AssertionSuccess();
        }
        return testing::AssertionFailure() << "no sheet opened\n" << trace.toStdString();
    }
    void kill()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.kill(); // SIGKILL: nothing of the application runs after it
        process.waitForFinished(10000);
    }
};

void key(const QString &keys) { zktest::runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}); }

// Typed as a user types, one key after another.
void type(const QString &text)
{
    zktest::runTool(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("25"), text});
}

// The draft of that row opened, and words typed at the end of its caption.
testing::AssertionResult addToCaption(Application &app, int row, int rows, const QString &words)
{
    if (auto opened = app.clickPlanRow(row, rows); !opened)
        return opened;
    if (auto found = app.focus(QStringLiteral("Caption"), false); !found)
        return found << "\n" << app.trace.toStdString();
    key(QStringLiteral("ctrl+End"));
    type(words);
    return testing::AssertionSuccess();
}

QStringList titles(const QJsonArray &drafts)
{
    QStringList out;
    for (const QJsonValue &draft : drafts)
        out << draft.toObject().value(QStringLiteral("title")).toString();
    return out;
}

// What the account's draft editors kept, as the application wrote it.
QList<KeptDraftEdit> keptEdits(const QString &config, const QString &owner)
{
    DefaultsStore settings(config + QStringLiteral("/defaults.json"));
    return DraftEditStore(RecordStore::of(settings)).load(owner);
}

// Lets go of the keys a typing was holding when it was stopped.
void letGo(const QString &text)
{
    zktest::runTool(QStringLiteral("xdotool"),
                    QStringList{QStringLiteral("keyup")} +
                        text.split(QString(), Qt::SkipEmptyParts).replaceInStrings(QStringLiteral(" "), QStringLiteral("space")));
}

// The road between the application and the service, as a network that goes
// away and comes back: bytes relayed both ways while open; cut, every
// connection on it ends and new ones are refused, until it opens again on
// the same port.
class Relay final : public QObject {
public:
    explicit Relay(quint16 target) : m_target(target)
    {
        connect(&m_listener, &QTcpServer::newConnection, this, &Relay::accept);
    }
    quint16 open(quint16 port = 0)
    {
        return m_listener.listen(QHostAddress::LocalHost, port) ? m_listener.serverPort() : 0;
    }
    void cut()
    {
        m_listener.close();
        for (QTcpSocket *socket : findChildren<QTcpSocket *>()) {
            socket->abort();
            socket->deleteLater();
        }
    }

private:
    void accept()
    {
        while (QTcpSocket *in = m_listener.nextPendingConnection()) {
            in->setParent(this);
            auto *out = new QTcpSocket(this);
            // Written before the far end has connected, it goes once it has.
            connect(in, &QTcpSocket::readyRead, out, [in, out] { out->write(in->readAll()); });
            connect(out, &QTcpSocket::readyRead, in, [in, out] { in->write(out->readAll()); });
            connect(in, &QTcpSocket::disconnected, out, &QTcpSocket::disconnectFromHost);
            connect(out, &QTcpSocket::disconnected, in, &QTcpSocket::disconnectFromHost);
            out->connectToHost(QHostAddress::LocalHost, m_target);
        }
    }

    QTcpServer m_listener;
    quint16 m_target;
};

// The whole screen, when ZK_JOURNEY_SHOTS names a folder for it.
void shot(const QString &name)
{
    if (qEnvironmentVariableIsSet("ZK_JOURNEY_SHOTS"))
        zktest::runTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                   qEnvironmentVariable("ZK_JOURNEY_SHOTS") + u'/' + name + ".png"});
}

// A plan draft as the service stores it.
QJsonObject draft(qint64 id, const QString &title, const QString &caption = QString())
{
    return QJsonObject{{"id", id},         {"title", title},   {"caption", caption},
                       {"hashtags", ""}, {"format", "post"}, {"scheduledAt", ""}};
}

// Another device of the same account, straight to the service with a session
// of its own: it reads the whole plan, changes it and writes it back, as every
// client of the service does.
class OtherDevice {
public:
    OtherDevice(Standin::Server &server, const QString &email) : m_origin(server.origin())
    {
        Standin::State &state = server.state();
        m_token = state.newToken(QStringLiteral("svc-access"));
        state.accessTokens.insert(m_token, state.accounts.value(email).userId);
    }
    QByteArray authorization() const { return "Bearer " + m_token.toUtf8(); }
    // The plan read, the caption of each draft of that title changed (and a
    // draft added), the plan written back whole.
    testing::AssertionResult edit(const QString &title, const QString &caption, const QJsonObject &added = {})
    {
        const auto read = call("GET", {});
        if (!read)
            return testing::AssertionFailure() << "the other device could not read the plan";
        QJsonArray drafts;
        for (const QJsonValue &value : read->value(QStringLiteral("drafts")).toArray()) {
            QJsonObject draft = value.toObject();
            if (draft.value(QStringLiteral("title")).toString() == title)
                draft.insert(QStringLiteral("caption"), caption);
            drafts.append(draft);
        }
        if (!added.isEmpty())
            drafts.append(added);
        if (!call("PUT", QJsonObject{{"drafts", drafts}}))
            return testing::AssertionFailure() << "the other device could not write the plan";
        return testing::AssertionSuccess();
    }
    // The plan read, each draft of that title left out, the plan written back whole.
    testing::AssertionResult remove(const QString &title)
    {
        const auto read = call("GET", {});
        if (!read)
            return testing::AssertionFailure() << "the other device could not read the plan";
        QJsonArray drafts;
        for (const QJsonValue &value : read->value(QStringLiteral("drafts")).toArray()) {
            if (value.toObject().value(QStringLiteral("title")).toString() != title)
                drafts.append(value);
        }
        if (!call("PUT", QJsonObject{{"drafts", drafts}}))
            return testing::AssertionFailure() << "the other device could not write the plan";
        return testing::AssertionSuccess();
    }

private:
    std::optional<QJsonObject> call(const QByteArray &method, const QJsonObject &body)
    {
        QNetworkRequest request(QUrl(m_origin + QStringLiteral("/api/plan/drafts")));
        request.setRawHeader("Authorization", authorization());
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        std::unique_ptr<QNetworkReply> reply(
            m_network.sendCustomRequest(request, method, body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson()));
        if (!zktest::spinUntil([&] { return reply->isFinished(); }) ||
            reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
            return std::nullopt;
        return QJsonDocument::fromJson(reply->readAll()).object();
    }

    QNetworkAccessManager m_network;
    QString m_origin;
    QString m_token;
};

} // namespace

TEST(JourneyKill, KilledAtRandomMomentsWhileTypingNothingTakenIsLost)
{
    const int rounds = qEnvironmentVariableIsSet("ZK_KILL_ROUNDS") ? qEnvironmentVariableIntValue("ZK_KILL_ROUNDS") : 20;
    const quint64 seed = qEnvironmentVariableIsSet("ZK_KILL_SEED") ? qEnvironmentVariable("ZK_KILL_SEED").toULongLong()
                                                                   : std::random_device{}();
    std::printf("journey kill: %d rounds, ZK_KILL_SEED=%llu\n", rounds, static_cast<unsigned long long>(seed));
    std::fflush(stdout);
    std::mt19937_64 random(seed);

    Standin::Server server;
    const QString kitty = QStringLiteral("kitty@example.com");
    server.addAccount(kitty, QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty"));
    ASSERT_NE(server.start(0), 0) << "the stand-in cannot listen";
    const QString info = zktest::writeServiceInfo(server.origin());
    ASSERT_FALSE(info.isEmpty());
    ASSERT_TRUE(zktest::chooseNativeWorkspace());
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/zephyl-kitty");

    std::pair<int, int> taken{0, 0};
    // The plan's drafts, by title, as the service holds them; the plan with a
    // draft whose saving was cut short; and whether the save reached the service.
    Standin::Operations &operations = Standin::operations(server);
    const QString userId = server.state().accounts.value(kitty).userId;
    const auto served = [&] { return titles(operations.drafts.value(userId)); };
    QStringList plan;
    std::optional<QStringList> cutShort;
    bool reached = false;
    {
        SCOPED_TRACE("the first start signs in with the form");
        Application app(info);
        ASSERT_TRUE(app.saw(QStringLiteral("trace: started"))) << app.trace.toStdString();
        ASSERT_TRUE(app.signIn(kitty, QStringLiteral("meow-meow-meow")));
    }

    for (int round = 1; round <= rounds + 1; ++round) {
        enum Where { askPanel, assistant, draft };
        const auto where = Where(random() % 3);
        const bool ask = where == askPanel;
        const int keystrokes = 1 + int(random() % 12);
        if (round <= rounds && where != draft)
            std::printf("round %d: %s, killed %d keystrokes in\n", round, ask ? "ask panel" : "assistant", keystrokes);
        std::fflush(stdout);
        SCOPED_TRACE(testing::Message() << "round " << round << " of ZK_KILL_SEED=" << seed);
        Application app(info);
        ASSERT_TRUE(app.saw(QStringLiteral("trace: signed in: ") + kitty, 0, std::chrono::seconds(90)))
            << app.trace.toStdString();
        {
            // The plan as it was, or with the whole draft whose saving was cut
            // short; that one for certain once its request reached the service.
            const qsizetype signedIn = app.trace.indexOf(QStringLiteral("trace: signed in"));
            ASSERT_TRUE(app.planSettled(signedIn)) << app.trace.toStdString();
            const QStringList now = served();
            const auto shown = [](const QStringList &titles) { return titles.join(QStringLiteral(" | ")).toStdString(); };
            if (reached) {
                EXPECT_EQ(shown(now), shown(*cutShort)) << "the saved draft is lost";
            } else if (now != plan) {
                EXPECT_EQ(shown(now), shown(cutShort.value_or(plan))) << "before: " << shown(plan);
            }
            EXPECT_EQ(*app.plan(signedIn), QStringLiteral("%1 drafts").arg(now.size())) << "the plan on screen";
            DefaultsStore settings(config + QStringLiteral("/defaults.json"));
            EXPECT_EQ(UnsavedPlanStore(settings).load(kitty), std::nullopt) << "the service has taken the kept plan";
            plan = now;
            cutShort.reset();
            reached = false;
        }
        // Every character told as taken before the last kill is back, for this
        // account: at most the keystroke the kill cut off between its write and
        // its trace line comes on top, and nothing that was never typed.
        // (Empty texts restored change nothing, and the trace tells nothing then.)
        const auto told = [&] {
            return app.unsent(app.trace.indexOf(QStringLiteral("trace: signed in"))).value_or(std::pair(0, 0));
        };
        ASSERT_TRUE(zktest::spinUntil([&] { return told().first >= taken.first && told().second >= taken.second; }))
            << "told as taken: ask " << taken.first << ", assistant " << taken.second << "\n" << app.trace.toStdString();
        DefaultsStore settings(config + QStringLiteral("/defaults.json"));
        const UnsentTextStore::Text stored = UnsentTextStore(settings).load(kitty);
        const std::pair<int, int> restored(int(stored.ask.size()), int(stored.assistant.size()));
        EXPECT_EQ(told(), restored);
        EXPECT_LE(restored.first + restored.second, taken.first + taken.second + 1);
        static const QRegularExpression typed(QStringLiteral("^[a-t ]*$"));
        EXPECT_TRUE(typed.match(stored.ask).hasMatch() && typed.match(stored.assistant).hasMatch());
        taken = restored;
        if (round > rounds)
            break;

        if (where == draft) {
            // A new draft on the plan screen, reached by Tab and Space as a keyboard user does.
            enum Moment { typingTitle, savePressed, requestReached, planTold };
            enum Service { answers, holds, storesThenCuts };
            const auto moment = Moment(random() % 4);
            const auto service = Service(random() % 3);
            const int letters = 1 + int(random() % 12);
            const int typingMs = int(random() % (letters * 30));
            static const char *const moments[] = {"while its title is typed", "right after Save draft",
                                                  "once the service has the request", "once the plan told saved or unsaved"};
            static const char *const services[] = {"answers", "holds the request", "stores it and cuts the answer off"};
            std::printf("round %d: plan draft, killed %s (the service %s)\n", round, moments[moment],
                        moment == typingTitle ? "is not asked" : services[service]);
            std::fflush(stdout);
            ASSERT_TRUE(app.newDraft(true));
            const QString title = QStringLiteral("draft %1 ").arg(round) + QStringLiteral("abcdefghijklmnopqrst").left(letters);
            QProcess typing;
            typing.start(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("25"), title});
            if (moment == typingTitle) {
                // A moment somewhere in the typing: nothing is saved yet, whatever it is.
                QElapsedTimer typed;
                typed.start();
                zktest::spinUntil([&] { return typed.elapsed() >= typingMs; }, std::chrono::milliseconds(typingMs + 1000));
                app.kill();
                typing.kill();
                typing.waitForFinished(5000);
                letGo(title);
                continue;
            }
            ASSERT_TRUE(typing.waitForFinished(30000));
            // Back past the format and "Cancel" to the sheet's last button, the shorter way round.
            ASSERT_TRUE(app.focus(QStringLiteral("Save draft"), true)) << app.trace.toStdString();
            const QString path = QStringLiteral("/api/plan/drafts");
            if (service == holds)
                server.addFault({Standin::Fault::Kind::hang, path, 500, std::nullopt, 0, 1, QString(), "PUT"});
            else if (service == storesThenCuts)
                server.addFault({Standin::Fault::Kind::drop, path, 500, std::nullopt, 0, 1, QString(), "PUT"});
            const auto puts = [&] {
                int n = 0;
                for (const Standin::Seen &seen : server.seen(path))
                    n += seen.method == "PUT" && seen.body.contains(title.toUtf8());
                return n;
            };
            const qsizetype mark = app.trace.size();
            key(QStringLiteral("space"));
            if (moment == requestReached || (moment == planTold && service == holds)) {
                ASSERT_TRUE(zktest::spinUntil([&] { return puts() > 0; }, std::chrono::seconds(30))) << app.trace.toStdString();
            } else if (moment == planTold) {
                ASSERT_TRUE(zktest::spinUntil([&] {
                    const auto told = app.plan(mark);
                    return told && !told->contains(QStringLiteral("saving")) && puts() > 0;
                }, std::chrono::seconds(30))) << app.trace.toStdString();
            }
            app.kill();
            server.clearFaults();
            cutShort = plan + QStringList{title};
            reached = puts() > 0;
            continue;
        }

        if (ask) {
            ASSERT_TRUE(app.openAsk());
        } else {
            ASSERT_TRUE(app.keyboardIn(QStringLiteral("Zephyl"))) << app.trace.toStdString();
        }
        // Typed as a hand types, in another process, while the application is killed.
        QProcess typing;
        const QString text = QStringLiteral("abcdefghij klmnopqrst").left(keystrokes + 6);
        const qsizetype mark = app.trace.size();
        typing.start(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("25"), text});
        const auto count = [&] {
            const auto now = app.unsent(mark);
            return now ? (ask ? now->first - taken.first : now->second - taken.second) : 0;
        };
        ASSERT_TRUE(zktest::spinUntil([&] { return count() >= keystrokes; }, std::chrono::seconds(30)))
            << "the field took " << count() << " of " << keystrokes << "\n" << app.trace.toStdString();
        app.kill();
        typing.kill();
        typing.waitForFinished(5000);
        // A key the typing was holding when it was stopped is let go.
        letGo(text);
        if (const auto last = app.unsent(mark))
            taken = *last;
    }
    // Nobody else's record was ever written (and none at all when nothing was typed).
    for (const QString &folder : QDir(config + QStringLiteral("/records")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        EXPECT_EQ(folder, RecordStore::folderName(kitty));
}

// Signed in at home, the application is killed while a draft's save is still
// on its way and the ask panel holds text; started on a train, the service out
// of reach, it is still the same account's, and a new draft's title is typed
// there; started at home again, all of it is there, the plan reaches the
// service once, and the typed title is offered to the next new draft.
TEST(JourneyKill, AnOfflineStartShowsAndKeepsWhatTheSignedInAccountTypedAndPlanned)
{
    Standin::Server server;
    const QString tom = QStringLiteral("tom@example.com");
    server.addAccount(tom, QStringLiteral("purr-purr-purr"), QStringLiteral("Tom"));
    // The plan holds a draft whose id is beyond a double's exact range, with
    // members another client wrote: drafts added here take the ids after it.
    const qint64 far = 1844674407370955161;
    const QJsonObject location{{"name", "Lisbon"}, {"lat", 38.72}};
    const QString farTitle = QStringLiteral("From the web");
    Standin::operations(server).drafts.insert(
        server.state().accounts.value(tom).userId,
        QJsonArray{QJsonObject{{"id", far}, {"title", farTitle}, {"caption", ""}, {"hashtags", ""}, {"format", "post"},
                               {"scheduledAt", ""}, {"notes", "shot at dawn"}, {"location", location}}});
    const quint16 port = server.start(0);
    ASSERT_NE(port, 0) << "the stand-in cannot listen";
    const QString info = zktest::writeServiceInfo(server.origin());
    ASSERT_TRUE(zktest::chooseNativeWorkspace());
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/zephyl-kitty");
    const QString userId = server.state().accounts.value(tom).userId;
    const auto served = [&] { return titles(Standin::operations(server).drafts.value(userId)); };
    const QString path = QStringLiteral("/api/plan/drafts");
    const auto puts = [&] {
        const QList<Standin::Seen> seen = server.seen(path);
        return int(std::count_if(seen.cbegin(), seen.cend(), [](const Standin::Seen &s) { return s.method == "PUT"; }));
    };
    const auto stored = [&] {
        DefaultsStore settings(config + QStringLiteral("/defaults.json"));
        const auto kept = UnsavedPlanStore(settings).load(tom);
        QStringList planned;
        for (const auto &draft : kept ? kept->drafts : QList<ZephylWire::PlanDraft>())
            planned << draft.title;
        return std::pair(UnsentTextStore(settings).load(tom).ask, planned);
    };
    const auto typedInEditors = [&] {
        QStringList typed;
        for (const KeptDraftEdit &edit : keptEdits(config, tom))
            typed << edit.draft.title;
        return typed;
    };
    const QString t1 = QStringLiteral("first idea"), t2 = QStringLiteral("second idea"), t3 = QStringLiteral("third idea");
    const QString home = QStringLiteral("at home "), train = QStringLiteral("on the train");
    const auto addDraft = [&](Application &app, const QString &title, bool online) {
        ASSERT_TRUE(app.newDraft(online));
        type(title);
        ASSERT_TRUE(app.focus(QStringLiteral("Save draft"), true)) << app.trace.toStdString();
        if (online) // the service holds the save until the application is gone
            server.addFault({Standin::Fault::Kind::hang, path, 500, std::nullopt, 0, 1, QString(), "PUT"});
        key(QStringLiteral("space"));
    };
    const auto ask = [&](Application &app, const QString &text, qsizetype total) {
        ASSERT_TRUE(app.openAsk());
        type(text);
        ASSERT_TRUE(app.saw(QStringLiteral("trace: unsent: ask %1,").arg(total))) << app.trace.toStdString();
    };
    {
        SCOPED_TRACE("at home: signed in, a draft on its way and text in the ask panel");
        Application app(info);
        ASSERT_TRUE(app.signIn(tom, QStringLiteral("purr-purr-purr")));
        ASSERT_NO_FATAL_FAILURE(addDraft(app, t1, true));
        ASSERT_TRUE(zktest::spinUntil([&] { return puts() == 1; })) << app.trace.toStdString();
        ASSERT_NO_FATAL_FAILURE(ask(app, home, home.size()));
        ASSERT_TRUE(zktest::spinUntil([&] { return stored() == std::pair(home, QStringList{farTitle, t1}); }))
            << stored().second.join(u'|').toStdString() << "\n" << app.trace.toStdString();
        app.kill();
    }
    for (QTcpServer *listener : server.servers())
        listener->close();
    server.clearFaults();
    {
        SCOPED_TRACE("on the train: the service out of reach");
        Application app(info);
        ASSERT_TRUE(app.saw(QStringLiteral("trace: signed in: ") + tom)) << app.trace.toStdString();
        ASSERT_TRUE(app.saw(QStringLiteral("trace: unsent: ask %1,").arg(home.size()))) << app.trace.toStdString();
        ASSERT_TRUE(app.saw(QStringLiteral("trace: plan: 2 drafts, unsaved"))) << app.trace.toStdString();
        ASSERT_NO_FATAL_FAILURE(addDraft(app, t2, false));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: plan: 3 drafts, unsaved"))) << app.trace.toStdString();
        // Another new draft's title typed, never saved.
        key(QStringLiteral("Escape"));
        ASSERT_TRUE(app.focus(QStringLiteral("New draft"), false)) << app.trace.toStdString();
        key(QStringLiteral("space"));
        ASSERT_TRUE(app.focus(QStringLiteral("Working title"), false)) << app.trace.toStdString();
        type(t3);
        ASSERT_TRUE(zktest::spinUntil([&] { return typedInEditors().contains(t3); }))
            << typedInEditors().join(u'|').toStdString() << "\n" << app.trace.toStdString();
        ASSERT_NO_FATAL_FAILURE(ask(app, train, home.size() + train.size()));
        ASSERT_TRUE(zktest::spinUntil([&] { return stored() == std::pair(home + train, QStringList{farTitle, t1, t2}); }))
            << stored().first.toStdString() << " / " << stored().second.join(u'|').toStdString();
        app.kill();
    }
    ASSERT_EQ(server.start(port), port) << "the stand-in cannot listen again";
    server.clearSeen();
    {
        SCOPED_TRACE("at home again");
        Application app(info);
        ASSERT_TRUE(app.saw(QStringLiteral("trace: signed in: ") + tom)) << app.trace.toStdString();
        ASSERT_TRUE(app.saw(QStringLiteral("trace: unsent: ask %1,").arg(home.size() + train.size())))
            << app.trace.toStdString();
        ASSERT_TRUE(app.planSettled(0)) << app.trace.toStdString();
        EXPECT_EQ(served(), (QStringList{farTitle, t1, t2}));
        EXPECT_EQ(puts(), 1) << "the plan reaches the service once";
        EXPECT_EQ(*app.plan(0), QStringLiteral("3 drafts"));
        EXPECT_EQ(stored().second, QStringList()) << "the service has taken the kept plan";
        // The title typed in the new draft before the kill is offered again, and saved.
        ASSERT_TRUE(app.newDraft(true));
        ASSERT_TRUE(app.focus(QStringLiteral("Save draft"), true)) << app.trace.toStdString();
        key(QStringLiteral("space"));
        ASSERT_TRUE(zktest::spinUntil([&] { return served() == QStringList{farTitle, t1, t2, t3}; }))
            << served().join(u'|').toStdString() << "\n" << app.trace.toStdString();
        const QJsonArray drafts = Standin::operations(server).drafts.value(userId);
        QList<qint64> ids;
        for (const QJsonValue &d : drafts)
            ids << d[QStringLiteral("id")].toInteger();
        EXPECT_EQ(ids, (QList<qint64>{far, far + 1, far + 2, far + 3}));
        EXPECT_EQ(drafts[0][QStringLiteral("notes")], QJsonValue(QStringLiteral("shot at dawn")));
        EXPECT_EQ(drafts[0][QStringLiteral("location")], QJsonValue(location));
    }
}

// Signed in, the plan loaded, the connection goes while the application runs:
// a draft written here meanwhile waits, the service takes changes from another
// device (a draft added, one's caption edited, one deleted), and once the
// connection is back both sides' changes are in the plan, whichever save goes
// first: the one the plan's next showing sends, or one of a draft written here
// after the connection came back.
TEST(JourneyKill, OfflineInTheSameRunTheServicesChangesMeanwhileStayBesideTheDraftsWrittenHere)
{
    Standin::Server server;
    const QString ginger = QStringLiteral("ginger@example.com");
    server.addAccount(ginger, QStringLiteral("purr-purr-purr"), QStringLiteral("Ginger"));
    ASSERT_NE(server.start(0), 0) << "the stand-in cannot listen";
    Relay relay(server.port());
    const quint16 port = relay.open();
    ASSERT_NE(port, 0) << "the relay cannot listen";
    const QString info = zktest::writeServiceInfo(QStringLiteral("http://127.0.0.1:%1").arg(port));
    ASSERT_TRUE(zktest::chooseNativeWorkspace());

    // The service's plan: six drafts; another device works on it directly.
    Standin::Operations &operations = Standin::operations(server);
    const QString userId = server.state().accounts.value(ginger).userId;
    QStringList plan = {QStringLiteral("Draft one"),  QStringLiteral("Draft two"),  QStringLiteral("Draft three"),
                        QStringLiteral("Draft four"), QStringLiteral("Draft five"), QStringLiteral("Draft six")};
    QJsonArray seeded;
    for (qsizetype i = 0; i < plan.size(); ++i)
        seeded.append(draft(i + 1, plan[i], QStringLiteral("Caption %1").arg(i + 1)));
    operations.drafts.insert(userId, seeded);
    // On the other device: one draft's caption edited, another deleted, one added.
    const auto elsewhere = [&](qint64 edited, const QString &caption, std::optional<qint64> deleted,
                               const QJsonObject &added) {
        QJsonArray drafts;
        for (const QJsonValue &value : operations.drafts.value(userId)) {
            QJsonObject d = value.toObject();
            if (d.value("id").toInteger() == deleted)
                continue;
            if (d.value("id").toInteger() == edited)
                d.insert("caption", caption);
            drafts.append(d);
        }
        drafts.append(added);
        operations.drafts.insert(userId, drafts);
    };
    const auto captionOf = [&](qint64 id) {
        for (const QJsonValue &d : operations.drafts.value(userId)) {
            if (d.toObject().value("id").toInteger() == id)
                return d.toObject().value("caption").toString();
        }
        return QString();
    };
    const auto sorted = [](QStringList list) {
        list.sort();
        return list;
    };

    Application app(info);
    const auto show = [&](const QString &button, const QString &surface) {
        const qsizetype mark = app.trace.size();
        ASSERT_TRUE(app.focus(button, true)) << app.trace.toStdString();
        key(QStringLiteral("space"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: surface: ") + surface, mark)) << app.trace.toStdString();
    };
    // A new draft's sheet with its title typed, the keyboard on "Save draft".
    const auto writeDraft = [&](const QString &title) {
        ASSERT_TRUE(app.focus(QStringLiteral("New draft"), false)) << app.trace.toStdString();
        key(QStringLiteral("space"));
        ASSERT_TRUE(app.focus(QStringLiteral("Working title"), false)) << app.trace.toStdString();
        type(title);
        ASSERT_TRUE(app.focus(QStringLiteral("Save draft"), true)) << app.trace.toStdString();
    };
    // Saved while the connection is gone: kept, unsaved, the sheet left open; Escape puts it away.
    const auto saveOffline = [&](int drafts) {
        const qsizetype mark = app.trace.size();
        key(QStringLiteral("space"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: plan: %1 drafts, unsaved\n").arg(drafts), mark))
            << app.trace.toStdString();
        key(QStringLiteral("Escape"));
    };
    {
        SCOPED_TRACE("signed in, the plan loaded");
        ASSERT_TRUE(app.signIn(ginger, QStringLiteral("purr-purr-purr")));
        ASSERT_TRUE(app.planSettled(0)) << app.trace.toStdString();
        EXPECT_EQ(*app.plan(0), QStringLiteral("6 drafts"));
        ASSERT_TRUE(app.keyboardIn(QStringLiteral("Zephyl"))) << app.trace.toStdString();
        const qsizetype mark = app.trace.size();
        ASSERT_NO_FATAL_FAILURE(show(QStringLiteral("Plan"), QStringLiteral("plan")));
        ASSERT_TRUE(app.planSettled(mark)) << app.trace.toStdString();
    }
    // The service holds the plan expected (both sides' drafts, in any order), and the application has settled on it.
    const auto bothSidesKept = [&](qsizetype mark) {
        return testing::AssertionResult(zktest::spinUntil([&] {
                   const auto told = app.plan(mark);
                   return sorted(titles(operations.drafts.value(userId))) == sorted(plan) && told &&
                          *told == QStringLiteral("%1 drafts").arg(plan.size());
               }))
               << titles(operations.drafts.value(userId)).join(u'|').toStdString() << "\n" << app.trace.toStdString();
    };
    {
        SCOPED_TRACE("offline: a draft written here; on the phone one added, one edited, one deleted");
        relay.cut();
        ASSERT_NO_FATAL_FAILURE(writeDraft(QStringLiteral("Written offline")));
        ASSERT_NO_FATAL_FAILURE(saveOffline(7));
        elsewhere(3, QStringLiteral("Caption written on the phone"), 4, draft(1000, QStringLiteral("Added on the phone")));
        plan.removeOne(QStringLiteral("Draft four"));
        plan << QStringLiteral("Added on the phone") << QStringLiteral("Written offline");
        shot(QStringLiteral("planmeet-offline"));
    }
    {
        SCOPED_TRACE("back online: the plan shown again");
        ASSERT_EQ(relay.open(port), port) << "the relay cannot listen again";
        ASSERT_NO_FATAL_FAILURE(show(QStringLiteral("Summary"), QStringLiteral("summary")));
        const qsizetype mark = app.trace.size();
        ASSERT_NO_FATAL_FAILURE(show(QStringLiteral("Plan"), QStringLiteral("plan")));
        EXPECT_TRUE(bothSidesKept(mark));
        EXPECT_EQ(captionOf(3), QStringLiteral("Caption written on the phone"));
        shot(QStringLiteral("planmeet-back"));
    }
    {
        SCOPED_TRACE("offline again; back online, a draft written here is the first save");
        relay.cut();
        ASSERT_NO_FATAL_FAILURE(writeDraft(QStringLiteral("Written on the train")));
        ASSERT_NO_FATAL_FAILURE(saveOffline(8));
        elsewhere(5, QStringLiteral("Caption written on the laptop"), std::nullopt,
                  draft(1001, QStringLiteral("Added on the laptop")));
        ASSERT_NO_FATAL_FAILURE(writeDraft(QStringLiteral("Written back home")));
        plan << QStringLiteral("Written on the train") << QStringLiteral("Added on the laptop")
             << QStringLiteral("Written back home");
        ASSERT_EQ(relay.open(port), port) << "the relay cannot listen again";
        const qsizetype mark = app.trace.size();
        key(QStringLiteral("space"));
        EXPECT_TRUE(bothSidesKept(mark));
        EXPECT_EQ(captionOf(3), QStringLiteral("Caption written on the phone"));
        EXPECT_EQ(captionOf(5), QStringLiteral("Caption written on the laptop"));
        shot(QStringLiteral("planmeet-home"));
    }
}

// The service holds two drafts under one id. The second is opened from its row
// and a caption is typed into it; the application is killed. Started again, the
// same row's editor offers the caption, and saving it changes that draft alone:
// the service then holds both, the first as it was.
TEST(JourneyKill, ACaptionTypedBeforeAKillComesBackInItsDraftAndItsTwinStays)
{
    Standin::Server server;
    const QString felix = QStringLiteral("felix@example.com");
    server.addAccount(felix, QStringLiteral("whisk-whisk-whisk"), QStringLiteral("Felix"));
    const QString userId = server.state().accounts.value(felix).userId;
    const auto twin = [](const char *title, const char *caption) {
        return QJsonObject{{"id", 1733580000000.0}, {"title", title},   {"caption", caption},
                           {"hashtags", ""},        {"format", "post"}, {"scheduledAt", ""}};
    };
    Standin::operations(server).drafts.insert(userId, QJsonArray{twin("Twin one", "first words"), twin("Twin two", "second words")});
    ASSERT_NE(server.start(0), 0) << "the stand-in cannot listen";
    const QString info = zktest::writeServiceInfo(server.origin());
    ASSERT_TRUE(zktest::chooseNativeWorkspace());
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/zephyl-kitty");
    const QString typed = QStringLiteral("second words, then a few more");
    const auto kept = [&] {
        QStringList captions;
        for (const KeptDraftEdit &edit : keptEdits(config, felix))
            captions << edit.draft.caption;
        return captions;
    };
    const auto served = [&] {
        QStringList out;
        for (const QJsonValue &d : Standin::operations(server).drafts.value(userId))
            out << QStringLiteral("%1 %2: %3")
                       .arg(qint64(d[QStringLiteral("id")].toDouble()))
                       .arg(d[QStringLiteral("title")].toString(), d[QStringLiteral("caption")].toString());
        return out;
    };
    {
        SCOPED_TRACE("signed in, the second twin's caption typed, killed");
        Application app(info);
        ASSERT_TRUE(app.signIn(felix, QStringLiteral("whisk-whisk-whisk")));
        ASSERT_TRUE(app.toPlan(true));
        // Undated, the two are listed by title: the second is the lower row.
        ASSERT_TRUE(addToCaption(app, 1, 2, typed.mid(QStringLiteral("second words").size())));
        ASSERT_TRUE(zktest::spinUntil([&] { return kept() == QStringList{typed}; }))
            << kept().join(u'|').toStdString() << "\n" << app.trace.toStdString();
        app.kill();
    }
    {
        SCOPED_TRACE("started again, the same row's editor offers it, and it is saved alone");
        Application app(info);
        ASSERT_TRUE(app.saw(QStringLiteral("trace: signed in: ") + felix, 0, std::chrono::seconds(90)))
            << app.trace.toStdString();
        ASSERT_TRUE(app.toPlan(true));
        ASSERT_TRUE(app.clickPlanRow(1, 2));
        ASSERT_TRUE(app.focus(QStringLiteral("Save draft"), true)) << app.trace.toStdString();
        key(QStringLiteral("space"));
        const QString id = QStringLiteral("1733580000000");
        const QStringList want{id + QStringLiteral(" Twin one: first words"), id + QStringLiteral(" Twin two: ") + typed};
        ASSERT_TRUE(zktest::spinUntil([&] { return served() == want; }))
            << served().join(u'|').toStdString() << "\n" << app.trace.toStdString();
        EXPECT_TRUE(zktest::spinUntil([&] { return kept().isEmpty(); })) << "saved: nothing is left to offer";
    }
}

// A draft's caption saved, the service storing it and its answer lost on the
// way; the connection gone, the same caption edited further and saved (kept,
// unsaved); the application killed. Started again with the connection back,
// the service holds that draft once, with the whole caption: the first save it
// took is known for ours, not taken for a change made there. Then words typed
// in its editor, not saved, and the application killed again; another device
// deletes the draft meanwhile. Started again, the draft is back in the plan
// with those words, and the user is told.
TEST(JourneyKill, ASaveWhoseAnswerWasLostThenTheSameDraftEditedAgainLeavesItOnceAfterAKill)
{
    Standin::Server server;
    const QString smokey = QStringLiteral("smokey@example.com");
    server.addAccount(smokey, QStringLiteral("paws-paws-paws"), QStringLiteral("Smokey"));
    const QString userId = server.state().accounts.value(smokey).userId;
    Standin::operations(server).drafts.insert(userId, QJsonArray{draft(1, "Draft one", "Caption one"),
                                                                 draft(2, "Draft two", "Caption two")});
    ASSERT_NE(server.start(0), 0) << "the stand-in cannot listen";
    Relay relay(server.port());
    const quint16 port = relay.open();
    ASSERT_NE(port, 0) << "the relay cannot listen";
    const QString info = zktest::writeServiceInfo(QStringLiteral("http://127.0.0.1:%1").arg(port));
    ASSERT_TRUE(zktest::chooseNativeWorkspace());
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/zephyl-kitty");
    const QString path = QStringLiteral("/api/plan/drafts");
    const auto served = [&] {
        QStringList out;
        for (const QJsonValue &d : Standin::operations(server).drafts.value(userId))
            out << d[QStringLiteral("title")].toString() + QStringLiteral(": ") + d[QStringLiteral("caption")].toString();
        return out;
    };
    const auto keptCaptions = [&] {
        DefaultsStore settings(config + QStringLiteral("/defaults.json"));
        QStringList captions;
        if (const auto kept = UnsavedPlanStore(settings).load(smokey))
            for (const auto &d : kept->drafts)
                captions << d.caption;
        return captions;
    };
    const auto puts = [&] {
        const QList<Standin::Seen> seen = server.seen(path);
        return int(std::count_if(seen.cbegin(), seen.cend(), [](const Standin::Seen &s) { return s.method == "PUT"; }));
    };
    {
        SCOPED_TRACE("signed in: a caption saved, its answer lost; offline, edited again and saved; killed");
        Application app(info);
        ASSERT_TRUE(app.signIn(smokey, QStringLiteral("paws-paws-paws")));
        ASSERT_TRUE(app.toPlan(true));
        // Undated, the two are listed by title: "Draft one" is the upper row.
        ASSERT_TRUE(addToCaption(app, 0, 2, QStringLiteral(", once")));
        ASSERT_TRUE(app.focus(QStringLiteral("Save draft"), true)) << app.trace.toStdString();
        // The service stores the list, then its answer is cut off; the connection goes with it.
        server.addFault({Standin::Fault::Kind::drop, path, 500, std::nullopt, 0, 1, QString(), "PUT"});
        qsizetype mark = app.trace.size();
        key(QStringLiteral("space"));
        ASSERT_TRUE(zktest::spinUntil([&] { return puts() == 1; })) << app.trace.toStdString();
        relay.cut();
        ASSERT_TRUE(app.saw(QStringLiteral("trace: plan: 2 drafts, unsaved\n"), mark)) << app.trace.toStdString();
        EXPECT_EQ(served(), (QStringList{"Draft one: Caption one, once", "Draft two: Caption two"}));

        // The sheet stays open: the same caption edited further and saved, kept here.
        ASSERT_TRUE(app.focus(QStringLiteral("Caption"), true)) << app.trace.toStdString();
        key(QStringLiteral("ctrl+End"));
        type(QStringLiteral(", twice"));
        ASSERT_TRUE(app.focus(QStringLiteral("Save draft"), true)) << app.trace.toStdString();
        mark = app.trace.size();
        key(QStringLiteral("space"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: plan: 2 drafts, unsaved\n"), mark)) << app.trace.toStdString();
        ASSERT_TRUE(zktest::spinUntil([&] {
            return keptCaptions() == QStringList{"Caption one, once, twice", "Caption two"};
        })) << keptCaptions().join(u'|').toStdString() << "\n" << app.trace.toStdString();
        shot(QStringLiteral("lostanswer-kept"));
        app.kill();
    }
    ASSERT_EQ(relay.open(port), port) << "the relay cannot listen again";
    {
        SCOPED_TRACE("started again, the connection back");
        Application app(info);
        ASSERT_TRUE(app.saw(QStringLiteral("trace: signed in: ") + smokey, 0, std::chrono::seconds(90)))
            << app.trace.toStdString();
        ASSERT_TRUE(zktest::spinUntil([&] { return puts() == 2 && app.plan(0) == QStringLiteral("2 drafts"); }))
            << served().join(u'|').toStdString() << "\n" << app.trace.toStdString();
        EXPECT_EQ(served(), (QStringList{"Draft one: Caption one, once, twice", "Draft two: Caption two"}));
        EXPECT_TRUE(zktest::spinUntil([&] { return keptCaptions().isEmpty(); })) << "the service has taken it";
        // The plan lists the two drafts; the first one's editor holds the whole caption.
        ASSERT_TRUE(app.toPlan(true));
        shot(QStringLiteral("lostanswer-restarted"));
        ASSERT_TRUE(addToCaption(app, 0, 2, QStringLiteral(", typed before a kill")));
        shot(QStringLiteral("lostanswer-restarted-draft"));
        ASSERT_TRUE(zktest::spinUntil([&] {
            const QList<KeptDraftEdit> edits = keptEdits(config, smokey);
            return edits.size() == 1 && edits.first().draft.caption == QStringLiteral("Caption one, once, twice, typed before a kill");
        })) << app.trace.toStdString();
        app.kill();
    }
    ASSERT_TRUE(OtherDevice(server, smokey).remove(QStringLiteral("Draft one")));
    {
        SCOPED_TRACE("started again after another device deleted the draft: back, with the words typed, and said");
        Application app(info);
        ASSERT_TRUE(app.saw(QStringLiteral("trace: notice: Deleted on another device but changed here, so it was kept: "
                                           "Draft one."),
                            0, std::chrono::seconds(90)))
            << app.trace.toStdString();
        ASSERT_TRUE(zktest::spinUntil([&] {
            return served() == QStringList{"Draft two: Caption two", "Draft one: Caption one, once, twice, typed before a kill"};
        })) << served().join(u'|').toStdString() << "\n" << app.trace.toStdString();
        EXPECT_TRUE(zktest::spinUntil([&] { return keptEdits(config, smokey).isEmpty(); })) << "in the plan now";
        ASSERT_TRUE(app.toPlan(true));
        shot(QStringLiteral("deletedthere-back"));
    }
}

namespace {
// A record as the application kept it on disk for the account, as JSON.
QJsonObject keptRecord(const QString &config, const QString &name, const QString &owner)
{
    DefaultsStore settings(config + QStringLiteral("/defaults.json"));
    const auto bytes = RecordStore::of(settings).read(name, owner);
    return bytes ? QJsonDocument::fromJson(*bytes).object() : QJsonObject();
}
} // namespace

// A draft's caption typed in its editor and handed to the composer with
// "Prepare publication"; the application killed. Started again, the composer
// opens with the words; closed by the user, they are not kept any more.
TEST(JourneyKill, TextHandedFromTheDraftEditorToTheComposerOutlivesAKill)
{
    Standin::Server server;
    const QString ginger = QStringLiteral("ginger@example.com");
    server.addAccount(ginger, QStringLiteral("mrrp-mrrp-mrrp"), QStringLiteral("Ginger"));
    Standin::operations(server).drafts.insert(
        server.state().accounts.value(ginger).userId,
        QJsonArray{QJsonObject{{"id", 1}, {"title", "Draft one"}, {"caption", "Caption one"}, {"hashtags", ""},
                               {"format", "post"}, {"scheduledAt", ""}}});
    ASSERT_NE(server.start(0), 0) << "the stand-in cannot listen";
    const QString info = zktest::writeServiceInfo(server.origin());
    ASSERT_TRUE(zktest::chooseNativeWorkspace());
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/zephyl-kitty");
    const QString typed = QStringLiteral("Caption one, for the composer");
    const auto kept = [&] { return keptRecord(config, QStringLiteral("composer"), ginger).value("caption").toString(); };
    {
        SCOPED_TRACE("the caption typed in the editor, handed to the composer, killed");
        Application app(info);
        ASSERT_TRUE(app.signIn(ginger, QStringLiteral("mrrp-mrrp-mrrp")));
        ASSERT_TRUE(app.toPlan(true));
        ASSERT_TRUE(addToCaption(app, 0, 1, typed.mid(QStringLiteral("Caption one").size())));
        ASSERT_TRUE(app.focus(QStringLiteral("Prepare publication"), false)) << app.trace.toStdString();
        const qsizetype mark = app.trace.size();
        key(QStringLiteral("space"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: composer: shown"), mark)) << app.trace.toStdString();
        EXPECT_TRUE(zktest::spinUntil([&] { return kept() == typed; })) << kept().toStdString();
        app.kill();
    }
    EXPECT_EQ(kept(), typed);
    {
        SCOPED_TRACE("started again: the composer opens with it, and Close puts it away");
        Application app(info);
        ASSERT_TRUE(app.saw(QStringLiteral("trace: composer: shown"), 0, std::chrono::seconds(90))) << app.trace.toStdString();
        ASSERT_TRUE(app.focus(QStringLiteral("Close"), false)) << app.trace.toStdString();
        if (qEnvironmentVariableIsSet("ZK_JOURNEY_SHOTS"))
            zktest::runTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                       qEnvironmentVariable("ZK_JOURNEY_SHOTS") + "/composer-returned.png"});
        key(QStringLiteral("space"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: composer: hidden"))) << app.trace.toStdString();
        EXPECT_TRUE(zktest::spinUntil([&] { return keptRecord(config, QStringLiteral("composer"), ginger).isEmpty(); }));
    }
}

// Instagram connected, a post confirmed; the service makes it, its answer never
// comes and the connection is down for the look-up: the outcome is not known,
// and its key is kept on disk. With the connection back but the look-up still
// refused, the same post from a new composer goes under that key: the service
// answers with the first, which is shown, and holds it once.
TEST(JourneyKill, APublicationWhoseAnswerIsLostIsNotKnownAndTheSamePostAgainIsAnsweredWithTheFirst)
{
    Standin::Server server;
    const QString tabby = QStringLiteral("tabby@example.com");
    server.addAccount(tabby, QStringLiteral("purr-purr-purr"), QStringLiteral("Tabby"));
    Standin::Operations &ops = Standin::operations(server);
    ops.connected.insert(server.state().accounts.value(tabby).userId);
    ASSERT_NE(server.start(0), 0) << "the stand-in cannot listen";
    Relay relay(server.port());
    const quint16 port = relay.open();
    ASSERT_NE(port, 0) << "the relay cannot listen";
    const QString info = zktest::writeServiceInfo(QStringLiteral("http://127.0.0.1:%1").arg(port));
    ASSERT_TRUE(zktest::chooseNativeWorkspace());
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/zephyl-kitty");
    const QString picture = zktest::tempDir() + QStringLiteral("/window-seat.jpg");
    QImage image(640, 800, QImage::Format_RGB32);
    image.fill(QColor(200, 120, 60));
    ASSERT_TRUE(image.save(picture, "JPEG"));
    const QString path = QStringLiteral("/api/instagram/publications");
    const auto keys = [&] {
        QList<QByteArray> out;
        for (const Standin::Seen &seen : server.seen(path))
            if (seen.method == "POST")
                out << seen.header("idempotency-key");
        return out;
    };
    const auto shot = [](const QString &name) {
        if (qEnvironmentVariableIsSet("ZK_JOURNEY_SHOTS"))
            zktest::runTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                       qEnvironmentVariable("ZK_JOURNEY_SHOTS") + u'/' + name + ".png"});
    };
    Application app(info);
    ASSERT_TRUE(app.signIn(tabby, QStringLiteral("purr-purr-purr")));
    ASSERT_TRUE(app.toPlan(true));
    // A new composer, the picture chosen in the file chooser, the caption typed, confirmed.
    const auto publish = [&]() -> testing::AssertionResult {
        const auto failed = [&](const char *what) {
            return testing::AssertionFailure() << what << "\n" << app.trace.toStdString();
        };
        if (!app.focus(QStringLiteral("New publication"), false))
            return failed("no New publication");
        const qsizetype mark = app.trace.size();
        key(QStringLiteral("space"));
        if (!app.saw(QStringLiteral("trace: composer: shown"), mark) || !app.focus(QStringLiteral("Choose files"), false))
            return failed("no composer to choose files in");
        key(QStringLiteral("space"));
        if (!app.keyboardIn(QStringLiteral("Choose files")))
            return failed("no file chooser");
        if (app.focused() != QStringLiteral("File name:"))
            return failed("the chooser's field told without the name its label gives it");
        type(picture);
        key(QStringLiteral("Return"));
        if (!app.keyboardIn(QStringLiteral("Zephyl")) || !app.focus(QStringLiteral("Caption"), false))
            return failed("no caption");
        type(QStringLiteral("A cat on the window seat"));
        if (!app.focus(QStringLiteral("Publish now…"), false))
            return failed("no Publish now…");
        key(QStringLiteral("space"));
        if (!zktest::spinUntil([&] { return app.focused() == QStringLiteral("Confirm and publish"); }))
            return failed("no confirmation");
        key(QStringLiteral("space"));
        return testing::AssertionSuccess();
    };
    // The service stores it and holds the answer; then the connection goes.
    ops.afterStore = Standin::Answer::Delivery::hang;
    ops.afterStoreTimes = 1;
    qsizetype mark = app.trace.size();
    ASSERT_TRUE(publish());
    ASSERT_TRUE(zktest::spinUntil([&] { return ops.publications.size() == 1; })) << app.trace.toStdString();
    relay.cut();
    ASSERT_TRUE(app.saw(QStringLiteral("trace: outcome page: unknown"), mark)) << app.trace.toStdString();
    shot(QStringLiteral("publishknown-unknown"));
    const QByteArray first = keys().value(0);
    const QJsonArray pending = keptRecord(config, QStringLiteral("pending-publications"), tabby).value("pending").toArray();
    EXPECT_EQ(pending.first()[QStringLiteral("key")].toString().toUtf8(), first) << "kept for a kill";

    server.addFault({Standin::Fault::Kind::serverError, path + u'/' + QString::fromUtf8(first), 503, std::nullopt, 0, -1});
    ASSERT_EQ(relay.open(port), port) << "the relay cannot listen again";
    ASSERT_TRUE(app.focus(QStringLiteral("Done"), false)) << app.trace.toStdString();
    mark = app.trace.size();
    key(QStringLiteral("space"));
    ASSERT_TRUE(app.saw(QStringLiteral("trace: composer: hidden"), mark)) << app.trace.toStdString();
    ASSERT_TRUE(publish());
    ASSERT_TRUE(app.saw(QStringLiteral("trace: outcome page: published"), mark)) << app.trace.toStdString();
    shot(QStringLiteral("publishknown-published"));
    EXPECT_EQ(keys(), (QList<QByteArray>{first, first}));
    EXPECT_EQ(ops.publications.size(), 1) << "published once";
}


// Signed in and on line, the plan shown; another device adds a draft and
// changes a caption while this one sits idle; a new draft saved here, the
// grid's Refresh, a tile opened and saved without a change: every write here
// reads the service's plan just before it, and nothing the other device wrote
// is lost.
TEST(JourneyKill, WhatAnotherDeviceWritesWhileThisOneIsIdleStaysThroughEveryWrite)
{
    Standin::Server server;
    const QString misty = QStringLiteral("misty@example.com");
    server.addAccount(misty, QStringLiteral("purr-purr-purr"), QStringLiteral("Misty"));
    const QString userId = server.state().accounts.value(misty).userId;
    Standin::operations(server).drafts.insert(userId, QJsonArray{draft(1, "Draft one", "Caption one"),
                                                                 draft(2, "Two", "Caption two")});
    ASSERT_NE(server.start(0), 0) << "the stand-in cannot listen";
    const QString info = zktest::writeServiceInfo(server.origin());
    ASSERT_TRUE(zktest::chooseNativeWorkspace());
    const QString path = QStringLiteral("/api/plan/drafts");
    OtherDevice phone(server, misty);
    const auto served = [&] {
        QStringList out;
        for (const QJsonValue &d : Standin::operations(server).drafts.value(userId))
            out << d[QStringLiteral("title")].toString() + QStringLiteral(": ") + d[QStringLiteral("caption")].toString();
        return out;
    };
    // This application's calls on the plan since `from`, in order ("GET", "PUT"), the other device's left out.
    const auto ours = [&](qsizetype from) {
        QStringList calls;
        const QList<Standin::Seen> seen = server.seen(path);
        for (qsizetype i = from; i < seen.size(); ++i)
            if (seen[i].header("authorization") != phone.authorization())
                calls << QString::fromLatin1(seen[i].method);
        return calls;
    };
    const auto holds = [&](const QStringList &want, Application &app) {
        return testing::AssertionResult(zktest::spinUntil([&] {
                   const auto told = app.plan(0);
                   return served() == want && told && *told == QStringLiteral("%1 drafts").arg(want.size());
               })) << served().join(u'|').toStdString() << "\n" << app.trace.toStdString();
    };
    const auto show = [&](Application &app, const QString &button, const QString &surface) {
        const qsizetype mark = app.trace.size();
        ASSERT_TRUE(app.focus(button, true)) << app.trace.toStdString();
        key(QStringLiteral("space"));
        ASSERT_TRUE(app.saw(QStringLiteral("trace: surface: ") + surface, mark)) << app.trace.toStdString();
    };


    Application app(info);
    ASSERT_TRUE(app.signIn(misty, QStringLiteral("purr-purr-purr")));
    ASSERT_TRUE(app.toPlan(true));
    {
        SCOPED_TRACE("idle, the other device adds a draft and changes a caption; a draft is added here");
        ASSERT_TRUE(phone.edit(QStringLiteral("Draft one"), QStringLiteral("Caption from the phone"),
                               draft(1000, QStringLiteral("Phone draft"))));
        const qsizetype before = server.seen(path).size();
        ASSERT_TRUE(app.focus(QStringLiteral("New draft"), false)) << app.trace.toStdString();
        key(QStringLiteral("space"));
        ASSERT_TRUE(app.focus(QStringLiteral("Working title"), false)) << app.trace.toStdString();
        type(QStringLiteral("Kitchen window"));
        ASSERT_TRUE(app.focus(QStringLiteral("Save draft"), true)) << app.trace.toStdString();
        key(QStringLiteral("space"));
        EXPECT_TRUE(holds({"Draft one: Caption from the phone", "Two: Caption two", "Phone draft: ",
                           "Kitchen window: "}, app));
        EXPECT_EQ(ours(before).join(u' ').toStdString(), "GET PUT") << "the plan read just before it is written";
        shot(QStringLiteral("othersync-plan"));
    }
    {
        SCOPED_TRACE("on the grid: the other device changes more; Refresh reads the plan");
        show(app, QStringLiteral("Grid"), QStringLiteral("grid"));
        ASSERT_TRUE(phone.edit(QStringLiteral("Two"), QStringLiteral("Two, from the tablet"),
                               draft(1001, QStringLiteral("Tablet draft"))));
        ASSERT_TRUE(app.focus(QStringLiteral("Refresh"), true)) << app.trace.toStdString();
        key(QStringLiteral("space"));
        EXPECT_TRUE(zktest::spinUntil([&] { return app.plan(0) == QStringLiteral("5 drafts"); }, std::chrono::seconds(15)))
            << app.trace.toStdString();
        shot(QStringLiteral("othersync-grid-refreshed"));
    }
    {
        SCOPED_TRACE("the first tile opened and saved without a change, the other device having changed it since");
        ASSERT_TRUE(phone.edit(QStringLiteral("Draft one"), QStringLiteral("Caption from the tablet")));
        // The first tile is the next stop after Refresh; it opens from the keyboard.
        ASSERT_TRUE(app.focus(QStringLiteral("Refresh"), true)) << app.trace.toStdString();
        key(QStringLiteral("Tab"));
        const qsizetype mark = app.trace.size();
        key(QStringLiteral("space"));
        // The sheet takes the keyboard as it opens.
        ASSERT_TRUE(app.saw(QStringLiteral("trace: keyboard: Zephyl"), mark)) << "no sheet opened\n" << app.trace.toStdString();
        shot(QStringLiteral("othersync-tile-opened"));
        ASSERT_TRUE(app.focus(QStringLiteral("Save draft"), true)) << app.trace.toStdString();
        key(QStringLiteral("space"));
        EXPECT_TRUE(holds({"Draft one: Caption from the tablet", "Two: Two, from the tablet", "Phone draft: ",
                           "Kitchen window: ", "Tablet draft: "}, app));
    }
}
