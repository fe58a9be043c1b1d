// The profile and settings screen, the profile picture's limits, and the
// companion settings window.

#include "ScreensTestSupport.h"

#include "StandinServer.h"
#include "WebApp.h"
#include "Certificate.h"

#include "app/UnsavedPlanStore.h"
#include "base/Bundle.h"
#include "base/RecordStore.h"
#include "companion/CompanionLibrary.h"
#include "design/Controls.h"
#include "design/L10n.h"
#include "design/SettingRow.h"
#include "design/StatusPill.h"
#include "workspace/CompanionSettingsWindow.h"
#include "workspace/ProfilePicture.h"
#include "workspace/ProfileView.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QSslConfiguration>

using namespace flowtest;
using namespace screentest;

namespace {

DistractingWindow window(const QString &app, const QString &title)
{
    DistractingWindow w;
    w.appName = app;
    w.title = title;
    return w;
}

SettingRow *rowTitled(const QWidget *root, const QString &title)
{
    for (SettingRow *row : root->findChildren<SettingRow *>()) {
        if (row->titleText()->text() == title && row->isVisibleTo(root))
            return row;
    }
    return nullptr;
}

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        model().setUser(user("kitty@example.com"));
        model().setSession(SessionState::signedIn);
        model().setInstagram(std::nullopt); // the service said: none connected
    }
    AppModel &model() { return flows.model(); }
    ProfileView *show()
    {
        view = host.show(new ProfileView(model()));
        return view;
    }

    AppearanceGuard appearance;
    Flows flows;
    Host host;
    ProfileView *view = nullptr;
};

} // namespace

TEST_F(ProfileTest, TheInstagramCardHasOneFormPerConnection)
{
    show();
    ASSERT_NE(rowTitled(view, "Not connected"), nullptr);
    EXPECT_EQ(rowTitled(view, "Disconnect"), nullptr);
    EXPECT_NE(buttonNamed(view, "Connect Instagram"), nullptr);

    ZephylWire::InstagramProfile profile;
    profile.username = "kitty.daily";
    profile.accountType = "MEDIA CREATOR";
    model().setInstagram(profile);
    settle();
    EXPECT_EQ(rowTitled(view, "Not connected"), nullptr);
    EXPECT_NE(rowTitled(view, "Connect a different account"), nullptr);
    EXPECT_TRUE(texts(view).contains("@kitty.daily"));
    EXPECT_TRUE(texts(view).contains("Media Creator"));

    // "Disconnect" only asks; the dialog's own button disconnects.
    click(buttonNamed(view, "Disconnect"));
    EXPECT_EQ(flows.service.count("disconnectInstagram"), 0);
    ASSERT_NE(view->disconnectDialog(), nullptr);
    click(view->disconnectDialog()->cancelButton());
    EXPECT_EQ(flows.service.count("disconnectInstagram"), 0);
    click(buttonNamed(view, "Disconnect"));
    click(view->disconnectDialog()->actionButton());
    EXPECT_EQ(flows.service.count("disconnectInstagram"), 1);
    settle();
    EXPECT_NE(rowTitled(view, "Not connected"), nullptr);
}

TEST_F(ProfileTest, ConnectingAsksForAFreshSessionOnlyForAnotherAccount)
{
    WebScriptGuard browser;
    browser->end = WebScript::End::cancelled;
    flows.service.results["instagramAuthorizationURL"] = QUrl("https://instagram.example/authorize");
    show();
    click(buttonNamed(view, "Connect Instagram"));
    settle();
    ZephylWire::InstagramProfile profile;
    profile.username = "kitty.daily";
    model().setInstagram(profile);
    settle();
    click(buttonNamed(view, "Connect another"));
    settle();
    EXPECT_EQ(browser->ephemeral, (QList<bool>{false, true}));

    // While one runs, all three are unavailable.
    model().setInstagramBusy(true);
    EXPECT_FALSE(buttonNamed(view, "Connect another")->isEnabled());
    EXPECT_FALSE(buttonNamed(view, "Disconnect")->isEnabled());
    model().setInstagram(std::nullopt);
    settle();
    auto *connect = qobject_cast<RowButton *>(buttonNamed(view, "Connect Instagram"));
    ASSERT_NE(connect, nullptr);
    EXPECT_FALSE(connect->isEnabled());
    EXPECT_TRUE(connect->busy());
}

