// Tucking windows away on a real X server under openbox. The distracting
// windows belong to another process -- this test run again as a child that
// shows Qt windows -- since the window source leaves our own windows out, as
// it must for the application's panels.

#include "app/AppModel.h"
#include "base/Clock.h"
#include "base/DefaultsStore.h"
#include "design/L10n.h"
#include "focus/FocusGuard.h"
#include "focus/X11WindowSource.h"
#include "platform/X11.h"
#include "platform/X11WindowList.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

namespace {

const char *kChildTitles = "ZK_TUCK_CHILD_TITLES";
const char *kChildStop = "ZK_TUCK_CHILD_STOP";

std::optional<X11::ClientWindow> clientWindow(uint32_t id)
{
    for (const auto &w : X11::readClientWindows()) {
        if (w.id == id)
            return w;
    }
    return std::nullopt;
}

bool hiddenOnScreen(uint64_t id)
{
    return zktest::spinUntil([&] {
        const auto w = clientWindow(uint32_t(id));
        return w && w->hidden();
    });
}

// Another application with windows of the given titles, shown and managed.
class OtherApplication {
public:
    explicit OtherApplication(const QStringList &titles)
    {
        m_stop = zktest::tempDir() + QStringLiteral("/stop-%1").arg(quintptr(this));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildTitles), titles.join(QLatin1Char('|')));
        env.insert(QString::fromLatin1(kChildStop), m_stop);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--gtest_filter=TuckChild.ShowsItsWindows")});
        m_ready = zktest::spinUntil(
            [&] {
                m_output += m_process.readAllStandardOutput();
                return m_output.contains("windows-ready");
            },
            std::chrono::seconds(60));
    }
    ~OtherApplication()
    {
        QFile stop(m_stop);
        stop.open(QIODevice::WriteOnly);
        stop.close();
        if (!m_process.waitForFinished(30'000))
            m_process.kill(); // only our own child
    }
    bool ready() const { return m_ready; }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    QString m_stop;
    QByteArray m_output;
    bool m_ready = false;
};

// The model over the desktop's window source, on the virtual clock.
struct Desk {
    Desk()
    {
        AppModel::Environment env;
        env.defaults = &store;
        env.clock = &clock;
        env.windows = &source;
        env.selectedVariantID = [] { return QStringLiteral("drawn"); };
        model = std::make_unique<AppModel>(env);
        model->setEvents([this](const AppEvent &e) { events.append(e); });
    }
    DefaultsStore store;
    FakeClock clock;
    X11WindowSource source;
    std::unique_ptr<AppModel> model;
    QList<AppEvent> events;
};

std::vector<DistractingWindow> ofProcess(const std::vector<DistractingWindow> &found, qint64 pid)
{
    std::vector<DistractingWindow> out;
    for (const auto &w : found) {
        if (w.id.startsWith(QString::number(pid) + QLatin1Char('-')))
            out.push_back(w);
    }
    return out;
}

} // namespace

// Runs only as the child: shows the windows, says so, and stays until told to stop.
TEST(TuckChild, ShowsItsWindows)
{
    if (!qEnvironmentVariableIsSet(kChildTitles))
        GTEST_SKIP() << "runs as the other application of the tucking tests";
    std::vector<std::unique_ptr<QWidget>> windows;
    int i = 0;
    for (const QString &title : qEnvironmentVariable(kChildTitles).split(QLatin1Char('|'))) {
        auto w = std::make_unique<QWidget>();
        w->setWindowTitle(title);
        w->setGeometry(80 + 260 * i, 120 + 40 * i, 240, 200);
        w->show();
        windows.push_back(std::move(w));
        ++i;
    }
    const bool managed = zktest::spinUntil([&] {
        for (const auto &w : windows) {
            const auto c = clientWindow(uint32_t(w->winId()));
            if (!c || !c->viewable || c->frameExtents.top() <= 0)
                return false;
        }
        return true;
    });
    ASSERT_TRUE(managed);
    std::fputs("windows-ready\n", stdout);
    std::fflush(stdout);
    const QString stop = qEnvironmentVariable(kChildStop);
    zktest::spinUntil([&] { return QFile::exists(stop); }, std::chrono::seconds(120));
}

