// The native workspace's screens and the companion settings window in every
// state worth a look, each handed to a visitor (the screens tool saves them,
// the contrast test measures them).

#include "WorkspaceShots.h"

#include "OperationRoutes.h"
#include "StandinServer.h"

#include "app/AppModel.h"
#include "app/ServiceClient.h"
#include "base/DefaultsStore.h"
#include "design/AppearanceService.h"
#include "design/L10n.h"
#include "design/ServiceDomain.h"
#include "services/KeychainStore.h"
#include "services/ZephylAPI.h"
#include "web/WebSchemes.h"
#include "Certificate.h"
#include "WebApp.h"
#include "workspace/CompanionSettingsWindow.h"
#include "workspace/DraftEditorView.h"
#include "workspace/PlannerKit.h"
#include "workspace/GridView.h"
#include "workspace/PlanView.h"
#include "workspace/ComposerView.h"
#include "workspace/SignInView.h"
#include "workspace/WorkspaceRootView.h"

#include <QApplication>
#include <QBuffer>
#include <QPainter>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QUuid>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>

#include <memory>

namespace {

class NoDesktopScheme final : public ColorSchemeSource {
public:
    std::optional<quint32> colorScheme() override { return std::nullopt; }
};

// Lets layouts, deferred deletions and the stand-in's answers go through.
void breathe(int ms = 60)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename T>
T wait(QCoro::Task<T> &&task)
{
    return QCoro::waitFor(std::move(task));
}

// The week's plan as the service keeps it: drafts on several days, one without
// a date, one hidden from the grid, one with a picture, one with a title far
// too long for its row.
QJsonArray demoPlan(const QString &pictures)
{
    QJsonArray drafts;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 base = now.toMSecsSinceEpoch();
    struct Draft {
        const char *title;
        const char *format;
        int days; // from today; -100 undated
        bool hidden = false;
        bool picture = false;
    };
    const Draft plan[] = {
        {"Morning stretch Reel", "reel", 0, false, true},
        {"Behind the scenes", "post", 1},
        {"Three tips carousel", "carousel", 2},
        {"", "story", 3},
        {"A very long working title that goes on about the cat, the light in the studio, the cushions and "
         "the way the morning sun falls across the desk",
         "post", -100},
        {"Studio tour (kept back)", "reel", -100, true},
        {"Unknown format word", "video", 5},
    };
    int i = 0;
    for (const Draft &d : plan) {
        QJsonObject draft{{"id", base + i},
                          {"title", QString::fromUtf8(d.title)},
                          {"format", QString::fromLatin1(d.format)},
                          {"caption", "A calm start to the week."},
                          {"hashtags", "#kitty #calm"},
                          {"hiddenFromGrid", d.hidden},
                          {"scheduledAt", d.days == -100 ? QString()
                                                         : QDateTime(now.toLocalTime().date().addDays(d.days),
                                                                     QTime(16, 30))
                                                               .toUTC()
                                                               .toString(Qt::ISODate)}};
        if (d.picture)
            draft.insert("preview", pictures + QStringLiteral("/tiles/draft-%1.jpg").arg(i));
        drafts.append(draft);
        ++i;
    }
    return drafts;
}

// Publications in every state the plan knows: published, failed with a reason,
// underway, scheduled, unconfirmed, kept as a draft, and a cancelled one.
QList<Standin::Operations::Publication> demoPublications(const QString &userId)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDate today = now.toLocalTime().date();
    auto at = [&](int days, int hour) {
        return QDateTime(today.addDays(days), QTime(hour, 0)).toMSecsSinceEpoch();
    };
    const QJsonObject list[] = {
        {{"id", "pub-published"}, {"status", "published"}, {"scheduledAt", at(0, 8)}, {"publishedAt", at(0, 8)},
         {"platformUrl", "https://www.instagram.com/p/demo/"}, {"caption", "  Sunlit nap, finally on the feed  "},
         {"format", "post"}},
        {{"id", "pub-failed"}, {"status", "failed"}, {"scheduledAt", at(0, 9)},
         {"error", "media_rejected_by_instagram"}, {"caption", "Rainy window reel"}, {"format", "reel"}},
        {{"id", "pub-underway"}, {"status", "processing"}, {"scheduledAt", at(0, 20)},
         {"caption", "Evening carousel of paws"}, {"format", "carousel"}},
        {{"id", "pub-scheduled"}, {"status", "scheduled"}, {"scheduledAt", at(0, 22)},
         {"caption", "Late story: goodnight"}, {"format", "story"}},
        {{"id", "pub-overdue"}, {"status", "scheduled"}, {"scheduledAt", now.addSecs(-7200).toMSecsSinceEpoch()},
         {"caption", "The one that did not report back"}, {"format", "post"}},
        {{"id", "pub-draft"}, {"status", "draft"}, {"isDraft", true}, {"caption", ""}, {"format", "carousel"}},
        {{"id", "pub-cancelled"}, {"status", "cancelled"}, {"caption", "Never shown"}},
    };
    QList<Standin::Operations::Publication> out;
    for (const QJsonObject &json : list) {
        Standin::Operations::Publication p;
        p.userId = userId;
        p.json = json;
        p.final = true;
        out << p;
    }
    return out;
}