TEST_F(ProfileTest, HeaderLineNamesAndAccountTypes)
{
    struct Case {
        std::optional<QString> name;
        std::optional<QString> type;
        QString line;
    };
    const Case cases[] = {{std::nullopt, std::nullopt, ""},
                          {"", "", ""},
                          {"Kitty", std::nullopt, "Kitty"},
                          {std::nullopt, "BUSINESS", "Business"},
                          {"Kitty", "creator", "Kitty · Creator"},
                          {"Kitty", "MEDIA CREATOR", "Kitty · Media Creator"}};
    for (const Case &c : cases)
        EXPECT_EQ(ProfileView::headerLine(c.name, c.type), c.line);
}

TEST_F(ProfileTest, TheFeedWindowListShowsFourLinesOfAtMost48Characters)
{
    EXPECT_EQ(ProfileView::distractionsText({}), "None found.");
    const QString long50 = QString(47, QChar('x')) + QStringLiteral("😺yz");
    std::vector<DistractingWindow> six{window("Firefox", long50), window("Chromium", "YouTube"),
                                       window("Browser", "TikTok"), window("Firefox", "Instagram"),
                                       window("Firefox", "fifth"), window("Firefox", "sixth")};
    const QStringList lines = ProfileView::distractionsText(six).split('\n');
    ASSERT_EQ(lines.size(), 4);
    // The cut counts the cat as one character and never splits it.
    EXPECT_EQ(lines[0], "Firefox: " + QString(47, QChar('x')) + QStringLiteral("😺"));
    EXPECT_EQ(lines[3], "Firefox: Instagram");
}

TEST_F(ProfileTest, ThePermissionRowAndTheScanFollowTheDesktop)
{
    flows.h.windows.isTrusted = false;
    show();
    EXPECT_FALSE(model().accessibilityTrusted());
    EXPECT_NE(buttonNamed(view, "Check again"), nullptr);
    EXPECT_EQ(rowTitled(view, "Feed windows open now"), nullptr);

    WindowSource::Application browser;
    browser.pid = 42;
    browser.name = "Firefox";
    WindowSource::Window feed;
    feed.element = 7;
    feed.title = QStringLiteral("Instagram — Firefox");
    browser.windows.push_back(feed);
    flows.h.windows.apps.push_back(browser);
    flows.h.windows.isTrusted = true;
    click(buttonNamed(view, "Check again"));
    EXPECT_TRUE(model().accessibilityTrusted());
    // The list stays as last scanned until "Scan".
    SettingRow *feeds = rowTitled(view, "Feed windows open now");
    ASSERT_NE(feeds, nullptr);
    EXPECT_EQ(feeds->detailText()->text(), "None found.");
    EXPECT_EQ(buttonNamed(view, "Tuck away"), nullptr);
    click(buttonNamed(view, "Scan"));
    feeds = rowTitled(view, "Feed windows open now");
    EXPECT_EQ(feeds->detailText()->text(), "Firefox: Instagram — Firefox");
    EXPECT_NE(buttonNamed(view, "Tuck away"), nullptr);
}