TEST(TuckOnX11, TheDistractingWindowsOfAnotherApplicationAreVisitedAndMinimised)
{
    ASSERT_TRUE(X11::available());
    L10n::setPreference(AppLanguage::en);
    OtherApplication other({QStringLiteral("Instagram — Firefox"), QStringLiteral("Release notes"),
                            QStringLiteral("YouTube: Shorts")});
    ASSERT_TRUE(other.ready());

    Desk desk;
    const auto found = ofProcess(FocusGuard::scan(desk.source), other.pid());
    ASSERT_EQ(found.size(), 2u) << "the notes window is not a distraction";
    for (const auto &w : found) {
        ASSERT_TRUE(w.frame) << w.title.toStdString();
        // The frame the cat is sent to is the decorated window in desktop points.
        const auto onScreen = clientWindow(uint32_t(w.element));
        ASSERT_TRUE(onScreen);
        EXPECT_EQ(*w.frame, X11::toDesktopPoints(onScreen->outerFrame()));
    }

    AppModel &m = *desk.model;
    m.tuckAwayDistractions();
    EXPECT_TRUE(m.accessibilityTrusted());
    // Only the other application's windows can be distractions on this display.
    ASSERT_EQ(m.distractions().size(), 2u);
    ASSERT_EQ(desk.events.size(), 1);
    ASSERT_EQ(desk.events[0].kind, AppEvent::Kind::visitWindow);
    const DistractingWindow first = m.distractions()[0];
    const DistractingWindow second = m.distractions()[1];
    EXPECT_EQ(desk.events[0].frame, *first.frame);

    // The cat arrives: the window goes to the task bar.
    m.tuckVisitArrived(CompanionGoal::visit(AppModel::visitLedge(*first.frame)));
    EXPECT_TRUE(hiddenOnScreen(first.element));
    EXPECT_FALSE(clientWindow(uint32_t(second.element))->hidden());

    // The next visit runs out: minimised all the same.
    desk.clock.advance(AppModel::kTuckPacing);
    ASSERT_EQ(desk.events.back().kind, AppEvent::Kind::visitWindow);
    EXPECT_EQ(desk.events.back().frame, *second.frame);
    desk.clock.advance(AppModel::kTuckVisitLimit);
    EXPECT_TRUE(hiddenOnScreen(second.element));
    desk.clock.advance(AppModel::kTuckPacing);
    EXPECT_EQ(desk.events.back(), AppEvent::say(QStringLiteral("Feeds are tucked away. Back to it.")));
    EXPECT_TRUE(m.distractions().empty());

    // The notes window was left as it was, and a new scan finds nothing to tuck.
    bool notesShown = false;
    for (const auto &w : X11::readClientWindows()) {
        if (w.title == QStringLiteral("Release notes"))
            notesShown = w.viewable && !w.hidden();
    }
    EXPECT_TRUE(notesShown);
    EXPECT_TRUE(ofProcess(FocusGuard::scan(desk.source), other.pid()).empty()) << "minimised windows are skipped";
    L10n::setPreference(AppLanguage::system);
}

TEST(TuckOnX11, MinimisingAsksTheWindowManagerForTheIconicState)
{
    ASSERT_TRUE(X11::available());
    X11WindowSource source;
    QWidget own;
    own.setWindowTitle(QStringLiteral("Лента — свернуть меня"));
    own.setGeometry(200, 200, 320, 240);
    own.show();
    ASSERT_TRUE(zktest::spinUntil([&] {
        const auto w = clientWindow(uint32_t(own.winId()));
        return w && w->viewable;
    }));
    EXPECT_TRUE(source.minimize(own.winId()));
    EXPECT_TRUE(hiddenOnScreen(own.winId()));
    EXPECT_TRUE(zktest::spinUntil([&] { return own.isMinimized(); })) << "Qt learns it from the window manager";

    // Nothing to ask for: no window, or an id no X window can have.
    EXPECT_FALSE(source.minimize(0));
    EXPECT_FALSE(source.minimize(uint64_t(1) << 40));
    // A window that has gone meanwhile: asked, and nothing happens.
    auto gone = std::make_unique<QWidget>();
    gone->show();
    const uint64_t id = gone->winId();
    gone.reset();
    source.minimize(id);
    EXPECT_TRUE(zktest::spinUntil([&] { return !clientWindow(uint32_t(id)); }));
    EXPECT_TRUE(clientWindow(uint32_t(own.winId()))) << "the connection survived";
}
