// Another application with windows, for tests and benchmarks of the window list:
// opens one window per argument, titled with it ("min:" first: minimised once
// shown), prints "<window id> <frame x> <frame y> <frame w> <frame h>" per window
// once the window manager has framed them all, then "ready", and quits when its
// standard input closes.
#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Feed Reader"));
    std::vector<std::unique_ptr<QWidget>> windows;
    std::vector<bool> minimise;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        QString title = args[i];
        const bool min = title.startsWith(QLatin1String("min:"));
        if (min)
            title = title.mid(4);
        auto w = std::make_unique<QWidget>();
        w->setWindowTitle(title);
        w->setGeometry(40 + (i % 10) * 60, 60 + (i / 10) * 50, 320, 200);
        w->show();
        windows.push_back(std::move(w));
        minimise.push_back(min);
    }
    // Openbox has framed a window once Qt knows a frame larger than the client area.
    auto framed = [&] {
        for (const auto &w : windows) {
            if (w->frameGeometry() == w->geometry())
                return false;
        }
        return true;
    };
    QTimer poll;
    bool reported = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (reported || !framed())
            return;
        reported = true;
        for (size_t i = 0; i < windows.size(); ++i) {
            const QRect f = windows[i]->frameGeometry();
            std::printf("%llu %d %d %d %d\n", static_cast<unsigned long long>(windows[i]->winId()), f.x(), f.y(),
                        f.width(), f.height());
            if (minimise[i])
                windows[i]->showMinimized();
        }
        std::printf("ready\n");
        std::fflush(stdout);
    });
    poll.start(20);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    return app.exec();
}
