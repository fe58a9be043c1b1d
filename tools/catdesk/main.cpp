// The desktop cat on the running X session.
//
//   catdesk [--windows] [--walk] [--away] [--say TEXT] [--visit] [--quit-after S]
//   catdesk --bare [--quit-after S]
//
// --windows   also opens a few demo windows (in a child process, as another
//             application's windows) for the cat to walk on
// --walk      a lively cat that strolls and hops by itself
// --pace      the cat walks to and fro along the floor without a pause
// --away      the user counts as away: the cat falls asleep and frames slow to 4 Hz
// --nap       the cat naps at once (for 16 s, then as it pleases)
// --sleep     the cat falls asleep at once for an hour
// --say TEXT  the cat says TEXT for 8 s, again every 10 s
// --visit     the cat hops onto the frontmost demo window's top
// --bare      no cat: a full-screen translucent window repainted 30 times a
//             second, the baseline of the desktop benchmark
// --quit-after S   exits after S seconds

#include "base/Clock.h"
#include "companion/CompanionController.h"
#include "companion/CompanionPanel.h"
#include "companion/CompanionLibrary.h"
#include "companion/FilmedPainter.h"
#include "companion/CompanionDesktop.h"
#include "platform/X11.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

namespace {

// The session's desktop with the user away, or as it is.
class AwayDesktop final : public CompanionDesktop {
public:
    explicit AwayDesktop(std::unique_ptr<CompanionDesktop> inner) : m_inner(std::move(inner))
    {
        m_inner->onScreensChanged = [this] {
            if (onScreensChanged)
                onScreensChanged();
        };
        m_inner->onCompositingChanged = [this] {
            if (onCompositingChanged)
                onCompositingChanged();
        };
    }
    bool compositing() const override { return m_inner->compositing(); }
    void keepAbove(const std::vector<quint32> &ours) override { m_inner->keepAbove(ours); }
    std::vector<CompanionScreen> screens() const override { return m_inner->screens(); }
    std::optional<QPointF> pointer() const override { return m_inner->pointer(); }
    double secondsSinceInput() const override { return 3600; }
    std::vector<WindowInfo> windows(const std::set<quint32> &excluding, double primaryHeight) const override
    {
        return m_inner->windows(excluding, primaryHeight);
    }
    QPointF toCat(const QPointF &p) const override { return m_inner->toCat(p); }
    QRectF toCat(const QRectF &r) const override { return m_inner->toCat(r); }
    QRectF toQt(const QRectF &r) const override { return m_inner->toQt(r); }

private:
    std::unique_ptr<CompanionDesktop> m_inner;
};

// A translucent full-screen window that repaints a cat-sized patch 30 times a
// second: what any such overlay costs before the cat's own work.
class BareOverlay final : public QWidget {
public:
    BareOverlay()
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint |
                               Qt::WindowDoesNotAcceptFocus)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setGeometry(QGuiApplication::primaryScreen()->geometry());
        winId();
        X11::setInputShape(static_cast<unsigned int>(winId()), {});
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const QRect old = patch();
            ++m_frame;
            update(old.united(patch()));
        });
        m_timer.start(33);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(patch(), QColor(40, 30, 20, 200));
    }

private:
    QRect patch() const { return QRect(200 + (m_frame % 300), height() - 100, 84, 62); }
    QTimer m_timer;
    int m_frame = 0;
};