// A picture for a tile: a soft gradient with a round shape, different per path.
QByteArray tilePicture(const QString &path)
{
    const size_t seed = qHash(path);
    QImage image(1080, 1350, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient fill(0, 0, 1080, 1350);
    fill.setColorAt(0, QColor::fromHsv(int(seed % 360), 70, 235));
    fill.setColorAt(1, QColor::fromHsv(int((seed / 7) % 360), 120, 170));
    painter.fillRect(image.rect(), fill);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 90));
    painter.drawEllipse(QPointF(300 + double(seed % 480), 420 + double(seed % 500)), 260, 260);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 82);
    return bytes;
}

// A picture to import: a soft gradient with a sun, in one of a few colours.
QString writePicture(const QString &folder, int index)
{
    const QColor tops[] = {QColor(0xf2b880), QColor(0x9cc5a1), QColor(0x8fb8de)};
    QImage image(1350, 1800, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, image.height());
    sky.setColorAt(0, tops[index % 3]);
    sky.setColorAt(1, tops[index % 3].darker(160));
    painter.fillRect(image.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(255, 244, 214));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(400 + index * 250, 600), 180, 180);
    painter.end();
    const QString path = folder + QStringLiteral("/window-seat-%1.png").arg(index + 1);
    image.save(path);
    return path;
}

// A video as the importer would hand it over, with a drawn poster frame.
ImportedMedia demoVideo()
{
    QImage poster(270, 480, QImage::Format_RGB32);
    QPainter painter(&poster);
    QLinearGradient dusk(0, 0, 0, poster.height());
    dusk.setColorAt(0, QColor(0x5a4e7c));
    dusk.setColorAt(1, QColor(0xe89a6a));
    painter.fillRect(poster.rect(), dusk);
    painter.end();
    ImportedMedia m;
    m.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    m.kind = ImportedMedia::Kind::video;
    m.fileName = QStringLiteral("morning-stretch.mp4");
    m.data = MediaData::fromBytes(QByteArray(64, '\0'));
    m.contentType = QStringLiteral("video/mp4");
    m.thumbnail = MediaThumbnail{poster.width(), poster.height(),
                                 QByteArray(reinterpret_cast<const char *>(poster.constBits()), poster.sizeInBytes())};
    m.duration = 75.9;
    m.pixelSize = QSizeF(1080, 1920);
    return m;
}

class Shots {
public:
    Shots(Standin::Server &server, QString pictures, WorkspaceShots::Visit visit)
        : m_server(server), m_pictures(std::move(pictures)), m_visit(std::move(visit))
    {
    }

    int failures = 0;