TEST_F(ProfileTest, SettingsAreBoundBothWays)
{
    show();
    auto *stepper = view->findChild<Stepper *>();
    ASSERT_NE(stepper, nullptr);
    model().setFocusMinutes(85);
    EXPECT_EQ(stepper->value(), 85);
    click(stepper->upButton());
    EXPECT_EQ(model().focusMinutes(), 90);
    EXPECT_FALSE(stepper->upButton()->isEnabled());
    EXPECT_TRUE(texts(view).contains("90 min"));
    model().setFocusMinutes(10);
    EXPECT_FALSE(stepper->downButton()->isEnabled());
    click(stepper->upButton());
    EXPECT_EQ(model().focusMinutes(), 15);

    auto *theme = view->findChild<SegmentedPicker *>();
    ASSERT_NE(theme, nullptr);
    EXPECT_EQ(theme->segments(), (QStringList{"System", "Light", "Dark"}));
    QTest::mouseClick(theme, Qt::LeftButton, {}, theme->segmentRect(2).center().toPoint());
    EXPECT_EQ(model().theme(), AppTheme::dark);
    model().setTheme(AppTheme::light);
    EXPECT_EQ(theme->currentIndex(), 1);

    auto *language = view->findChild<MenuPicker *>();
    ASSERT_NE(language, nullptr);
    // Each language under its own name, in the order of the language list.
    const QStringList names{"System",  "English",  "Русский", "Español", "Deutsch", "Français", "Português", "Italiano",
                            "Türkçe",  "العربية", "עברית",   "Norsk",   "Svenska", "Dansk",    "Nederlands"};
    ASSERT_EQ(language->count(), names.size());
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(language->itemText(i), names.at(i)) << i;

    // The companion switch goes through setCompanionEnabled, which raises its event.
    SettingRow *shown = rowTitled(view, "Show the cat on the desktop");
    ASSERT_NE(shown, nullptr);
    auto *toggle = qobject_cast<ToggleSwitch *>(shown->content());
    ASSERT_NE(toggle, nullptr);
    EXPECT_TRUE(toggle->isOn());
    click(toggle);
    EXPECT_FALSE(model().companionEnabled());
    EXPECT_EQ(flows.kinds().count(AppEvent::Kind::companionEnabledChanged), 1);

    auto *name = view->findChild<RoundedField *>();
    ASSERT_NE(name, nullptr);
    name->setFocus();
    QTest::keyClicks(name, "Miso");
    EXPECT_EQ(model().companionName(), "Miso");

    // Choosing a language words the screen anew in it, in place.
    language->setCurrentIndex(9);
    Q_EMIT language->activated(9);
    settle();
    EXPECT_EQ(model().language(), AppLanguage::ar);
    EXPECT_TRUE(texts(view).contains(L10n::t("Connection and settings")));
    EXPECT_EQ(view->findChild<MenuPicker *>()->currentIndex(), 9);
}

TEST_F(ProfileTest, TheSessionRowFollowsTheFocusTimer)
{
    show();
    ASSERT_NE(rowTitled(view, "Start a session"), nullptr);
    click(buttonNamed(view, "Start"));
    EXPECT_NE(model().focus().phase.kind, FocusSession::Phase::Kind::idle);
    SettingRow *running = rowTitled(view, "A session is running");
    ASSERT_NE(running, nullptr);
    EXPECT_EQ(running->detailText()->text(), model().focus().display());
    flows.h.clock.advance(std::chrono::seconds(3));
    EXPECT_EQ(rowTitled(view, "A session is running")->detailText()->text(), model().focus().display());

    // Paused counts as running.
    FocusSession paused = model().focus();
    paused.phase = FocusSession::Phase::paused(true);
    model().setFocus(paused);
    EXPECT_NE(rowTitled(view, "A session is running"), nullptr);
    click(buttonNamed(view, "End"));
    settle();
    EXPECT_NE(rowTitled(view, "Start a session"), nullptr);
}

