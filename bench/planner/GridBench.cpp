// The grid preview with 300 tiles (6 drafts, 294 posts with pictures from an
// https host on 127.0.0.1): the time of each frame while scrolling through it,
// first while the pictures arrive and then with all of them in memory, and the
// resident memory of the process before the grid, with the grid built, and
// with every tile's picture loaded; and a Tab press in a draft's sheet over it,
// which goes round the sheet's own controls in the window's Tab order.
// Usage: QT_QPA_PLATFORM=offscreen build/bench/planner_grid_bench
#include "Certificate.h"
#include "StandinServer.h"
#include "WebApp.h"

#include "app/AppModel.h"
#include "app/ServiceClient.h"
#include "base/DefaultsStore.h"
#include "design/AppearanceService.h"
#include "services/KeychainStore.h"
#include "services/ZephylAPI.h"
#include "workspace/DraftEditorView.h"
#include "workspace/GridView.h"
#include "workspace/PlanView.h"
#include "workspace/PlannerKit.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSslConfiguration>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

constexpr int kDrafts = 6;
constexpr int kPosts = 294;

double rssMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

void breathe(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray jpeg(int hue)
{
    QImage image(1080, 1350, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient fill(0, 0, 1080, 1350);
    fill.setColorAt(0, QColor::fromHsv(hue, 80, 230));
    fill.setColorAt(1, QColor::fromHsv((hue + 90) % 360, 120, 160));
    painter.fillRect(image.rect(), fill);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}

struct Frames {
    std::vector<double> ms;
    QString summary() const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        auto at = [&](double q) { return sorted[std::min(sorted.size() - 1, size_t(q * double(sorted.size())))]; };
        const double mean = std::accumulate(sorted.begin(), sorted.end(), 0.0) / double(sorted.size());
        return QStringLiteral("%1 frames, mean %2 ms, median %3 ms, p95 %4 ms, max %5 ms")
            .arg(sorted.size())
            .arg(mean, 0, 'f', 2)
            .arg(at(0.5), 0, 'f', 2)
            .arg(at(0.95), 0, 'f', 2)
            .arg(sorted.back(), 0, 'f', 2);
    }
};

// Scrolls from top to bottom in steps of a wheel notch; each frame is the
// scroll and the synchronous repaint of the window. `settle` lets the event
// loop run between frames (pictures arriving) for that many milliseconds.
Frames scrollThrough(QWidget &window, QScrollArea &area, int settleMs)
{
    Frames frames;
    QScrollBar *bar = area.verticalScrollBar();
    bar->setValue(0);
    QElapsedTimer timer;
    for (int value = 0; value <= bar->maximum(); value += 120) {
        timer.start();
        bar->setValue(value);
        window.repaint();
        frames.ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (settleMs > 0)
            breathe(settleMs);
        else
            QCoreApplication::processEvents();
    }
    return frames;
}

bool visibleTilesSettled(QWidget &window)
{
    for (GridTile *tile : window.findChildren<GridTile *>()) {
        if (tile->visibleRegion().isEmpty() || !tile->pictureAddress())
            continue;
        if (PictureCache::shared().isPending(*tile->pictureAddress()))
            return false;
    }
    return true;
}

class NoDesktopScheme final : public ColorSchemeSource {
public:
    std::optional<quint32> colorScheme() override { return std::nullopt; }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    AppearanceService::shared().setSource(std::make_unique<NoDesktopScheme>());
    QTextStream out(stdout);

    Standin::trustCertificate();
    Standin::Server pictures;
    if (Standin::startSecure(pictures) == 0) {
        QTextStream(stderr) << "planner_grid_bench: the picture host cannot listen\n";
        return 1;
    }
    std::vector<QByteArray> files;
    for (int i = 0; i < 12; ++i)
        files.push_back(jpeg(i * 30));
    pictures.routePrefix("GET", "/tiles/", [&files](const Standin::Seen &seen) {
        return Standin::Answer(200, files[qHash(seen.path) % files.size()], "image/jpeg");
    });
    const QString origin = Standin::secureOrigin(pictures);

    DefaultsStore store;
    auto keychain = KeychainStore::inMemory();
    ZephylAPI::Setup setup;
    setup.baseURL = QUrl(QStringLiteral("https://127.0.0.1:9"));
    setup.keychain = keychain.get();
    ZephylAPI api(setup);
    ZephylServiceClient road(api);
    AppModel::Environment environment;
    environment.api = &road;
    environment.defaults = &store;
    AppModel model(environment);
    model.setLanguage(AppLanguage::en);

    ZephylWire::InstagramProfile profile;
    profile.userId = QStringLiteral("1");
    profile.username = QStringLiteral("bench.studio");
    model.setInstagram(profile);
    QList<ZephylWire::PlanDraft> drafts;
    for (int i = 0; i < kDrafts; ++i) {
        ZephylWire::PlanDraft d;
        d.id = i + 1;
        d.title = QStringLiteral("Draft %1").arg(i + 1);
        d.format = i % 2 ? QStringLiteral("reel") : QStringLiteral("post");
        drafts << d;
    }
    model.setPlanDrafts(drafts);
    QList<ZephylWire::InstagramFeedItem> items;
    for (int i = 0; i < kPosts; ++i) {
        ZephylWire::InstagramFeedItem item;
        item.id = QString::number(i);
        item.kind = i % 5 == 0 ? ZephylWire::InstagramFeedItem::Kind::reel : ZephylWire::InstagramFeedItem::Kind::feed;
        item.previewURL = QUrl(origin + QStringLiteral("/tiles/%1.jpg").arg(i));
        items << item;
    }
    model.setFeedItems(items);
    model.setFeedStatus(FeedStatus::synced());
    breathe(100);
    const double before = rssMB();

    QWidget window;
    window.resize(1180, 760);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *grid = new GridView(model, &window);
    layout->addWidget(grid);
    window.show();
    breathe(100);
    QScrollArea *area = grid->scroller();
    if (!area || grid->tiles().size() != kDrafts + kPosts) {
        QTextStream(stderr) << "planner_grid_bench: the grid is not as expected\n";
        return 1;
    }
    const double built = rssMB();

    // Cold: pictures are fetched and decoded while scrolling at about 60 frames a second.
    const Frames cold = scrollThrough(window, *area, 16);
    // Every tile's picture loaded: visit each screenful until its pictures are in.
    QScrollBar *bar = area->verticalScrollBar();
    for (int value = 0;; value = std::min(bar->maximum(), value + area->viewport()->height() / 2)) {
        bar->setValue(value);
        window.repaint();
        for (int i = 0; i < 400 && !visibleTilesSettled(window); ++i)
            breathe(10);
        if (value >= bar->maximum())
            break;
    }
    breathe(100);
    const double loaded = rssMB();
    const Frames warm = scrollThrough(window, *area, 0);
    QElapsedTimer timer;

    // Tab in a draft's sheet over the whole grid.
    grid->editDraft(drafts.first());
    breathe(50);
    const int widgets = int(window.findChildren<QWidget *>().size());
    std::vector<double> tabs;
    for (int i = 0; i < 200 && grid->editor(); ++i) {
        QWidget *at = window.focusWidget() ? window.focusWidget() : static_cast<QWidget *>(grid->editor());
        QKeyEvent press(QEvent::KeyPress, i % 4 == 3 ? Qt::Key_Backtab : Qt::Key_Tab, Qt::NoModifier);
        timer.start();
        QApplication::sendEvent(at, &press);
        tabs.push_back(double(timer.nsecsElapsed()) / 1e3);
    }
    std::sort(tabs.begin(), tabs.end());

    // The plan screen over 1000 drafts and 1000 publications: building it, as
    // every change of the plan does.
    delete grid;
    QList<ZephylWire::PlanDraft> many;
    QList<ZephylWire::Publication> published;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < 1000; ++i) {
        ZephylWire::PlanDraft d;
        d.id = i + 1;
        d.title = QStringLiteral("Plan draft %1").arg(i);
        if (i % 3)
            d.scheduledAt = PlanCalendar::formatInternetDateTime(now.addSecs(qint64(i - 500) * 3600));
        many << d;
        ZephylWire::Publication p;
        p.id = QString::number(i);
        p.status = i % 4 ? QStringLiteral("published") : QStringLiteral("failed");
        p.caption = QStringLiteral("Publication %1").arg(i);
        if (i % 5)
            p.scheduledAt = now.addSecs(qint64(i - 500) * 3600).toMSecsSinceEpoch();
        published << p;
    }
    model.setPlanDrafts(many);
    model.setPublications(published);
    auto *plan = new PlanView(model, &window);
    layout->addWidget(plan);
    breathe(100);
    std::vector<double> builds;
    for (int i = 0; i < 10; ++i) {
        timer.start();
        plan->rebuild();
        window.repaint();
        builds.push_back(double(timer.nsecsElapsed()) / 1e6);
        breathe(20);
    }
    std::sort(builds.begin(), builds.end());
    const int planRows = int(plan->rows().size());

    out << "plan screen over 1000 drafts and 1000 publications: " << planRows << " rows, built and painted in "
        << QString::number(builds[builds.size() / 2], 'f', 1) << " ms (median of 10)\n";
    out << "tiles: " << kDrafts + kPosts << " (" << kDrafts << " drafts, " << kPosts << " posts)\n";
    out << "pictures in memory: " << PictureCache::shared().cachedCount() << ", "
        << QString::number(double(PictureCache::shared().cachedBytes()) / 1048576.0, 'f', 1) << " MB decoded\n";
    out << "scroll while pictures arrive: " << cold.summary() << "\n";
    out << "scroll with every picture loaded: " << warm.summary() << "\n";
    if (!tabs.empty())
        out << "Tab in a draft's sheet over the grid (" << widgets << " widgets in the window): " << tabs.size()
            << " presses, median " << QString::number(tabs[tabs.size() / 2], 'f', 1) << " us, max "
            << QString::number(tabs.back(), 'f', 1) << " us\n";
    out << "resident memory: before the grid " << QString::number(before, 'f', 1) << " MB, grid built "
        << QString::number(built, 'f', 1) << " MB, every picture loaded " << QString::number(loaded, 'f', 1)
        << " MB\n";
    return 0;
}