    void run(const WorkspaceShots::Variant &variant)
    {
        m_variant = QString::fromLatin1(variant.name);

        DefaultsStore store;
        store.setBool(QStringLiteral("zephyl.mac.workspace.native"), true);
        auto keychain = KeychainStore::inMemory();
        ZephylAPI::Setup setup;
        setup.baseURL = QUrl(m_server.origin());
        setup.keychain = keychain.get();
        ZephylAPI api(setup);
        ZephylServiceClient road(api);
        AppModel::Environment environment;
        environment.api = &road;
        environment.defaults = &store;
        AppModel model(environment);
        model.setLanguage(variant.language);
        model.setTheme(variant.theme);
        QApplication::setLayoutDirection(L10n::layoutDirection());

        QWidget window;
        window.resize(1180, 760);
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *root = new WorkspaceRootView(model, &window);
        layout->addWidget(root);
        window.show();
        breathe();
        save(window, "restoring");

        model.setSession(SessionState::signedOut);
        breathe();
        save(window, "sign-in");
        model.setNotice(AppNotice::make(L10n::t("If that address has an account, a reset link is on its way."),
                                        AppNotice::Tone::settled));
        breathe();
        save(window, "sign-in-notice");
        if (auto *form = qobject_cast<SignInView *>(root->branch()))
            form->toggleMode();
        breathe();
        save(window, "create-account");

        // Signed in, with the account's data from the stand-in.
        const QString email = QStringLiteral("kitty@example.com");
        const QString userId = m_server.state().accounts.value(email).userId;
        Standin::Operations &ops = Standin::operations(m_server);
        ops.connected.insert(userId);
        ops.drafts[userId] = demoPlan(m_pictures);
        ops.publications = demoPublications(userId);
        if (!wait(model.signIn(email, QStringLiteral("meow-meow-meow")))) {
            QTextStream(stderr) << "zephyl-screens: the demo account could not sign in\n";
            ++failures;
            return;
        }
        breathe(300);

        model.setSurface(Surface::summary);
        breathe();
        save(window, "summary");
        model.setSurface(Surface::plan);
        breathe(300);
        save(window, "plan");
        window.resize(1180, 1500);
        breathe(300);
        save(window, "plan-whole");
        window.resize(1180, 760);
        breathe();
        if (auto *plan = window.findChild<PlanView *>()) {
            plan->setWeekOffset(1);
            breathe();
            save(window, "plan-next-week");
            // Another day chosen: today's cell keeps its mark, unselected.
            plan->showToday();
            plan->selectDay(plan->selectedDay().addDays(plan->selectedDay().dayOfWeek() == 7 ? -1 : 1));
            breathe(300);
            save(window, "plan-another-day");
            plan->showToday();
            if (!plan->rows().isEmpty())
                plan->activate(plan->rows().first()->entry());
            for (PlanRow *row : plan->rows()) {
                if (row->entry().draft && !row->entry().draft->preview) {
                    plan->activate(row->entry());
                    break;
                }
            }
            breathe(300);
            save(window, "plan-editor");
            if (auto *editor = plan->editor())
                editor->cancel();
            plan->createDraft();
            breathe();
            save(window, "plan-new-draft");
            if (auto *editor = plan->editor())
                editor->cancel();
            breathe();
        }
        // The feed's posts, with pictures from an https host of our own.
        QList<ZephylWire::InstagramFeedItem> items = model.feedItems();
        for (int k = 0; k < items.size(); ++k)
            items[k].previewURL = QUrl(m_pictures + QStringLiteral("/tiles/post-%1.jpg").arg(k));
        model.setFeedItems(items);
        model.setSurface(Surface::grid);
        breathe(300);
        waitForPictures(window);
        save(window, "grid");
        window.resize(1180, 2600);
        breathe(300);
        waitForPictures(window);
        save(window, "grid-whole");
        window.resize(1180, 760);
        breathe();

        model.setSurface(Surface::assistant);
        breathe(300);
        save(window, "assistant-greeting");
        wait(model.send(L10n::t("Plan three publications for this week")));
        model.setAssistantDraft(L10n::t("What should I post first?"));
        breathe(300);
        save(window, "assistant");

        model.setSurface(Surface::profile);
        breathe(300);
        save(window, "profile");
        window.resize(1180, 1900);
        breathe(300);
        save(window, "profile-whole");
        window.resize(1180, 760);
        breathe();

        model.setNotice(AppNotice::make(L10n::t("That one did not go through. The plan says why."),
                                        AppNotice::Tone::attention));
        model.setSurface(Surface::summary);
        breathe(700);
        save(window, "summary-notice");
        model.setNotice(std::nullopt);

        model.setComposerPresented(true);
        breathe();
        save(window, "composer-sheet");
        composerStates(model, root, window);
        model.setComposerPresented(false);
        breathe();

        model.setInstagram(std::nullopt);
        model.setObservations({});
        breathe();
        save(window, "summary-empty");
        model.setPlanDrafts({});
        model.setSurface(Surface::grid);
        breathe();
        save(window, "grid-empty");

        CompanionSettingsWindowController settings(model);
        settings.show();
        settings.window()->resize(620, 660);
        breathe(300);
        save(*settings.window(), "companion-settings");
        settings.window()->resize(620, 1400);
        breathe(300);
        save(*settings.window(), "companion-settings-whole");
        model.setSession(SessionState::signedOut);
        breathe();
    }

private:
    // The tiles on screen have their pictures, or have given up on them.
    void waitForPictures(QWidget &window)
    {
        for (int round = 0; round < 100; ++round) {
            bool waiting = false;
            for (GridTile *tile : window.findChildren<GridTile *>()) {
                if (tile->visibleRegion().isEmpty() || !tile->pictureAddress())
                    continue;
                if (PictureCache::shared().isPending(*tile->pictureAddress()))
                    waiting = true;
            }
            if (!waiting)
                break;
            breathe(50);
        }
        breathe(100);
    }