TEST_F(ProfileTest, TheAccountRowsAndTheVersion)
{
    show();
    EXPECT_NE(rowTitled(view, "kitty@example.com"), nullptr);
    EXPECT_FALSE(texts(view).contains("Offline"));
    model().setSessionUnverified(true);
    settle();
    EXPECT_TRUE(texts(view).contains("Offline"));
    model().setUser(std::nullopt);
    settle();
    SettingRow *empty = rowTitled(view, "");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->detailText(), nullptr);

    // Plan changes the service has not taken are said in the question: lost
    // when they could not be kept here, else kept for the account's next sign-in.
    const auto asked = [&] {
        click(buttonNamed(view, "Sign out"));
        return view->signOutDialog() ? texts(view->signOutDialog()) : QStringList();
    };
    EXPECT_EQ(asked(), QStringList{"Sign out of Zephyl?"});
    click(view->signOutDialog()->cancelButton());
    model().setPlanDrafts({ZephylWire::PlanDraft{}});
    flows.service.failures["savePlanDrafts"] =
        std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    finish(model().savePlan());
    EXPECT_EQ(asked(), (QStringList{"Sign out of Zephyl?", "Plan changes that are not saved yet could not be kept on "
                                                          "this computer: signing out loses them."}));
    click(view->signOutDialog()->cancelButton());
    flows.service.results["currentUser"] = user("kitty@example.com");
    finish(model().finishSignIn());
    finish(model().savePlan());
    settle();
    view = host.show(new ProfileView(model()));
    EXPECT_EQ(asked(), (QStringList{"Sign out of Zephyl?", "Plan changes that are not saved yet stay on this computer "
                                                          "and are saved when this account signs in here again."}));
    EXPECT_EQ(flows.service.count("logout"), 0);
    click(view->signOutDialog()->actionButton());
    EXPECT_EQ(flows.service.count("logout"), 1);
    EXPECT_TRUE(UnsavedPlanStore(RecordStore::of(flows.h.store)).load("kitty@example.com")) << "kept, as said";
}

TEST(ProfileVersion, ReadsTheBundlesVersionAndBuild)
{
    struct Case {
        const char *info;
        QString text;
    };
    const Case cases[] = {{R"({"version": "1.4", "build": "57"})", "1.4 (57)"},
                          {R"({"version": "1.4"})", "1.4 (0)"},
                          {R"({"build": 57})", "0 (0)"},
                          {R"({})", "0 (0)"}};
    for (const Case &c : cases) {
        const QString folder = zktest::tempDir();
        QFile file(folder + "/info.json");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.info);
        file.close();
        Bundle bundle(folder);
        Bundle::setShared(&bundle);
        EXPECT_EQ(ProfileView::versionText(), c.text) << c.info;
        Bundle::setShared(nullptr);
    }
}

// ---- The profile picture

namespace {
QByteArray png(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(200, 120, 40));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.write(image);
    return bytes;
}
} // namespace

TEST(ProfilePictureTest, OnlyHttpsAddressesAreFetched)
{
    struct Case {
        std::optional<QString> text;
        bool fetched;
    };
    const Case cases[] = {{std::nullopt, false},
                          {"", false},
                          {"http://cdn.example/p.jpg", false},
                          {"file:///etc/passwd", false},
                          {"javascript:alert(1)", false},
                          {"https:///nohost.jpg", false},
                          {"data:image/png;base64,AAAA", false},
                          {"https://scontent.cdninstagram.com/v/p.jpg?x=1", true},
                          {" https://cdn.example/p.jpg ", true}};
    for (const Case &c : cases)
        EXPECT_EQ(ProfilePicture::address(c.text).has_value(), c.fetched) << c.text.value_or("<none>").toStdString();
}

TEST(ProfilePictureTest, DecodingStaysWithinItsLimits)
{
    const QImage small = ProfilePicture::decode(png(QSize(400, 200)), QSize(104, 104));
    ASSERT_FALSE(small.isNull());
    // Decoded to cover the circle, not at full size.
    EXPECT_EQ(small.height(), 104);
    EXPECT_EQ(small.width(), 208);
    EXPECT_TRUE(ProfilePicture::decode(png(QSize(ProfilePicture::kMaxSide + 1, 8)), QSize(52, 52)).isNull());
    EXPECT_TRUE(ProfilePicture::decode("not a picture", QSize(52, 52)).isNull());
    EXPECT_TRUE(ProfilePicture::decode({}, QSize(52, 52)).isNull());
    EXPECT_TRUE(ProfilePicture::decode(QByteArray(ProfilePicture::kMaxBytes + 1, 'x'), QSize(52, 52)).isNull());
    // A header that claims a picture far larger than its bytes.
    QByteArray claim = png(QSize(8, 8));
    claim[16] = 0x00, claim[17] = 0x00, claim[18] = 0x7F, claim[19] = 0xFF; // width 32767
    EXPECT_TRUE(ProfilePicture::decode(claim, QSize(52, 52)).isNull());
}