// Windows of another process, so the cat treats them as the user's.
int demoWindows()
{
    struct Spec {
        const char *title;
        QRect geometry;
    };
    const Spec specs[] = {
        {"Notes", {80, 420, 520, 300}},
        {"Plan for the week", {460, 300, 600, 360}},
        {"Inbox", {820, 520, 420, 220}},
    };
    std::vector<std::unique_ptr<QWidget>> windows;
    for (const Spec &s : specs) {
        auto w = std::make_unique<QWidget>();
        w->setWindowTitle(QString::fromUtf8(s.title));
        auto *layout = new QVBoxLayout(w.get());
        auto *label = new QLabel(QString::fromUtf8(s.title), w.get());
        label->setTextFormat(Qt::PlainText);
        layout->addWidget(label);
        w->setGeometry(s.geometry);
        w->show();
        windows.push_back(std::move(w));
    }
    return QApplication::exec();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"windows", "Open demo windows."},
                       {"demo-windows", "Be the demo windows' process."},
                       {"walk", "A lively cat that wanders."},
                       {"pace", "Walk to and fro without a pause."},
                       {"away", "The user counts as away."},
                       {"nap", "Nap at once."},
                       {"sleep", "Sleep at once, for an hour."},
                       {"say", "Say a line.", "text"},
                       {"visit", "Visit the frontmost demo window."},
                       {"bare", "A bare translucent 30 Hz window, no cat."},
                       {"look", "The look to show, by id (\"drawn\", or a filmed look such as \"ginger\").", "id"},
                       {"quit-after", "Exit after seconds.", "seconds"}});
    parser.process(app);
    if (parser.isSet("demo-windows"))
        return demoWindows();
    if (parser.isSet("quit-after"))
        QTimer::singleShot(int(parser.value("quit-after").toDouble() * 1000), &app, &QCoreApplication::quit);
    if (!X11::compositorRunning())
        std::fprintf(stderr, "catdesk: no compositing manager; the cat lives in a window of its own shape\n");

    QProcess demo;
    if (parser.isSet("windows")) {
        demo.setProcessChannelMode(QProcess::ForwardedChannels);
        demo.start(QCoreApplication::applicationFilePath(), {"--demo-windows"});
        demo.waitForStarted();
    }
    if (parser.isSet("bare")) {
        BareOverlay overlay;
        overlay.show();
        const int status = QApplication::exec();
        demo.kill();
        demo.waitForFinished();
        return status;
    }

    std::unique_ptr<CompanionDesktop> desktop = CompanionDesktop::system();
    if (parser.isSet("away"))
        desktop = std::make_unique<AwayDesktop>(std::move(desktop));
    CompanionController cat(Clock::shared(), std::move(desktop));
    if (parser.isSet("look")) {
        auto filmed = std::make_shared<FilmedPainter>();
        filmed->repaint = [&cat] {
            for (CompanionPanel *panel : cat.panels())
                panel->repaintFigure();
        };
        cat.setFilmedPainter(filmed);
        cat.setVariant(CompanionLibrary::variant(parser.value("look")));
    }
    if (parser.isSet("walk")) {
        cat.wanders = true;
        cat.temper = CompanionTemper::lively;
        // Daytime odds, whatever the hour here.
        cat.hour = [] { return 9; };
    }
    cat.onClick = [&cat] { cat.say(QStringLiteral("Meow."), 3); };
    cat.start();
    if (parser.isSet("pace")) {
        // Whenever the cat stands still, send it walking 300 points the other way.
        auto *pace = new QTimer(&app);
        QObject::connect(pace, &QTimer::timeout, &cat, [&cat] {
            CompanionBrain &b = cat.brain();
            if (b.pose.state == CompanionState::walk || b.pose.state == CompanionState::carried)
                return;
            b.targetX = b.pose.position.x() + (b.pose.position.x() > 700 ? -300 : 300);
            b.pose.state = CompanionState::walk;
            b.stateTime = 0;
            b.stateDuration = 0;
        });
        pace->start(100);
    }
    if (parser.isSet("sleep")) {
        CompanionBrain &b = cat.brain();
        b.pose.state = CompanionState::sleep;
        b.stateTime = 0;
        b.stateDuration = 3600;
    }
    if (parser.isSet("nap"))
        cat.request(CompanionGoal::nap());
    if (parser.isSet("say")) {
        const QString text = parser.value("say");
        cat.say(text, 8);
        auto *again = new QTimer(&app);
        QObject::connect(again, &QTimer::timeout, &cat, [&cat, text] { cat.say(text, 8); });
        again->start(10000);
    }
    if (parser.isSet("visit")) {
        // Once the demo windows are up, hop onto the frontmost one.
        auto *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &cat, [&cat, poll] {
            if (cat.ledges().empty())
                return;
            cat.request(CompanionGoal::visit(cat.ledges().front()));
            poll->stop();
        });
        poll->start(200);
    }
    const int status = QApplication::exec();
    cat.stop();
    demo.kill();
    demo.waitForFinished();
    return status;
}