    // The composer filled in, confirming, publishing and after the outcome.
    void composerStates(AppModel &model, WorkspaceRootView *root, QWidget &window)
    {
        auto *view = root->composerSheet() ? root->composerSheet()->findChild<ComposerView *>() : nullptr;
        if (!view) {
            ++failures;
            return;
        }
        ComposerState &state = view->state();
        QTemporaryDir files;
        state.setFormat(PublishFormat::carousel);
        QList<QUrl> pictures;
        for (int i = 0; i < 3; ++i)
            pictures << QUrl::fromLocalFile(writePicture(files.path(), i));
        wait(state.addFiles(pictures)); // through the real importer
        state.setCaption(L10n::t("A calm start to the week.") + QStringLiteral("\n\n") +
                         L10n::t("Plan three publications for this week"));
        state.setHashtags(QStringLiteral("#kitty #calm #windowseat"));
        state.setCollaboratorsText(QStringLiteral("@north, @east"));
        state.setMoreOptions(true);
        breathe(200);
        save(window, "composer-filled");

        state.setConfirming(true);
        breathe(200);
        save(window, "composer-confirmation");
        state.setConfirming(false);

        model.setPublishing(PublishProgress{L10n::tf("Uploading %d of %d…", 2, 3), 0.45});
        breathe(200);
        save(window, "composer-publishing");
        model.setPublishing(std::nullopt);

        ZephylWire::Publication published;
        published.id = QStringLiteral("standin");
        published.status = QStringLiteral("published");
        published.platformUrl = QUrl(QStringLiteral("https://www.instagram.com/p/standin/"));
        state.setOutcome(PublishOutcome::published(published));
        breathe(200);
        save(window, "composer-outcome");
        state.setOutcome(PublishOutcome::failed(L10n::t("Instagram took too long to process the media.")));
        breathe(200);
        save(window, "composer-outcome-failed");
        state.setOutcome(PublishOutcome::unknown(L10n::t("No connection to " ZEPHYL_SERVICE_DOMAIN " right now.")));
        breathe(200);
        save(window, "composer-outcome-unknown");
        state.setOutcome(std::nullopt);

        // A reel with its cover, scheduled, with the reel's options open.
        state.setFormat(PublishFormat::reel);
        state.setMedia({demoVideo()});
        wait(state.addCover(pictures.first()));
        state.setTrialEnabled(true);
        state.setScheduleLater(true);
        state.setHashtags(QStringLiteral("#a #b #c #d #e #f"));
        breathe(200);
        save(window, "composer-reel");
        state.setConfirming(true);
        breathe(200);
        save(window, "composer-reel-confirmation");
        state.setConfirming(false);
    }

    void save(QWidget &widget, const char *name)
    {
        if (!m_visit(widget, m_variant, QString::fromLatin1(name)))
            ++failures;
    }

    Standin::Server &m_server;
    QString m_pictures;
    WorkspaceShots::Visit m_visit;
    QString m_variant;
};

} // namespace

int WorkspaceShots::run(const std::vector<Variant> &variants, const Visit &visit)
{
    AppearanceService::shared().setSource(std::make_unique<NoDesktopScheme>());
    Standin::Server server;
    server.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty"));
    if (server.start() == 0) {
        QTextStream(stderr) << "zephyl-screens: the stand-in cannot listen\n";
        return 1;
    }
    // Tile pictures come from an https host, as the feed's do.
    Standin::trustCertificate();
    Standin::Server pictures;
    if (Standin::startSecure(pictures) == 0) {
        QTextStream(stderr) << "zephyl-screens: the picture host cannot listen\n";
        return 1;
    }
    pictures.routePrefix("GET", "/tiles/", [](const Standin::Seen &seen) {
        return Standin::Answer(200, tilePicture(seen.path), "image/jpeg");
    });
    Shots shots(server, Standin::secureOrigin(pictures), visit);
    for (const Variant &variant : variants)
        shots.run(variant);
    return shots.failures;
}