TEST(ProfilePictureTest, FetchesOverHttpsAndStopsAtTheSizeLimit)
{
    Standin::trustCertificate();
    Standin::Server secure;
    ASSERT_NE(Standin::startSecure(secure), 0);
    Standin::Server plain;
    ASSERT_NE(plain.start(), 0);
    const QString origin = Standin::secureOrigin(secure);
    secure.route("GET", "/p.png", [](const Standin::Seen &) { return Standin::Answer(200, png(QSize(120, 120)), "image/png"); });
    secure.route("GET", "/huge.png", [](const Standin::Seen &) {
        return Standin::Answer(200, QByteArray(ProfilePicture::kMaxBytes + 4096, 'x'), "image/png");
    });
    secure.route("GET", "/to-http", [&plain](const Standin::Seen &) {
        Standin::Answer answer(302, {});
        answer.headers = {{"Location", plain.origin().toUtf8() + "/p.png"}};
        return answer;
    });
    plain.route("GET", "/p.png", [](const Standin::Seen &) { return Standin::Answer(200, png(QSize(120, 120)), "image/png"); });

    ProfilePicture picture(52);
    auto load = [&](const QString &address) {
        picture.setAddress(address);
        EXPECT_TRUE(zktest::spinUntil([&] { return picture.settled(); }));
    };
    load(origin + "/p.png");
    EXPECT_FALSE(picture.image().isNull());
    load(origin + "/huge.png");
    EXPECT_TRUE(picture.image().isNull());
    // Neither a redirect from https down to http nor an http address reaches the plain server.
    load(origin + "/to-http");
    EXPECT_TRUE(picture.image().isNull());
    load(plain.origin() + "/p.png");
    EXPECT_TRUE(picture.image().isNull());
    EXPECT_EQ(plain.count("/p.png"), 0);
    EXPECT_EQ(secure.count("/to-http"), 1);
}

// ---- Companion settings

namespace {
class CompanionSettingsTest : public ::testing::Test {
protected:
    AppModel &model() { return flows.model(); }

    AppearanceGuard appearance;
    Flows flows;
};
} // namespace

TEST_F(CompanionSettingsTest, TheMoodWordsAndTones)
{
    const QDateTime now(QDate(2025, 6, 11), QTime(12, 0));
    CatWellbeing record;
    record.firstSeenAt = now.addDays(-30);
    struct Case {
        qint64 hoursSinceMeal;
        QString word;
        PillTone tone;
    };
    const Case cases[] = {{36, "Fed and content.", PillTone::settled},
                          {37, "A little peckish: nothing published for a couple of days.", PillTone::accent},
                          {96, "A little peckish: nothing published for a couple of days.", PillTone::accent},
                          {97, "Hungry: 4 days without a publication.", PillTone::attention},
                          {24 * 9 + 5, "Hungry: 9 days without a publication.", PillTone::attention}};
    for (const Case &c : cases) {
        record.lastFedAt = now.addSecs(-3600 * c.hoursSinceMeal);
        EXPECT_EQ(CompanionSettingsView::moodWord(record, now), c.word) << c.hoursSinceMeal;
        EXPECT_EQ(CompanionSettingsView::moodTone(record, now), c.tone) << c.hoursSinceMeal;
    }
}

TEST_F(CompanionSettingsTest, OneWindowWhoseLooksAndRowsFollowTheModel)
{
    CompanionSettingsWindowController controller(model());
    controller.show();
    QWidget *window = controller.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Your cat");
    settle();
    controller.show();
    EXPECT_EQ(controller.window(), window);
    window->close();
    controller.show();
    EXPECT_EQ(controller.window(), window);
    EXPECT_TRUE(window->isVisible());

    // One card per look, the drawn cat last; the chosen one outlined.
    const auto cards = window->findChildren<VariantCard *>();
    ASSERT_EQ(cards.size(), CompanionLibrary::variants().size());
    EXPECT_EQ(cards.back()->variant().id, "drawn");
    EXPECT_TRUE(cards.back()->poster().isNull());
    EXPECT_TRUE(cards.back()->selected());
    flows.h.events.clear();
    click(cards.back());
    EXPECT_EQ(flows.kinds().count(AppEvent::Kind::companionPreferencesChanged), 1);
    if (cards.size() > 1) {
        click(cards.front());
        EXPECT_EQ(model().companionVariantID(), cards.front()->variant().id);
        EXPECT_TRUE(cards.front()->selected());
        EXPECT_FALSE(cards.back()->selected());
    }

    // Without a login switch there is no login row.
    EXPECT_EQ(rowTitled(window, "Open when the computer starts"), nullptr);
    SettingRow *length = rowTitled(window, "Session length");
    ASSERT_NE(length, nullptr);
    auto *stepper = qobject_cast<Stepper *>(length->content());
    ASSERT_NE(stepper, nullptr);
    click(stepper->downButton());
    EXPECT_EQ(model().focusMinutes(), 20);
    EXPECT_EQ(length->detailText()->text(), "20 minutes");

    // "Check again" stays until the permission arrives.
    flows.h.windows.isTrusted = false;
    model().setAccessibilityTrusted(false);
    settle();
    ASSERT_NE(buttonNamed(window, "Check again"), nullptr);
    model().setAccessibilityTrusted(true);
    settle();
    EXPECT_EQ(buttonNamed(window, "Check again"), nullptr);
    EXPECT_TRUE(texts(window).contains("Granted"));

    // The title was worded once; the content follows the language.
    model().setLanguage(AppLanguage::ru);
    settle();
    EXPECT_EQ(window->windowTitle(), "Your cat");
    EXPECT_TRUE(texts(window).contains(L10n::t("Choose a cat").toUpper()) ||
                texts(window).contains(L10n::t("Choose a cat")));
    model().setLanguage(AppLanguage::en);
}

TEST_F(CompanionSettingsTest, TheLoginSwitchShowsWhatTheSystemDoesAfterwards)
{
    bool registered = false;
    bool writable = true;
    QList<bool> asked;
    LoginItemSwitch login;
    login.opensAtLogin = [&] { return registered; };
    login.setOpensAtLogin = [&](bool on) {
        asked << on;
        if (writable)
            registered = on;
    };
    CompanionSettingsWindowController controller(model(), login);
    controller.show();
    settle();
    SettingRow *row = rowTitled(controller.window(), "Open when the computer starts");
    ASSERT_NE(row, nullptr);
    auto *toggle = qobject_cast<ToggleSwitch *>(row->content());
    ASSERT_NE(toggle, nullptr);
    EXPECT_FALSE(toggle->isOn());
    click(toggle);
    EXPECT_TRUE(registered);
    EXPECT_TRUE(toggle->isOn());

    // A registration that fails springs back.
    writable = false;
    click(toggle);
    EXPECT_EQ(asked, (QList<bool>{true, false}));
    EXPECT_TRUE(toggle->isOn());

    // Shown again, the window reads the entry again.
    controller.window()->hide();
    registered = false;
    controller.show();
    settle();
    row = rowTitled(controller.window(), "Open when the computer starts");
    EXPECT_FALSE(qobject_cast<ToggleSwitch *>(row->content())->isOn());
}
