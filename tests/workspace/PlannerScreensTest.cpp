// The plan screen with its week strip and rows, the draft editor and the grid
// preview, offscreen over the scripted service in virtual time.

#include "ScreensTestSupport.h"
#include "support/TextPixels.h"

#include "Certificate.h"
#include "StandinServer.h"
#include "WebApp.h"

#include "app/DraftEditStore.h"
#include "app/UnsavedPlanStore.h"
#include "base/RecordStore.h"
#include "design/AppearanceService.h"
#include "design/Controls.h"
#include "design/EmptyStateCard.h"
#include "design/DateText.h"
#include "design/L10n.h"
#include "design/PaletteColors.h"
#include "design/StatusPill.h"
#include "workspace/AssistantView.h"
#include "workspace/DraftEditorView.h"
#include "workspace/GridView.h"
#include "workspace/PlanView.h"
#include "workspace/PlannerKit.h"
#include "design/MenuLook.h"
#include "workspace/ScreenKit.h"
#include "workspace/ProfilePicture.h"
#include "workspace/SignInView.h"
#include "workspace/WorkspaceRootView.h"
#include "workspace/WorkspaceSplitView.h"

#include <QContextMenuEvent>
#include <QBuffer>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QJsonArray>
#include <QJsonObject>
#include <QMenu>
#include <QScreen>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cmath>
#include <utility>

using namespace flowtest;
using namespace screentest;
using ZephylWire::PlanDraft;
using ZephylWire::Publication;
using Color = ZephylPalette::Color;

namespace {

PlanDraft planDraft(qint64 id, QString title = {}, QString scheduledAt = {}, QString format = QStringLiteral("post"))
{
    PlanDraft d;
    d.id = id;
    d.title = std::move(title);
    d.scheduledAt = std::move(scheduledAt);
    d.format = std::move(format);
    return d;
}

Publication publication(QString id, QString status, std::optional<QDateTime> at = std::nullopt)
{
    Publication p;
    p.id = std::move(id);
    p.status = std::move(status);
    if (at)
        p.scheduledAt = at->toMSecsSinceEpoch();
    return p;
}

QString utc(const QDateTime &t) { return t.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'")); }

QStringList actionTexts(QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

QAction *action(QMenu *menu, const QString &text)
{
    for (QAction *a : menu->actions()) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

// What the editor's attach path is given in place of the media importer.
class FakeMedia final : public DraftMediaSource {
public:
    std::optional<QString> picked = QStringLiteral("/tmp/cat.jpg");
    std::optional<ImportedMedia> imported;
    std::exception_ptr failure;
    int picks = 0;
    int imports = 0;

    QString pickerTitle;
    std::optional<QString> pickFile(QWidget *, const QString &title) override
    {
        ++picks;
        pickerTitle = title;
        return picked;
    }
    QCoro::Task<ImportedMedia> importFile(QString) override
    {
        ++imports;
        if (failure)
            std::rethrow_exception(failure);
        co_return *imported;
    }
};

ZephylWire::InstagramProfile connectedProfile()
{
    ZephylWire::InstagramProfile p;
    p.userId = QStringLiteral("1");
    p.username = QStringLiteral("a.studio");
    return p;
}

ImportedMedia picture()
{
    ImportedMedia m;
    m.id = QStringLiteral("A");
    m.kind = ImportedMedia::Kind::image;
    m.fileName = QStringLiteral("cat.jpg");
    m.contentType = QStringLiteral("image/jpeg");
    m.data = MediaData::fromBytes("jpeg bytes");
    m.thumbnail = MediaThumbnail{2, 3, QByteArray(2 * 3 * 4, '\x7f')};
    return m;
}

ImportedMedia video(bool withPoster = true)
{
    ImportedMedia m;
    m.id = QStringLiteral("V");
    m.kind = ImportedMedia::Kind::video;
    m.fileName = QStringLiteral("clip.mp4");
    m.contentType = QStringLiteral("video/mp4");
    m.data = MediaData::fromBytes("mp4 bytes");
    if (withPoster) {
        m.posterData = QByteArray("poster");
        m.thumbnail = MediaThumbnail{4, 4, QByteArray(4 * 4 * 4, '\x20')};
    }
    return m;
}

class PlannerTest : public ::testing::Test {
protected:
    PlannerTest()
    {
        PlannerKit::urlOpener() = [this](const QUrl &url) { opened << url; };
        DraftMediaSource::setSystem(media);
        model().setSession(SessionState::signedIn);
    }
    ~PlannerTest() override
    {
        PlannerKit::urlOpener() = {};
        DraftMediaSource::setSystem(nullptr);
    }
    AppModel &model() { return flows.model(); }
    // The plan in the model and on the service, so a load keeps it.
    void setPlan(const QList<PlanDraft> &drafts, const QList<Publication> &publications = {})
    {
        flows.service.results["planDrafts"] = drafts;
        flows.service.results["instagramPublications"] = publications;
        model().setPlanDrafts(drafts);
        model().setPublications(publications);
        settle();
    }
    QDateTime now() { return model().clock().now(); }
    PlanView *plan()
    {
        if (!m_plan)
            m_plan = host.show(new PlanView(model()));
        return m_plan;
    }
    GridView *grid()
    {
        if (!m_grid)
            m_grid = host.show(new GridView(model()));
        return m_grid;
    }
    DraftEditorView *editor(const PlanDraft &d, bool isNew = false, int place = 0)
    {
        auto *view = new DraftEditorView(model(), d, isNew, place, host.window.get());
        QObject::connect(view, &DraftEditorView::closeRequested, [this] { ++closed; });
        host.window->show();
        view->show();
        settle();
        return view;
    }
    // The plan screen goes, as the workspace's branch does at a sign-out.
    void closePlan() { delete std::exchange(m_plan, nullptr); }
    PlanRow *rowOf(const QString &id)
    {
        for (PlanRow *row : plan()->rows()) {
            if (row->entry().id == id)
                return row;
        }
        return nullptr;
    }

    AppearanceGuard appearance;
    Flows flows;
    Host host;
    std::shared_ptr<FakeMedia> media = std::make_shared<FakeMedia>();
    QList<QUrl> opened;
    int closed = 0;

private:
    PlanView *m_plan = nullptr;
    GridView *m_grid = nullptr;
};

} // namespace

// ---- Rows

TEST_F(PlannerTest, RowSubtitlesPillsAndTheFormatsNames)
{
    PlanEntry undated;
    undated.format = PublishFormat::carousel;
    EXPECT_EQ(PlanRow::subtitle(undated), QStringLiteral("Carousel"));

    PlanEntry failed;
    failed.format = PublishFormat::feed;
    failed.date = QDateTime(QDate(2025, 3, 14), QTime(9, 30), QTimeZone::systemTimeZone());
    failed.state = PlanEntry::State::failed(QString());
    const QString dated = PlanRow::subtitle(failed);
    EXPECT_TRUE(dated.startsWith(QStringLiteral("Post \u00B7 "))) << dated.toStdString();
    EXPECT_TRUE(dated.contains(QStringLiteral("Mar 14, 2025"))) << dated.toStdString();
    EXPECT_TRUE(dated.contains(QStringLiteral("9:30"))) << dated.toStdString();
    EXPECT_FALSE(dated.contains(QStringLiteral(":00 "))) << "the shortened time has no seconds";
    EXPECT_EQ(dated.count(QStringLiteral(" \u00B7 ")), 1) << "an empty reason adds nothing";
    failed.state = PlanEntry::State::failed(QStringLiteral("media_rejected_by_instagram"));
    EXPECT_TRUE(PlanRow::subtitle(failed).endsWith(QStringLiteral(" \u00B7 media rejected by instagram")));
    // A reason in another direction is an isolate of its own: it moves nothing of the line before it.
    failed.state = PlanEntry::State::failed(QStringLiteral("\u202Eblocked \u05D0"));
    EXPECT_TRUE(PlanRow::subtitle(failed).endsWith(QStringLiteral(" \u00B7 \u2068blocked \u05D0\u2069")));
    // In a line that reads right to left, a reason in English is one too.
    model().setLanguage(AppLanguage::he);
    failed.state = PlanEntry::State::failed(QStringLiteral("refused (code 9)"));
    EXPECT_TRUE(PlanRow::subtitle(failed).endsWith(QStringLiteral(" \u00B7 \u2068refused (code 9)\u2069")));
    model().setLanguage(AppLanguage::en);

    struct Case {
        PlanEntry::State state;
        const char *text;
        PillTone tone;
    };
    const Case cases[] = {
        {PlanEntry::State::draft(), "Draft", PillTone::neutral},
        {PlanEntry::State::scheduled(), "Scheduled", PillTone::accent},
        {PlanEntry::State::underway(), "Underway", PillTone::accent},
        {PlanEntry::State::published(), "Published", PillTone::settled},
        {PlanEntry::State::overdue(), "Unconfirmed", PillTone::attention},
        {PlanEntry::State::failed(QStringLiteral("x")), "Failed", PillTone::attention},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(PlanRow::pillText(c.state), QString::fromUtf8(c.text));
        EXPECT_EQ(PlanRow::pillTone(c.state), c.tone) << c.text;
    }

    // "Reel" and "Story" stand as they are in every language; "Post" and "Carousel" follow it.
    model().setLanguage(AppLanguage::de);
    PlanEntry reel;
    reel.format = PublishFormat::reel;
    EXPECT_EQ(PlanRow::subtitle(reel), QStringLiteral("Reel"));
    reel.format = PublishFormat::story;
    EXPECT_EQ(PlanRow::subtitle(reel), QStringLiteral("Story"));
    reel.format = PublishFormat::feed;
    EXPECT_EQ(PlanRow::subtitle(reel), QStringLiteral("Beitrag"));
    reel.format = PublishFormat::carousel;
    EXPECT_EQ(PlanRow::subtitle(reel), QStringLiteral("Karussell"));
    EXPECT_EQ(PlanRow::pillText(PlanEntry::State::draft()), QStringLiteral("Entwurf"));
}

TEST_F(PlannerTest, RowTapsAndMenus)
{
    Publication linked = publication(QStringLiteral("p1"), QStringLiteral("published"), now());
    linked.platformUrl = QUrl(QStringLiteral("https://www.instagram.com/p/abc/"));
    Publication plain = publication(QStringLiteral("p2"), QStringLiteral("published"), now());
    Publication elsewhere = publication(QStringLiteral("p3"), QStringLiteral("published"), now());
    elsewhere.platformUrl = QUrl(QStringLiteral("https://evil.example/p/abc/"));
    Publication script = publication(QStringLiteral("p4"), QStringLiteral("published"), now());
    script.platformUrl = QUrl(QStringLiteral("javascript:alert(1)"));
    Publication insecure = publication(QStringLiteral("p5"), QStringLiteral("published"), now());
    insecure.platformUrl = QUrl(QStringLiteral("http://www.instagram.com/p/abc/"));
    PlanDraft d = planDraft(7, QStringLiteral("Cat yoga"), utc(now().addSecs(7200)), QStringLiteral("video"));
    d.caption = QStringLiteral("stretch");
    d.hashtags = QStringLiteral("#cat");
    d.mediaId = QStringLiteral("m-1");
    setPlan({d}, {linked, plain, elsewhere, script, insecure});

    // A draft: edit, prepare, delete.
    PlanRow *draftRow = rowOf(QStringLiteral("draft-7"));
    ASSERT_NE(draftRow, nullptr);
    QMenu *menu = plan()->menuFor(draftRow->entry(), plan());
    EXPECT_EQ(actionTexts(menu), (QStringList{"Edit draft", "Prepare publication", "-", "Delete draft"}));
    action(menu, QStringLiteral("Prepare publication"))->trigger();
    ASSERT_TRUE(model().composerPresented());
    EXPECT_EQ(model().composerPrefill(),
              (ComposerPrefill{PublishFormat::feed, QStringLiteral("Cat yoga"), QStringLiteral("stretch"),
                               QStringLiteral("#cat")}))
        << "an unknown format word prepares a post; media and date stay behind";
    EXPECT_EQ(model().planDrafts().size(), 1) << "the draft stays in the plan";

    // A click on the row opens the editor; a click on a publication does nothing.
    QTest::mouseClick(draftRow, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
    settle();
    ASSERT_NE(plan()->editor(), nullptr);
    EXPECT_EQ(plan()->editor()->draft().id, 7);
    EXPECT_FALSE(plan()->editor()->isNew());
    key(plan()->editor()->titleField(), Qt::Key_Escape);
    EXPECT_EQ(plan()->editor(), nullptr) << "Escape closes the sheet";
    EXPECT_EQ(flows.service.savedPlans.size(), 0);
    QTest::mouseClick(rowOf(QStringLiteral("publication-p1")), Qt::LeftButton);
    settle();
    EXPECT_EQ(plan()->editor(), nullptr);

    // Only an https address on Instagram's site is offered and opened.
    QMenu *open = plan()->menuFor(rowOf(QStringLiteral("publication-p1"))->entry(), plan());
    EXPECT_EQ(actionTexts(open), QStringList{"Open on Instagram"});
    open->actions().first()->trigger();
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.instagram.com/p/abc/"))});
    for (const char *id : {"publication-p2", "publication-p3", "publication-p4", "publication-p5"})
        EXPECT_TRUE(plan()->menuFor(rowOf(QString::fromLatin1(id))->entry(), plan())->isEmpty()) << id;
    EXPECT_FALSE(PlannerKit::openInstagram(script.platformUrl));
    EXPECT_FALSE(PlannerKit::openInstagram(insecure.platformUrl));
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(PlannerTest, ADraftsRowActsOnThatDraftAloneBesideAnotherUnderItsId)
{
    PlanDraft again = planDraft(2, QStringLiteral("twin again"));
    again.caption = QStringLiteral("its own words");
    setPlan({planDraft(1, QStringLiteral("a")), planDraft(2, QStringLiteral("twin")), planDraft(3), again});
    const auto rowTitled = [&](const QString &title) -> PlanRow * {
        for (PlanRow *row : plan()->rows()) {
            if (row->entry().title == title)
                return row;
        }
        return nullptr;
    };
    ASSERT_NE(rowTitled(QStringLiteral("twin again")), nullptr);
    EXPECT_EQ(rowTitled(QStringLiteral("twin again"))->entry().draftPlace, 1);
    action(plan()->menuFor(rowTitled(QStringLiteral("twin again"))->entry(), plan()), QStringLiteral("Prepare publication"))
        ->trigger();
    EXPECT_EQ(model().composerPrefill(), (ComposerPrefill{PublishFormat::feed, QStringLiteral("twin again"),
                                                          QStringLiteral("its own words"), QString()}));
    model().setComposerPresented(false);
    QTest::mouseClick(rowTitled(QStringLiteral("twin again")), Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
    settle();
    ASSERT_NE(plan()->editor(), nullptr);
    EXPECT_EQ(plan()->editor()->place(), 1);
    plan()->editor()->cancel();
    settle();

    action(plan()->menuFor(rowTitled(QStringLiteral("twin again"))->entry(), plan()), QStringLiteral("Delete draft"))
        ->trigger();
    settle();
    QStringList left;
    for (const auto &d : model().planDrafts())
        left << QStringLiteral("%1 %2").arg(d.id).arg(d.title);
    EXPECT_EQ(left, (QStringList{"1 a", "2 twin", "3 "})) << "its twin stays";
    ASSERT_EQ(flows.service.savedPlans.size(), 1);
    EXPECT_EQ(flows.service.savedPlans.last(), model().planDrafts());
    EXPECT_EQ(rowTitled(QStringLiteral("twin again")), nullptr) << "the row goes with the draft";
}

// ---- The plan screen

TEST_F(PlannerTest, EmptyPlanShowsTheDayAndNothingElse)
{
    ASSERT_EQ(plan()->sectionTitles().size(), 1);
    EXPECT_EQ(plan()->sectionTitles().first(), DateText::dayHeading(plan()->selectedDay()));
    EXPECT_TRUE(texts(plan()).contains(QStringLiteral(
        "Nothing planned for this day. Zephyl publishes nothing without your confirmation.")));
    EXPECT_EQ(plan()->selectedDay(), now().date());
    EXPECT_EQ(plan()->dayCells().size(), 7);
    EXPECT_TRUE(texts(plan()).contains(QStringLiteral("The week ahead")));
    EXPECT_EQ(flows.service.count("planDrafts"), 1) << "the plan is loaded when the screen shows";
}

TEST_F(PlannerTest, AnOfflineStartSaysThePlanIsNotLoadedYetAndShowsWhatWasKeptAsKept)
{
    const QString nothingPlanned =
        QStringLiteral("Nothing planned for this day. Zephyl publishes nothing without your confirmation.");
    const auto pill = [&](const char *name) {
        settle();
        auto *found = plan()->content() ? plan()->content()->findChild<StatusPill *>(QLatin1String(name)) : nullptr;
        return found && found->isVisibleTo(plan()) ? found->text() : QString();
    };
    // Signed in here before, with a draft that never reached the service.
    const QString account = QStringLiteral("a@example.com");
    flows.service.results["restoreSession"] = ServiceClient::RestoreOutcome::signedIn;
    flows.service.results["currentUser"] = user(account);
    flows.service.results["planDrafts"] = QList<PlanDraft>{planDraft(1, QStringLiteral("one"))};
    finish(model().bootstrap());
    UnsavedPlanStore(RecordStore::of(flows.h.store))
        .save(account, {{planDraft(1, QStringLiteral("one")), planDraft(2, QStringLiteral("kept here"))},
                        {planDraft(1, QStringLiteral("one"))},
                        false});

    // Started again with the service out of reach.
    flows.h.make(&flows.service);
    flows.service.results["restoreSession"] = ServiceClient::RestoreOutcome::unverified;
    flows.service.failures["currentUser"] = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    finish(model().bootstrap());
    ASSERT_TRUE(model().sessionUnverified());
    EXPECT_EQ(pill("planUnavailable"),
              QStringLiteral("The plan could not be loaded yet. It shows here once sorvane.app answers."));
    EXPECT_EQ(pill("planUnsaved"), QStringLiteral("Plan changes are kept here but not saved yet."));
    EXPECT_NE(rowOf(QStringLiteral("draft-2")), nullptr) << "what was kept is shown";
    EXPECT_TRUE(texts(plan()).contains(QStringLiteral("Nothing for this day until the plan has loaded.")));
    EXPECT_FALSE(texts(plan()).contains(nothingPlanned));

    // The service answers: what was kept goes to it beside what it holds, and the day is empty for real.
    flows.service.failures.clear();
    flows.service.results["currentUser"] = user(account);
    flows.service.results["planDrafts"] =
        QList<PlanDraft>{planDraft(1, QStringLiteral("one")), planDraft(3, QStringLiteral("written elsewhere"))};
    flows.h.clock.advance(std::chrono::minutes(1));
    ASSERT_TRUE(zktest::spinUntil(
        [&] { return !model().sessionUnverified() && !model().planLoading() && !model().planUnsaved(); }));
    ASSERT_FALSE(flows.service.savedPlans.isEmpty());
    QStringList sent;
    for (const PlanDraft &d : flows.service.savedPlans.last())
        sent << d.title;
    EXPECT_EQ(sent, (QStringList{"one", "written elsewhere", "kept here"}));
    EXPECT_EQ(pill("planUnavailable"), QString());
    EXPECT_EQ(pill("planUnsaved"), QString());
    EXPECT_NE(rowOf(QStringLiteral("draft-3")), nullptr);
    EXPECT_TRUE(texts(plan()).contains(nothingPlanned));
}

TEST_F(PlannerTest, EachEntryIsListedInExactlyOnePlace)
{
    const QDateTime t = now();
    Publication failedToday = publication(QStringLiteral("f"), QStringLiteral("failed"), t.addSecs(60));
    Publication failedUndated = publication(QStringLiteral("g"), QStringLiteral("preparation_failed"));
    Publication overdue = publication(QStringLiteral("o"), QStringLiteral("mystery"), t.addSecs(-901));
    Publication published = publication(QStringLiteral("p"), QStringLiteral("published"));
    Publication cancelled = publication(QStringLiteral("c"), QStringLiteral("cancelled"), t);
    setPlan({planDraft(1, QStringLiteral("today"), utc(t.addSecs(300))),
             planDraft(2, QStringLiteral("undated"), QStringLiteral("2025-06-11")),
             planDraft(3, QStringLiteral("tomorrow"), utc(t.addDays(1)))},
            {failedToday, failedUndated, overdue, published, cancelled});

    EXPECT_EQ(plan()->sectionTitles().first(), QStringLiteral("Needs attention"));
    EXPECT_EQ(plan()->sectionTitles().last(), QStringLiteral("Drafts without a date"));
    QStringList ids;
    for (PlanRow *row : plan()->rows())
        ids << row->entry().id;
    // Attention (by date, undated last), the day's list, the undated list.
    EXPECT_EQ(ids, (QStringList{"publication-o", "publication-f", "publication-g", "draft-1", "publication-p",
                                "draft-2"}));
    EXPECT_EQ(ids.removeDuplicates(), 0);

    // The day of tomorrow has a dot; today's failed entry alone would not give one.
    for (DayCell *cell : plan()->dayCells()) {
        if (cell->date() == t.date().addDays(1)) {
            EXPECT_TRUE(cell->hasEntries());
        }
    }
    model().setPlanDrafts({});
    model().setPublications({failedToday});
    settle();
    for (DayCell *cell : plan()->dayCells())
        EXPECT_FALSE(cell->hasEntries()) << cell->date().toString().toStdString();
    EXPECT_TRUE(texts(plan()).contains(QStringLiteral(
        "Nothing planned for this day. Zephyl publishes nothing without your confirmation.")))
        << "a failed entry of the day is listed only under attention";
}

TEST_F(PlannerTest, WeekStripNavigationAndDayCells)
{
    // Wednesday 11 June 2025, noon.
    EXPECT_EQ(plan()->button(QStringLiteral("Today")), nullptr);
    const QDate today = now().date();
    const std::vector<QDate> week = plan()->days();
    ASSERT_EQ(week.size(), 7u);
    EXPECT_EQ(week.front(), QDate(2025, 6, 9));
    EXPECT_EQ(week.back(), QDate(2025, 6, 15));

    // Choosing Friday: it is selected, today's cell shows the accent number.
    DayCell *friday = plan()->dayCells().at(4);
    click(friday);
    EXPECT_EQ(plan()->selectedDay(), QDate(2025, 6, 13));
    for (DayCell *cell : plan()->dayCells()) {
        if (cell->date() == QDate(2025, 6, 13)) {
            EXPECT_TRUE(cell->isSelectedDay());
            EXPECT_EQ(cell->weekdayColor(), Color::text);
            EXPECT_EQ(cell->numberColor(), Color::onPrimaryFill);
        } else if (cell->date() == today) {
            EXPECT_EQ(cell->numberColor(), Color::accent);
            EXPECT_EQ(cell->weekdayColor(), Color::muted);
        } else {
            EXPECT_EQ(cell->numberColor(), Color::text);
        }
    }

    // Only the choice of a cell is animated, with the shared spring.
    DayCell *chosen = nullptr;
    for (DayCell *cell : plan()->dayCells()) {
        if (cell->isSelectedDay())
            chosen = cell;
    }
    ASSERT_NE(chosen, nullptr);
    EXPECT_LT(chosen->selectionProgress(), 1.0);
    EXPECT_TRUE(zktest::spinUntil([&] { return chosen->selectionProgress() == 1.0; }));

    // Two weeks ahead: "Today" appears, the selected day stays, no cell is highlighted.
    click(plan()->button(QStringLiteral("Next week")));
    click(plan()->button(QStringLiteral("Next week")));
    EXPECT_EQ(plan()->weekOffset(), 2);
    EXPECT_NE(plan()->button(QStringLiteral("Today")), nullptr);
    EXPECT_EQ(plan()->selectedDay(), QDate(2025, 6, 13));
    EXPECT_EQ(plan()->days().front(), QDate(2025, 6, 23));
    for (DayCell *cell : plan()->dayCells())
        EXPECT_FALSE(cell->isSelectedDay());
    EXPECT_TRUE(plan()->sectionTitles().last().contains(QLocale::system().toString(QDate(2025, 6, 13),
                                                                                    QStringLiteral("MMMM"))));
    click(plan()->button(QStringLiteral("Previous week")));
    EXPECT_EQ(plan()->weekOffset(), 1);

    click(plan()->button(QStringLiteral("Today")));
    EXPECT_EQ(plan()->weekOffset(), 0);
    EXPECT_EQ(plan()->selectedDay(), today);
    for (DayCell *cell : plan()->dayCells())
        EXPECT_EQ(cell->selectionProgress(), 1.0) << "\"Today\" does not animate";
    EXPECT_EQ(plan()->button(QStringLiteral("Today")), nullptr);
}

// Today, not selected: the accent number in the dark appearance; in the light
// one (where the accent reads 2.6:1 on the strip) the text colour with a ring.
TEST_F(PlannerTest, TodaysDateReadsOnTheStripInBothAppearances)
{
    const QDate day(2025, 6, 11);
    auto paint = [&](AppTheme theme) {
        AppearanceService::shared().setTheme(theme);
        DayCell cell(day, false, true, false);
        cell.resize(cell.sizeHint());
        QImage image(cell.size(), QImage::Format_RGB32);
        image.fill(PaletteColors::color(ZephylPalette::Color::surfaceSoft));
        cell.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    };
    // The darkest pixel along the circle's leading edge, level with its centre: where the ring runs.
    auto ringPixel = [](const QImage &image) {
        const int y = image.height() - 55 + 6 + 19;
        const int left = (image.width() - 38) / 2;
        QColor darkest = image.pixelColor(left, y);
        for (int x = left; x <= left + 7; ++x)
            if (image.pixelColor(x, y).lightness() < darkest.lightness())
                darkest = image.pixelColor(x, y);
        return darkest;
    };
    const QImage light = paint(AppTheme::light);
    const QColor ring = ringPixel(light);
    EXPECT_LT(ring.lightness(), 110) << ring.name().toStdString();
    const QImage dark = paint(AppTheme::dark);
    EXPECT_EQ(ringPixel(dark), PaletteColors::color(ZephylPalette::Color::surfaceSoft, Appearance::dark));
    AppearanceService::shared().setTheme(AppTheme::light);
}

// A day's dot is the only sign that it holds something: on the light strip,
// where the accent stands at 2.6:1, it is drawn in the text colour; in the
// dark appearance it keeps the accent.
TEST_F(PlannerTest, ADaysDotStandsOutFromTheStripInBothAppearances)
{
    const QDate day(2025, 6, 12);
    auto dot = [&](AppTheme theme, QColor strip) {
        AppearanceService::shared().setTheme(theme);
        DayCell cell(day, false, false, true);
        cell.resize(cell.sizeHint());
        QImage image(cell.size(), QImage::Format_RGB32);
        image.fill(strip);
        cell.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        // The dot's middle: 5 points under the 38-point circle, 6 below it.
        return image.pixelColor(image.width() / 2, image.height() - 3);
    };
    const QColor light = dot(AppTheme::light, QColor(0xEEECE6));
    EXPECT_NEAR(light.red(), 0x20, 12) << light.name().toStdString();
    EXPECT_NEAR(light.green(), 0x1F, 12);
    EXPECT_NEAR(light.blue(), 0x1C, 12);
    const QColor dark = dot(AppTheme::dark, QColor(0x242424));
    EXPECT_NEAR(dark.red(), 0xE0, 12) << dark.name().toStdString();
    EXPECT_NEAR(dark.green(), 0xB4, 12);
    EXPECT_NEAR(dark.blue(), 0x5C, 12);
    AppearanceService::shared().setTheme(AppTheme::light);
}

TEST_F(PlannerTest, WeeksWithAClockChangeKeepSevenDaysFromMonday)
{
    // Also run under TZ=Europe/Berlin and TZ=America/New_York: each of these
    // weeks holds one of those zones' changes of the clocks.
    FakeClock &clock = flows.h.clock;
    const QTimeZone zone = QTimeZone::systemTimeZone();
    for (const QDate wednesday : {QDate(2025, 3, 26), QDate(2025, 3, 5), QDate(2025, 10, 22), QDate(2025, 10, 29)}) {
        const QDate monday = wednesday.addDays(-2), sunday = wednesday.addDays(4);
        const std::string week = monday.toString(Qt::ISODate).toStdString();
        clock.setNow(QDateTime(wednesday, QTime(10, 0), zone));
        setPlan({planDraft(1, QStringLiteral("Sunday noon"), utc(QDateTime(sunday, QTime(12, 0), zone))),
                 planDraft(2, QStringLiteral("Monday early"), utc(QDateTime(monday, QTime(0, 30), zone))),
                 planDraft(3, QStringLiteral("Next Monday early"),
                           utc(QDateTime(monday.addDays(7), QTime(0, 30), zone)))});
        plan()->showToday();
        settle();
        std::vector<QDate> expected;
        for (int i = 0; i < 7; ++i)
            expected.push_back(monday.addDays(i));
        EXPECT_EQ(plan()->days(), expected) << week;
        ASSERT_EQ(plan()->dayCells().size(), 7) << week;
        for (DayCell *cell : plan()->dayCells())
            EXPECT_EQ(cell->hasEntries(), cell->date() == sunday || cell->date() == monday)
                << week << " " << cell->date().toString(Qt::ISODate).toStdString();

        // Sunday lists its own draft; a new draft on it is planned at its noon.
        for (DayCell *cell : plan()->dayCells()) {
            if (cell->date() == sunday)
                click(cell);
        }
        ASSERT_EQ(plan()->rows().size(), 1) << week;
        EXPECT_EQ(plan()->rows().first()->entry().id, QStringLiteral("draft-1"));
        EXPECT_EQ(plan()->newDraft().scheduledAt, utc(QDateTime(sunday, QTime(12, 0), zone))) << week;

        // The weeks around it begin on their Mondays too.
        click(plan()->button(QStringLiteral("Next week")));
        EXPECT_EQ(plan()->days().front(), monday.addDays(7)) << week;
        EXPECT_EQ(plan()->days().back(), sunday.addDays(7)) << week;
        EXPECT_TRUE(plan()->dayCells().first()->hasEntries()) << "00:30 on the next Monday is that Monday's";
        plan()->setWeekOffset(-1);
        EXPECT_EQ(plan()->days().front(), monday.addDays(-7)) << week;
    }
}

TEST_F(PlannerTest, TheWholeRowAndTheWholeTileAnswerAClick)
{
    setPlan({planDraft(3, QStringLiteral("Anywhere on the row"), utc(now().addSecs(3600)))});
    PlanRow *row = rowOf(QStringLiteral("draft-3"));
    ASSERT_NE(row, nullptr);
    const QList<QWidget *> parts = {row->titleText(), row->subtitleText(), row->pill()};
    for (QWidget *part : parts) {
        QTest::mouseClick(part, Qt::LeftButton, Qt::NoModifier, part->rect().center());
        settle();
        ASSERT_NE(plan()->editor(), nullptr) << part->metaObject()->className();
        EXPECT_EQ(plan()->editor()->draft().id, 3);
        plan()->editor()->cancel();
        settle();
    }
    // Pressed as a load starts, let go once its list is drawn: the click
    // still opens the row, and the list is built anew after it.
    row = rowOf(QStringLiteral("draft-3"));
    const QPoint at = row->mapTo(host.window.get(), row->rect().center());
    QTest::mousePress(host.window->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    model().loadPlan();
    settle();
    QTest::mouseRelease(host.window->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    settle();
    ASSERT_NE(plan()->editor(), nullptr) << "the click was lost";
    EXPECT_NE(rowOf(QStringLiteral("draft-3")), row);
    plan()->editor()->cancel();
    settle();

    GridTile *tile = grid()->tiles().value(0);
    ASSERT_NE(tile, nullptr);
    auto *badge = tile->findChild<StatusPill *>();
    ASSERT_NE(badge, nullptr);
    QTest::mouseClick(badge, Qt::LeftButton, Qt::NoModifier, badge->rect().center());
    settle();
    ASSERT_NE(grid()->editor(), nullptr) << "the \"Draft\" badge is part of the tile";
    EXPECT_EQ(grid()->editor()->draft().id, 3);
    // The grid's sheet opens on its first field and keeps the keyboard as the
    // plan's does: round its own controls, never to the grid or the plan behind it.
    EXPECT_EQ(QApplication::focusWidget(), grid()->editor()->titleField());
    grid()->editor()->cancelButton()->setFocus(Qt::TabFocusReason);
    key(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), grid()->editor()->saveButton());
    key(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), grid()->editor()->cancelButton());
    for (int i = 0; i < 12; ++i) {
        key(QApplication::focusWidget(), Qt::Key_Backtab);
        ASSERT_TRUE(sheetOf(grid()->editor())->isAncestorOf(QApplication::focusWidget())) << "Shift+Tab " << i;
    }
}

TEST_F(PlannerTest, NewDraftIsPlannedByTheClockAndOpensAsNew)
{
    FakeClock &clock = flows.h.clock;
    const QTimeZone zone = QTimeZone::systemTimeZone();
    clock.setNow(QDateTime(QDate(2025, 6, 11), QTime(10, 59, 59), zone));
    EXPECT_EQ(plan()->newDraft().scheduledAt, utc(QDateTime(QDate(2025, 6, 11), QTime(12, 0), zone)));
    clock.setNow(QDateTime(QDate(2025, 6, 11), QTime(11, 0, 1), zone));
    EXPECT_EQ(plan()->newDraft().scheduledAt, utc(QDateTime(QDate(2025, 6, 11), QTime(12, 0, 1), zone)));
    plan()->selectDay(QDate(2025, 6, 14));
    EXPECT_EQ(plan()->newDraft().scheduledAt, utc(QDateTime(QDate(2025, 6, 14), QTime(12, 0), zone)));
    plan()->selectDay(QDate(2025, 6, 10));
    const PlanDraft d = plan()->newDraft();
    EXPECT_EQ(d.scheduledAt, utc(clock.now().addSecs(3600)));
    EXPECT_TRUE(d.scheduledAt.endsWith(u'Z'));
    EXPECT_EQ(d.format, QStringLiteral("post"));
    EXPECT_EQ(d.id, clock.now().toMSecsSinceEpoch()) << "an empty plan's next id is the time";

    // Opened from the keyboard, the sheet keeps it: Shift+Tab and Tab go round
    // its own controls past either end, never to the screen dimmed behind it,
    // and a focus handed behind it comes back; Escape returns it to "New draft".
    QAbstractButton *opener = plan()->button(QStringLiteral("New draft"));
    opener->setFocus(Qt::TabFocusReason);
    key(opener, Qt::Key_Space);
    ASSERT_NE(plan()->editor(), nullptr);
    const auto press = [&](Qt::Key k) {
        key(QApplication::focusWidget(), k);
        return QApplication::focusWidget();
    };
    QWidget *at = nullptr;
    for (int i = 0; i < 40 && at != plan()->editor()->cancelButton(); ++i) {
        at = press(Qt::Key_Backtab);
        ASSERT_TRUE(sheetOf(plan()->editor())->isAncestorOf(at))
            << "Shift+Tab " << i << " left the sheet for " << at->metaObject()->className();
    }
    EXPECT_EQ(press(Qt::Key_Backtab), plan()->editor()->saveButton()) << "round from the first control to the last";
    // The ring goes round the control, 3:1 out from the ground round it, light
    // and dark, as the window draws it with and without the keyboard on it.
    const auto ringShare = [](QWidget *control) {
        double least = 1;
        for (AppTheme theme : {AppTheme::light, AppTheme::dark}) {
            AppearanceService::shared().setTheme(theme);
            control->clearFocus();
            settle();
            least = std::min(least, zktest::ringedShare(zktest::ringPictures(control, [control] {
                control->setFocus(Qt::TabFocusReason);
                settle();
            })));
        }
        AppearanceService::shared().setTheme(AppTheme::light);
        return least;
    };
    // On the primary button and on a quiet one.
    EXPECT_GE(ringShare(plan()->editor()->saveButton()), 0.9);
    const auto aroundSave = [&] {
        QWidget *save = plan()->editor()->saveButton();
        return save->window()->grab(zktest::aroundArea(save)).toImage();
    };
    const QImage ringed = aroundSave();
    EXPECT_EQ(press(Qt::Key_Tab), plan()->editor()->cancelButton()) << "and from the last to the first";
    EXPECT_NE(aroundSave(), ringed) << "the keyboard's place is drawn";
    EXPECT_GE(ringShare(plan()->editor()->cancelButton()), 0.9);
    // Forward, the caption is passed as any field is: Tab moves on and types nothing.
    QPlainTextEdit *caption = plan()->editor()->captionEditor();
    for (int i = 0; i < 30 && at != plan()->editor()->saveButton(); ++i) {
        at = press(Qt::Key_Tab);
        ASSERT_TRUE(sheetOf(plan()->editor())->isAncestorOf(at)) << "Tab " << i;
    }
    EXPECT_EQ(at, plan()->editor()->saveButton()) << "Tab got past the caption";
    caption->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(press(Qt::Key_Tab), plan()->editor()->hashtagsField());
    EXPECT_EQ(press(Qt::Key_Backtab), caption);
    EXPECT_TRUE(caption->toPlainText().isEmpty());
    plan()->editor()->cancelButton()->setFocus(Qt::TabFocusReason);
    plan()->button(QStringLiteral("New publication"))->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(QApplication::focusWidget(), plan()->editor()->cancelButton()) << "back where it was";
    press(Qt::Key_Escape);
    EXPECT_EQ(plan()->editor(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), opener);
    // On the window's ground, as the sidebar and the screens stand in it.
    Backdrop ground(Color::background, 1.0, plan());
    ground.setGeometry(plan()->rect());
    ground.show();
    ground.raise();
    // A row's button (the sidebar's "New publication") draws the same ring.
    RowButton row(QStringLiteral("New publication"), PrimaryButtonStyle(false), &ground);
    row.setGeometry(300, 10, 200, 42);
    row.show();
    key(opener, Qt::Key_Tab);
    row.setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(row.hasFocus());
    EXPECT_GE(ringShare(&row), 0.9);
    // The controls without a button style follow the same rule.
    ZephylWire::AssistantThreadSummary thread;
    thread.id = QStringLiteral("t1");
    thread.title = QStringLiteral("Captions for Sunday");
    ZephylWire::AssistantThreadSummary other = thread;
    other.id = QStringLiteral("t2");
    ZephylWire::AssistantThreadStore threads;
    threads.threads = {thread, other};
    threads.activeThreadId = thread.id;
    flows.service.results["assistantThreadStore"] = threads;
    ToggleSwitch off(QStringLiteral("Reminders"), &ground);
    ToggleSwitch on(QStringLiteral("Reminders"), &ground);
    on.setOn(true);
    SegmentedPicker picker({QStringLiteral("Post"), QStringLiteral("Reel")}, 160, &ground);
    model().setSurface(Surface::plan);
    WorkspaceSidebar side(model(), &ground);
    side.setGeometry(0, 100, 260, 600);
    AssistantView assistant(model(), &ground);
    assistant.setGeometry(270, 100, 900, 600);
    assistant.show();
    side.show();
    settle();
    off.setGeometry(10, 10, 44, 26);
    on.setGeometry(60, 10, 44, 26);
    picker.setGeometry(110, 10, 160, 28);
    off.show();
    on.show();
    picker.show();
    ASSERT_EQ(assistant.threadRows().size(), 2);
    const struct {
        const char *name;
        QWidget *control;
    } controls[] = {
        {"switch, off", &off},
        {"switch, on", &on},
        {"segmented picker", &picker},
        {"sidebar item, chosen", side.row(Surface::plan)},
        {"sidebar item", side.row(Surface::summary)},
        {"conversation, open", assistant.threadRows().at(0)},
        {"conversation", assistant.threadRows().at(1)},
        {"new conversation", assistant.newThreadButton()},
    };
    key(opener, Qt::Key_Tab);
    for (const auto &c : controls) {
        ASSERT_NE(c.control, nullptr) << c.name;
        c.control->setFocusPolicy(Qt::StrongFocus);
        EXPECT_GE(ringShare(c.control), 0.9) << c.name;
    }
    opener->setFocus(Qt::TabFocusReason);

    click(plan()->button(QStringLiteral("New draft")));
    DraftEditorView *editor = plan()->editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isNew());
    EXPECT_EQ(editor->headerText()->text(), QStringLiteral("New draft"));
    EXPECT_EQ(editor->deleteButton(), nullptr);
    EXPECT_TRUE(model().planDrafts().isEmpty()) << "a new draft enters the plan only when saved";
    editor->save();
    settle();
    ASSERT_EQ(model().planDrafts().size(), 1);
    EXPECT_EQ(plan()->editor(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), plan()->button(QStringLiteral("New draft"))) << "the screen built anew has it";

    click(plan()->button(QStringLiteral("New publication")));
    EXPECT_TRUE(model().composerPresented());
    EXPECT_EQ(model().composerPrefill(), std::nullopt);
}

// ---- The draft editor

TEST_F(PlannerTest, EditorStartsFromTheDraft)
{
    struct Case {
        QString scheduledAt;
        std::optional<QDateTime> planned;
    };
    const QDateTime nineThirty(QDate(2026, 3, 2), QTime(9, 30), QTimeZone::utc());
    const Case cases[] = {
        {QStringLiteral("2026-03-02T09:30:00.250Z"), nineThirty.addMSecs(250)},
        {QStringLiteral("2026-03-02T09:30:00Z"), nineThirty},
        {QStringLiteral("2026-03-02T11:30:00+02:00"), nineThirty},
        {QString(), std::nullopt},
        {QStringLiteral("next Tuesday"), std::nullopt},
        {QStringLiteral("2026-03-02"), std::nullopt},
    };
    for (const Case &c : cases) {
        DraftEditorView *view = editor(planDraft(1, QStringLiteral("t"), c.scheduledAt));
        EXPECT_EQ(view->hasDate(), c.planned.has_value()) << c.scheduledAt.toStdString();
        EXPECT_EQ(view->plannedBox()->isChecked(), c.planned.has_value());
        EXPECT_EQ(view->datePicker()->isEnabled(), c.planned.has_value());
        EXPECT_EQ(view->date(), c.planned.value_or(now().addSecs(3600))) << c.scheduledAt.toStdString();
        delete view;
    }
    struct Format {
        const char *word;
        PublishFormat format;
    };
    for (const Format &f : {Format{"reel", PublishFormat::reel}, Format{"story", PublishFormat::story},
                            Format{"carousel", PublishFormat::carousel}, Format{"post", PublishFormat::feed},
                            Format{"", PublishFormat::feed}, Format{"Reel", PublishFormat::feed},
                            Format{"video", PublishFormat::feed}}) {
        DraftEditorView *view = editor(planDraft(1, {}, {}, QString::fromLatin1(f.word)));
        EXPECT_EQ(view->format(), f.format) << f.word;
        EXPECT_EQ(view->formatPicker()->segments().at(view->formatPicker()->currentIndex()),
                  PublishFormats::label(f.format));
        delete view;
    }
    DraftEditorView *existing = editor(planDraft(1));
    EXPECT_EQ(existing->headerText()->text(), QStringLiteral("Edit draft"));
    ASSERT_NE(existing->deleteButton(), nullptr);
    EXPECT_EQ(existing->formatPicker()->segments(), (QStringList{"Reel", "Story", "Post", "Carousel"}));
    EXPECT_EQ(existing->attachButton()->text(), QStringLiteral("Attach media"));
    EXPECT_FALSE(existing->removeButton()->isVisibleTo(existing));

    // Unticking keeps the time; ticking again brings it back.
    DraftEditorView *dated = editor(planDraft(1, {}, QStringLiteral("2026-03-02T09:30:00Z")));
    dated->plannedBox()->click();
    EXPECT_FALSE(dated->datePicker()->isEnabled());
    EXPECT_EQ(dated->savedCopy().scheduledAt, QString());
    dated->plannedBox()->click();
    EXPECT_EQ(dated->savedCopy().scheduledAt, QStringLiteral("2026-03-02T09:30:00Z"));
}

TEST_F(PlannerTest, EditorDateReadsInTheLanguageInUseAndTheCaptionSitsInARoundedBox)
{
    // An Arabic window: the date is the language's and reads right to left, the
    // day first and the hours before the minutes, as the plan's rows do; the
    // caption starts at the right.
    model().setLanguage(AppLanguage::ar);
    host.window->setLayoutDirection(Qt::RightToLeft);
    DraftEditorView *view = editor(planDraft(1, QStringLiteral("t"), QStringLiteral("2026-03-02T09:30:00Z")));
    EXPECT_EQ(view->layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(view->datePicker()->locale(), L10n::locale());
    EXPECT_EQ(view->datePicker()->dateTime(), QDateTime(QDate(2026, 3, 2), QTime(9, 30), QTimeZone::utc()));
    view->datePicker()->setDateTime(QDateTime(QDate(2026, 12, 18), QTime(11, 58)));
    EXPECT_EQ(fromTheRight(view->datePicker(), {"11", "58", "2026", QStringLiteral("ديسمبر"), "18"}),
              (QStringList{"18", QStringLiteral("ديسمبر"), "2026", "58", "11", "▾"}));

    // The caption's box is rounded: its corner shows the sheet's background, its
    // inside the surface, and the editor stays clear of the corners.
    const QImage shot = view->grab().toImage();
    const QRect box(view->captionBox()->mapTo(view, QPoint()), view->captionBox()->size());
    const qreal ratio = shot.devicePixelRatio();
    auto at = [&](QPoint p) { return shot.pixelColor(QPoint(int(p.x() * ratio), int(p.y() * ratio))); };
    EXPECT_EQ(at(box.topLeft() + QPoint(1, 1)), PaletteColors::color(Color::background));
    EXPECT_EQ(at(box.bottomRight() - QPoint(1, 1)), PaletteColors::color(Color::background));
    EXPECT_EQ(at(box.center()), PaletteColors::color(Color::surface));
    const QRect editorArea = view->captionEditor()->geometry();
    EXPECT_GE(editorArea.left(), 3);
    EXPECT_GE(editorArea.top(), 3);
    EXPECT_LE(editorArea.right(), box.width() - 4);
    EXPECT_EQ(editorArea.height(), 120);
    // The caption starts at the right, as every other field does.
    expectCaptionOnTheLeadingSide(view->captionEditor(), Qt::RightToLeft);
    // In the dark, a long caption's scroll bar and the date's calendar take the palette.
    AppearanceService::shared().setTheme(AppTheme::dark);
    view->captionEditor()->setPlainText(QStringList(30, QStringLiteral("A caption line.")).join(u'\n'));
    EXPECT_EQ(zktest::darkScrollBarFault(view->captionEditor()->verticalScrollBar()).toStdString(), "");
    EXPECT_EQ(darkCalendarFault(view->datePicker()).toStdString(), "");
    model().setLanguage(AppLanguage::en);
}

TEST_F(PlannerTest, SaveReplacesInPlaceOrAppendsAndStoresTheWrittenForms)
{
    PlanDraft second = planDraft(2, QStringLiteral("second"), QStringLiteral("2026-03-02T09:30:00.750Z"));
    second.gridSlot = 4;
    second.mediaId = QStringLiteral("m");
    model().setPlanDrafts({planDraft(1, QStringLiteral("first")), second, planDraft(3, QStringLiteral("third"))});

    DraftEditorView *view = editor(second);
    view->titleField()->selectAll();
    QTest::keyClicks(view->titleField(), QStringLiteral("  Renamed  "));
    view->captionEditor()->setPlainText(QStringLiteral("\n\nCaption kept as typed "));
    view->formatPicker()->chosen(3);
    EXPECT_EQ(view->savedCopy().scheduledAt, QStringLiteral("2026-03-02T09:30:00Z")) << "no fraction";
    view->save();
    settle();
    ASSERT_EQ(model().planDrafts().size(), 3);
    const PlanDraft saved = model().planDrafts().at(1);
    EXPECT_EQ(saved.id, 2) << "replaced in place";
    EXPECT_EQ(saved.title, QStringLiteral("Renamed"));
    EXPECT_EQ(saved.caption, QStringLiteral("\n\nCaption kept as typed "));
    EXPECT_EQ(saved.format, QStringLiteral("carousel"));
    EXPECT_EQ(saved.gridSlot, 4);
    EXPECT_EQ(saved.mediaId, QStringLiteral("m"));
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(flows.service.savedPlans.last(), model().planDrafts());

    // An id the plan does not hold is appended, whatever isNew says.
    DraftEditorView *other = editor(planDraft(9, QStringLiteral("nine"), {}, QStringLiteral("post")), false);
    other->save();
    settle();
    EXPECT_EQ(model().planDrafts().last().id, 9);
    EXPECT_EQ(model().planDrafts().last().scheduledAt, QString());

    // The second of two drafts under one id replaces itself, not the first.
    PlanDraft twin = planDraft(2, QStringLiteral("twin"));
    twin.caption = QStringLiteral("the twin's caption");
    model().setPlanDrafts({planDraft(1, QStringLiteral("first")), twin, planDraft(2, QStringLiteral("twin two"))});
    DraftEditorView *twinTwo = editor(planDraft(2, QStringLiteral("twin two")), false, 1);
    twinTwo->captionEditor()->setPlainText(QStringLiteral("edited"));
    twinTwo->save();
    settle();
    ASSERT_EQ(model().planDrafts().size(), 3);
    EXPECT_EQ(model().planDrafts().at(1), twin);
    EXPECT_EQ(model().planDrafts().at(2).caption, QStringLiteral("edited"));
    EXPECT_EQ(flows.service.savedPlans.last(), model().planDrafts());

    // The list changed under the open sheet (the service's came in with a new
    // draft under the id before it, or without its twin): the draft the sheet
    // was opened on is the one saved or deleted, never the one now at its place.
    const PlanDraft twoShown = model().planDrafts().at(2);
    PlanDraft added = planDraft(2, QStringLiteral("added there"));
    added.caption = QStringLiteral("theirs");
    DraftEditorView *stale = editor(twoShown, false, 1);
    stale->captionEditor()->setPlainText(QStringLiteral("edited again"));
    model().setPlanDrafts({added, planDraft(1, QStringLiteral("first")), twin, twoShown});
    stale->save();
    settle();
    QStringList left;
    for (const auto &d : model().planDrafts())
        left << d.title + u':' + d.caption;
    EXPECT_EQ(left, (QStringList{"added there:theirs", "first:", "twin:the twin's caption", "twin two:edited again"}));
    DraftEditorView *alone = editor(model().planDrafts().at(3), false, 2);
    alone->captionEditor()->setPlainText(QStringLiteral("once more"));
    // Read again meanwhile with what another client wrote on it, which the sheet does not edit.
    PlanDraft reread = model().planDrafts().at(3);
    reread.others.insert(QStringLiteral("notes"), QStringLiteral("written elsewhere"));
    model().setPlanDrafts({planDraft(1, QStringLiteral("first")), reread});
    alone->save();
    settle();
    left.clear();
    for (const auto &d : model().planDrafts())
        left << d.title + u':' + d.caption;
    EXPECT_EQ(left, (QStringList{"first:", "twin two:once more"})) << "replaced, not added again";
    EXPECT_EQ(model().planDrafts().at(1).others, reread.others);
    DraftEditorView *going = editor(model().planDrafts().at(1), false, 0);
    model().setPlanDrafts({added, planDraft(1, QStringLiteral("first")), model().planDrafts().at(1)});
    going->confirmDelete();
    settle();
    left.clear();
    for (const auto &d : model().planDrafts())
        left << d.title + u':' + d.caption;
    EXPECT_EQ(left, (QStringList{"added there:theirs", "first:"}));

    // What the plan took meanwhile (another device's caption, merged in by a
    // load or a save) stays: the sheet writes only what was changed in it.
    DraftEditorView *renaming = editor(model().planDrafts().at(1));
    PlanDraft there = model().planDrafts().at(1);
    there.caption = QStringLiteral("written on the phone");
    model().setPlanDrafts({model().planDrafts().at(0), there});
    renaming->titleField()->end(false);
    QTest::keyClicks(renaming->titleField(), QStringLiteral(", renamed"));
    renaming->save();
    settle();
    EXPECT_EQ(model().planDrafts().at(1).title + u':' + model().planDrafts().at(1).caption,
              QStringLiteral("first, renamed:written on the phone"));

    // The second of two twins, its caption and date changed on another device
    // while its sheet is open, renamed: saved as itself, not added beside it,
    // and what the sheet only shows in its own form (the date without its
    // fraction of a second, a word it shows as Post) is no change of its.
    const PlanDraft sevenOne = planDraft(7, QStringLiteral("Twin one")),
                    sevenTwo = planDraft(7, QStringLiteral("Twin two"), QStringLiteral("2026-03-02T09:30:00.250Z"),
                                         QStringLiteral("image"));
    model().setPlanDrafts({sevenOne, sevenTwo});
    DraftEditorView *seventh = editor(sevenTwo, false, 1);
    PlanDraft phone = sevenTwo;
    phone.caption = QStringLiteral("from the phone");
    phone.scheduledAt = QStringLiteral("2026-03-05T10:00:00.000Z");
    model().setPlanDrafts({sevenOne, phone});
    seventh->titleField()->end(false);
    QTest::keyClicks(seventh->titleField(), QStringLiteral(" EDITED"));
    seventh->save();
    settle();
    left.clear();
    for (const auto &d : model().planDrafts())
        left << d.title + u':' + d.caption + u':' + d.scheduledAt + u':' + d.format;
    EXPECT_EQ(left, (QStringList{"Twin one:::post", "Twin two EDITED:from the phone:2026-03-05T10:00:00.000Z:image"}));

    // Another client's draft in its own types: the sheet shows its reading of
    // each, and a renamed title is all it writes; the rest goes as it was written.
    const QJsonObject written{{"id", 5},
                              {"title", "Phone"},
                              {"caption", ""},
                              {"format", 3},
                              {"hashtags", QJsonArray{"#cats", "#coffee"}},
                              {"scheduledAt", qint64(1748856600000)},
                              {"hiddenFromGrid", "yes"},
                              {"gridSlot", "4"},
                              {"mediaId", 17}};
    const PlanDraft foreign = PlanDraft::fromJson(written);
    model().setPlanDrafts({foreign});
    DraftEditorView *odd = editor(foreign);
    EXPECT_EQ(odd->hashtagsField()->text(), QStringLiteral("#cats #coffee"));
    EXPECT_TRUE(odd->hiddenBox()->isChecked());
    EXPECT_TRUE(odd->plannedBox()->isChecked());
    EXPECT_EQ(odd->date(), QDateTime(QDate(2025, 6, 2), QTime(9, 30), QTimeZone::utc()));
    EXPECT_EQ(odd->format(), PublishFormat::feed);
    EXPECT_EQ(odd->attachButton()->text(), QStringLiteral("Replace media"));
    odd->titleField()->end(false);
    QTest::keyClicks(odd->titleField(), QStringLiteral(", renamed"));
    odd->save();
    settle();
    QJsonObject renamed = written;
    renamed.insert("title", "Phone, renamed");
    EXPECT_EQ(flows.service.savedPlans.last().at(0).toJson(), renamed);
}

TEST_F(PlannerTest, AFailedSaveKeepsTheEditorOpenWithTheWorkingCopy)
{
    // An account the plan can be kept for on this computer.
    flows.service.results["currentUser"] = user(QStringLiteral("a@example.com"));
    finish(model().finishSignIn());
    model().setPlanDrafts({planDraft(1, QStringLiteral("before"))});
    flows.service.failures["savePlanDrafts"] =
        std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    DraftEditorView *view = editor(planDraft(1, QStringLiteral("before")));
    view->titleField()->end(false);
    QTest::keyClicks(view->titleField(), QStringLiteral(" and after"));
    view->save();
    settle();
    EXPECT_EQ(closed, 0) << "the sheet stays open";
    EXPECT_EQ(view->draft().title, QStringLiteral("before and after"));
    EXPECT_EQ(model().planDrafts().first().title, QStringLiteral("before and after")) << "not replaced by a reload";
    EXPECT_TRUE(model().planUnsaved());
    ASSERT_TRUE(view->problem());
    EXPECT_EQ(*view->problem(), QStringLiteral("Plan changes are kept here but not saved yet."));
    EXPECT_TRUE(view->problemText()->isVisibleTo(view));
    // The plan says so too, for as long as it is not saved.
    const auto unsavedPill = [&] {
        settle();
        auto *pill = plan()->content() ? plan()->content()->findChild<StatusPill *>(QStringLiteral("planUnsaved")) : nullptr;
        return pill && pill->isVisibleTo(plan()) ? pill->text() : QString();
    };
    EXPECT_EQ(unsavedPill(), QStringLiteral("Plan changes are kept here but not saved yet."));
    // Saved by the plan's own retry while the sheet stays open: it no longer says otherwise.
    const auto retried = [&] {
        flows.service.failures.clear();
        finish(model().savePlan());
        settle();
    };
    const auto offline = flows.service.failures;
    retried();
    EXPECT_FALSE(view->problem());
    EXPECT_EQ(view->problemText()->text(), QStringLiteral("Saved to the plan."));
    // Failed again; the retry meets the caption changed on another device too:
    // the notice that says so would be under the sheet, so the sheet says it.
    flows.service.failures = offline;
    QTest::keyClicks(view->captionEditor(), QStringLiteral("here"));
    view->save();
    settle();
    PlanDraft phone = flows.service.savedPlans.last().first();
    phone.caption = QStringLiteral("phone");
    flows.service.results["planDrafts"] = QList<PlanDraft>{phone};
    retried();
    EXPECT_EQ(view->problem().value_or(QString()),
              QStringLiteral("Also changed on another device: before and after. Where both changed the same thing, your "
                             "change here was kept and the other device's was replaced."));
    flows.service.results["planDrafts"] = flows.service.savedPlans.last();
    flows.service.failures = offline;

    // A failed delete keeps it open too; saved after it, the draft goes back to
    // its place; once the service answers, the sheet closes.
    model().setPlanDrafts({planDraft(0, QStringLiteral("zero")), model().planDrafts().first(),
                           planDraft(2, QStringLiteral("two"))});
    view->confirmDelete();
    settle();
    EXPECT_EQ(closed, 0);
    ASSERT_EQ(model().planDrafts().size(), 2) << "the delete stays, unsaved";
    flows.service.failures.clear();
    view->save();
    settle();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(model().planUnsaved());
    EXPECT_EQ(unsavedPill(), QString());
    const QList<PlanDraft> saved = flows.service.savedPlans.last();
    ASSERT_EQ(saved.size(), 3);
    EXPECT_EQ(saved.at(1).id, 1) << "back in its place";
    EXPECT_EQ(saved.at(1).title, QStringLiteral("before and after"));

    // The service ends the session while the sheet is open in the workspace:
    // the plan screen goes with the signed-in branch, the edits stay the
    // account's. Another account never sees them; the same one finds the sheet
    // as it left it.
    closePlan();
    delete view;
    flows.service.results["planDrafts"] = saved;
    flows.service.results["currentUser"] = user(QStringLiteral("a@example.com"));
    finish(model().finishSignIn());
    model().setSurface(Surface::plan);
    Host workspace;
    auto *root = workspace.show(new WorkspaceRootView(model()));
    const auto planScreen = [&] {
        auto *split = qobject_cast<WorkspaceSplitView *>(root->branch());
        return split ? qobject_cast<PlanView *>(split->detail()) : nullptr;
    };
    ASSERT_NE(planScreen(), nullptr);
    planScreen()->editDraft(saved.at(1));
    DraftEditorView *left = planScreen()->editor();
    ASSERT_NE(left, nullptr);
    left->titleField()->end(false);
    QTest::keyClicks(left->titleField(), QStringLiteral(", then more"));
    left->captionEditor()->setPlainText(QStringLiteral("Typed, never saved"));
    left->formatPicker()->chosen(0);
    left->plannedBox()->click();
    const KeptDraftEdit typed = left->keptEdit(Surface::plan);
    finish(model().expireSession());
    settle();
    ASSERT_NE(qobject_cast<SignInView *>(root->branch()), nullptr);
    EXPECT_TRUE(workspace.window->findChildren<DraftEditorView *>().isEmpty());
    DraftEditStore kept(RecordStore::of(flows.h.store));
    KeptDraftEdit reopening = typed;
    reopening.reopen = true;
    EXPECT_EQ(kept.load(QStringLiteral("a@example.com")), QList{reopening}) << "kept on disk for a quit before the sign-in";

    flows.service.results["currentUser"] = user(QStringLiteral("b@example.com"));
    finish(model().finishSignIn());
    settle();
    EXPECT_TRUE(workspace.window->findChildren<DraftEditorView *>().isEmpty()) << "not another account's";
    finish(model().signOut());
    settle();

    flows.service.results["currentUser"] = user(QStringLiteral("A@example.com"));
    finish(model().finishSignIn());
    settle();
    ASSERT_NE(planScreen(), nullptr);
    DraftEditorView *back = planScreen()->editor();
    ASSERT_NE(back, nullptr) << "the sheet is open again";
    EXPECT_EQ(back->keptEdit(Surface::plan), typed);
    EXPECT_EQ(back->titleField()->text(), QStringLiteral("before and after, then more"));
    EXPECT_EQ(back->captionEditor()->toPlainText(), QStringLiteral("Typed, never saved"));
    EXPECT_EQ(back->format(), PublishFormat::reel);
    EXPECT_TRUE(back->plannedBox()->isChecked());
    EXPECT_EQ(back->datePicker()->dateTime(), typed.date.toLocalTime());
    EXPECT_EQ(back->headerText()->text(), QStringLiteral("Edit draft"));
    EXPECT_EQ(kept.load(QStringLiteral("a@example.com")), QList{typed}) << "handed back once, and still kept";
    const PlanDraft written = back->savedCopy();
    back->save();
    settle();
    EXPECT_EQ(flows.service.savedPlans.last().at(1), written);
    EXPECT_EQ(planScreen()->editor(), nullptr);
    EXPECT_TRUE(kept.load(QStringLiteral("a@example.com")).isEmpty()) << "saved: nothing left to offer";

    // What is typed is kept as it is typed: a sheet that goes without being
    // closed (the application killed) leaves it, and it is offered again when
    // that draft's editor opens, not another's; Escape drops it.
    planScreen()->editDraft(written);
    planScreen()->editor()->captionEditor()->setPlainText(QStringLiteral("Typed before a kill"));
    const KeptDraftEdit typing = planScreen()->editor()->keptEdit(Surface::plan);
    EXPECT_EQ(kept.load(QStringLiteral("a@example.com")), QList{typing});
    model().setSurface(Surface::summary);
    settle();
    model().setSurface(Surface::plan);
    settle();
    ASSERT_NE(planScreen(), nullptr);
    EXPECT_EQ(planScreen()->editor(), nullptr);
    planScreen()->editDraft(model().planDrafts().at(0));
    EXPECT_EQ(planScreen()->editor()->captionEditor()->toPlainText(), model().planDrafts().at(0).caption);
    planScreen()->editor()->cancel();
    planScreen()->editDraft(written);
    EXPECT_EQ(planScreen()->editor()->captionEditor()->toPlainText(), QStringLiteral("Typed before a kill"));
    EXPECT_EQ(planScreen()->editor()->keptEdit(Surface::plan), typing);
    key(planScreen()->editor()->titleField(), Qt::Key_Escape);
    EXPECT_TRUE(kept.load(QStringLiteral("a@example.com")).isEmpty());
    // Typed for one of two drafts under one id: offered to that draft wherever
    // the plan holds it since (the service's list brought another under the id
    // before it), never to the one now at its place, which leaves it kept.
    const QList<PlanDraft> plain = model().planDrafts();
    const auto serviceHeld = flows.service.results["planDrafts"];
    const PlanDraft twin = planDraft(7, QStringLiteral("twin"));
    model().setPlanDrafts(plain + QList{twin});
    planScreen()->editDraft(twin, 0);
    planScreen()->editor()->captionEditor()->setPlainText(QStringLiteral("Typed for the twin"));
    model().setSurface(Surface::summary);
    settle();
    const PlanDraft added = planDraft(7, QStringLiteral("added there"));
    flows.service.results["planDrafts"] = plain + QList{added, twin};
    model().setSurface(Surface::plan);
    settle();
    ASSERT_EQ(model().planDrafts(), plain + QList({added, twin}));
    planScreen()->editDraft(added, 0);
    EXPECT_EQ(planScreen()->editor()->captionEditor()->toPlainText(), QString());
    planScreen()->editor()->cancel();
    planScreen()->editDraft(twin, 1);
    EXPECT_EQ(planScreen()->editor()->captionEditor()->toPlainText(), QStringLiteral("Typed for the twin"));
    planScreen()->editor()->save();
    settle();
    EXPECT_EQ(model().planDrafts().at(plain.size()), added);
    EXPECT_EQ(model().planDrafts().at(plain.size() + 1).caption, QStringLiteral("Typed for the twin"));
    EXPECT_TRUE(kept.load(QStringLiteral("a@example.com")).isEmpty()) << "saved: nothing left to offer";
    // Two drafts alike in every field under one id: each keeps its own typing.
    const PlanDraft same = planDraft(8, QStringLiteral("same"));
    flows.service.results["planDrafts"] = plain + QList{same, same};
    model().setPlanDrafts(plain + QList{same, same});
    for (const int place : {0, 1}) {
        planScreen()->editDraft(same, place);
        planScreen()->editor()->captionEditor()->setPlainText(QStringLiteral("Typed for twin %1").arg(place));
        model().setSurface(Surface::summary);
        settle();
        model().setSurface(Surface::plan);
        settle();
    }
    for (const int place : {0, 1}) {
        planScreen()->editDraft(same, place);
        EXPECT_EQ(planScreen()->editor()->captionEditor()->toPlainText(),
                  QStringLiteral("Typed for twin %1").arg(place));
        planScreen()->editor()->cancel();
    }
    model().setPlanDrafts(plain);
    flows.service.results["planDrafts"] = serviceHeld;
    // Sheets left open for drafts since deleted elsewhere do not pile up. Ids
    // beyond a double's exact range, and members other clients wrote, are kept whole.
    const qint64 far = 1844674407370955161;
    for (qint64 id = far; id <= far + DraftEditStore::kKept; ++id) {
        KeptDraftEdit left = typing;
        left.draft.id = left.shown.id = id;
        left.draft.others = left.shown.others = QJsonObject{{"notes", "from the web"}};
        kept.save(QStringLiteral("a@example.com"), left);
    }
    ASSERT_EQ(kept.load(QStringLiteral("a@example.com")).size(), DraftEditStore::kKept);
    EXPECT_EQ(kept.load(QStringLiteral("a@example.com")).first().draft.id, far + 1) << "the oldest goes";
    EXPECT_EQ(kept.load(QStringLiteral("a@example.com")).last().shown.others, QJsonObject({{"notes", "from the web"}}));
    kept.remove(QStringLiteral("a@example.com"));
    // A new draft whose save went out is the plan's: a sheet gone after it
    // leaves its edit to that draft, never to the next new one, whose save
    // would then replace it.
    flows.service.failures["savePlanDrafts"] =
        std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    planScreen()->createDraft();
    QTest::keyClicks(planScreen()->editor()->titleField(), QStringLiteral("Sent, then killed"));
    planScreen()->editor()->save();
    settle();
    ASSERT_NE(planScreen()->editor(), nullptr) << "not saved yet: the sheet stays";
    ASSERT_EQ(model().planDrafts().last().title, QStringLiteral("Sent, then killed"));
    model().setSurface(Surface::summary);
    settle();
    model().setSurface(Surface::plan);
    settle();
    flows.service.failures.clear();
    planScreen()->createDraft();
    EXPECT_EQ(planScreen()->editor()->titleField()->text(), QString());
    planScreen()->editor()->cancel();
    planScreen()->editDraft(model().planDrafts().last(), 0);
    EXPECT_EQ(planScreen()->editor()->headerText()->text(), QStringLiteral("Edit draft"));
    EXPECT_EQ(planScreen()->editor()->keptEdit(Surface::plan), kept.load(QStringLiteral("a@example.com")).value(0));
    planScreen()->editor()->cancel();

    // A sheet left open on the grid comes back on the grid, there only, even
    // while the branch the expiry closed is still on its way out.
    QList<PlanDraft> previewed = model().planDrafts();
    previewed[2].preview = QUrl(QStringLiteral("https://cdn.example/two.jpg"));
    model().setPlanDrafts(previewed);
    flows.service.results["planDrafts"] = previewed;
    model().setSurface(Surface::grid);
    settle();
    auto *gridScreen = qobject_cast<GridView *>(qobject_cast<WorkspaceSplitView *>(root->branch())->detail());
    ASSERT_NE(gridScreen, nullptr);
    gridScreen->editDraft(model().planDrafts().at(2));
    gridScreen->editor()->hiddenBox()->click();
    finish(model().expireSession());
    model().setSurface(Surface::plan);
    finish(model().finishSignIn());
    settle();
    EXPECT_EQ(model().surface(), Surface::grid);
    gridScreen = qobject_cast<GridView *>(qobject_cast<WorkspaceSplitView *>(root->branch())->detail());
    ASSERT_NE(gridScreen, nullptr);
    ASSERT_NE(gridScreen->editor(), nullptr);
    EXPECT_EQ(gridScreen->editor()->draft().id, 2);
    EXPECT_TRUE(gridScreen->editor()->draft().hiddenFromGrid);
    EXPECT_EQ(gridScreen->editor()->draft().preview, previewed.at(2).preview) << "its picture, not the placeholder";
    gridScreen->editor()->cancel();

    // A new draft's sheet comes back as a new draft, with the picture attached in it.
    model().setSurface(Surface::plan);
    settle();
    media->imported = picture();
    planScreen()->createDraft();
    planScreen()->editor()->attachMedia();
    settle();
    const PlanDraft attached = planScreen()->editor()->draft();
    ASSERT_TRUE(attached.mediaId);
    finish(model().expireSession());
    model().setSurface(Surface::grid);
    finish(model().finishSignIn());
    settle();
    EXPECT_EQ(model().surface(), Surface::plan);
    ASSERT_NE(planScreen(), nullptr);
    DraftEditorView *fresh = planScreen()->editor();
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(fresh->isNew());
    EXPECT_EQ(fresh->headerText()->text(), QStringLiteral("New draft"));
    EXPECT_EQ(fresh->deleteButton(), nullptr);
    EXPECT_EQ(fresh->draft(), attached);
    EXPECT_EQ(fresh->attachButton()->text(), QStringLiteral("Replace media"));
    EXPECT_EQ(fresh->previewImage().size(), QSize(2, 3)) << "its picture, not the placeholder";
    fresh->save();
    settle();
    EXPECT_EQ(flows.service.savedPlans.last().last().id, attached.id) << "added to the plan as a new draft";

    // Another account found signed in under an open sheet (the service names
    // another than the one a start could not confirm): the sheet goes, and
    // what it held stays its own account's, never kept for the other.
    planScreen()->editDraft(model().planDrafts().at(0));
    planScreen()->editor()->captionEditor()->setPlainText(QStringLiteral("The first account's words"));
    flows.service.results["currentUser"] = user(QStringLiteral("b@example.com"));
    finish(model().finishSignIn());
    settle();
    if (DraftEditorView *still = planScreen()->editor()) {
        ADD_FAILURE() << "the sheet stays open for the other account";
        still->captionEditor()->setPlainText(QStringLiteral("typed on"));
    }
    EXPECT_TRUE(kept.load(QStringLiteral("b@example.com")).isEmpty());
    ASSERT_EQ(kept.load(QStringLiteral("a@example.com")).size(), 1);
    EXPECT_EQ(kept.load(QStringLiteral("a@example.com")).first().draft.caption, QStringLiteral("The first account's words"));
}

TEST_F(PlannerTest, DeleteAsksAndRemovesThatDraftAlone)
{
    model().setPlanDrafts({planDraft(5, QStringLiteral("a")), planDraft(6), planDraft(5, QStringLiteral("b"))});
    DraftEditorView *view = editor(planDraft(5, QStringLiteral("b")), false, 1);
    click(view->deleteButton());
    auto *dialog = host.window->findChild<ConfirmationDialog *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(model().planDrafts().size(), 3) << "nothing goes before the answer";
    click(dialog->cancelButton());
    EXPECT_EQ(model().planDrafts().size(), 3);
    EXPECT_EQ(closed, 0);
    view->confirmDelete();
    settle();
    ASSERT_EQ(model().planDrafts().size(), 2);
    EXPECT_EQ(model().planDrafts().first().title, QStringLiteral("a")) << "its twin stays";
    EXPECT_EQ(model().planDrafts().last().id, 6);
    EXPECT_EQ(closed, 1);
}

// With its editor open, "Morning light" is deleted on another device. A
// caption saved in it keeps the draft, and the user hears why, whether or not
// the plan was read again under the sheet (such a read does not bring back the
// words of a sheet still open: its Save or Cancel decides); cancelled, it stays
// deleted. Deleted here from its row, the words kept for it go with it.
TEST_F(PlannerTest, ADraftDeletedElsewhereUnderItsOpenEditorIsKeptWhenSavedAndSaid)
{
    const QString account = QStringLiteral("a@example.com");
    flows.service.results["currentUser"] = user(account);
    finish(model().finishSignIn());
    DraftEditStore kept(RecordStore::of(flows.h.store));
    const PlanDraft morning = planDraft(1, QStringLiteral("Morning light")), two = planDraft(2, QStringLiteral("Two"));
    PlanDraft golden = morning;
    golden.caption = QStringLiteral("Golden hour");
    for (const bool readAgain : {false, true}) {
        for (const bool saved : {true, false}) {
            SCOPED_TRACE(testing::Message() << (readAgain ? "read again under the sheet, " : "")
                                            << (saved ? "saved" : "cancelled"));
            setPlan({morning, two});
            model().setNotice(std::nullopt);
            plan()->editDraft(morning, 0);
            ASSERT_NE(plan()->editor(), nullptr);
            plan()->editor()->captionEditor()->setPlainText(QStringLiteral("Golden hour"));
            flows.service.results["planDrafts"] = QList{two};
            if (readAgain) {
                finish(model().loadPlan(), "the read under the sheet");
                EXPECT_EQ(model().planDrafts(), QList{two}) << "not brought back under its open sheet";
            }
            const qsizetype saves = flows.service.savedPlans.size();
            if (saved)
                plan()->editor()->save();
            else
                plan()->editor()->cancel();
            settle();
            EXPECT_EQ(plan()->editor(), nullptr);
            EXPECT_EQ(flows.service.savedPlans.size(), saves + (saved ? 1 : 0));
            const QList<PlanDraft> held = saved ? QList{two, golden} : QList{two};
            EXPECT_EQ(std::any_cast<QList<PlanDraft>>(flows.service.results["planDrafts"]), held);
            EXPECT_EQ(model().notice() ? model().notice()->text : QString(),
                      saved ? QStringLiteral("Deleted on another device but changed here, so it was kept: Morning light.")
                            : QString());
            EXPECT_TRUE(kept.load(account).isEmpty());
        }
    }
    // Words kept for "Two" (its sheet left open when the application ended):
    // "Delete draft" on its row takes them along, so no later read takes the
    // deletion for another device's.
    setPlan({morning, two});
    plan()->editDraft(two, 0);
    plan()->editor()->captionEditor()->setPlainText(QStringLiteral("Typed before a kill"));
    ASSERT_EQ(kept.load(account).size(), 1);
    closePlan();
    action(plan()->menuFor(rowOf(QStringLiteral("draft-2"))->entry(), plan()), QStringLiteral("Delete draft"))->trigger();
    settle();
    EXPECT_EQ(model().planDrafts(), QList{morning});
    EXPECT_TRUE(kept.load(account).isEmpty());
}

TEST_F(PlannerTest, PreparePublicationAndCancelLeaveThePlanAlone)
{
    model().setPlanDrafts({planDraft(1, QStringLiteral("kept"))});
    DraftEditorView *view = editor(planDraft(1, QStringLiteral("kept")));
    view->titleField()->end(false);
    QTest::keyClicks(view->titleField(), QStringLiteral("!"));
    view->captionEditor()->setPlainText(QStringLiteral(" c "));
    view->formatPicker()->chosen(1);
    view->preparePublication();
    EXPECT_EQ(model().composerPrefill(),
              (ComposerPrefill{PublishFormat::story, QStringLiteral("kept!"), QStringLiteral(" c "), QString()}));
    EXPECT_EQ(model().planDrafts().first().title, QStringLiteral("kept"));
    EXPECT_EQ(closed, 1);
    view->cancel();
    EXPECT_EQ(closed, 2);
    EXPECT_TRUE(flows.service.savedPlans.isEmpty());
}

// A new draft whose save failed, saved by the plan's own retry with its sheet
// open: the sheet says so and edits the saved draft; a delete saved so is done.
TEST_F(PlannerTest, ASheetSavedByThePlansRetrySaysSoAndEditsTheSavedDraft)
{
    flows.service.results["currentUser"] = user(QStringLiteral("a@example.com"));
    finish(model().finishSignIn());
    const auto offline = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    flows.service.failures["savePlanDrafts"] = offline;
    DraftEditorView *view = editor(planDraft(4, QStringLiteral("Morning light")), true);
    view->save();
    settle();
    ASSERT_EQ(closed, 0);
    EXPECT_EQ(view->headerText()->text(), QStringLiteral("New draft"));
    EXPECT_EQ(view->cancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(view->problemText()->text(), QStringLiteral("Plan changes are kept here but not saved yet."));
    EXPECT_EQ(view->deleteButton(), nullptr);

    flows.service.failures.clear();
    finish(model().savePlan());
    settle();
    EXPECT_EQ(flows.service.savedPlans.last().size(), 1);
    EXPECT_EQ(view->headerText()->text(), QStringLiteral("Edit draft"));
    EXPECT_EQ(view->problemText()->text(), QStringLiteral("Saved to the plan."));
    EXPECT_TRUE(view->problemText()->isVisibleTo(view));
    EXPECT_EQ(view->cancelButton()->text(), QStringLiteral("Close"));
    ASSERT_NE(view->deleteButton(), nullptr);
    EXPECT_TRUE(view->deleteButton()->isVisibleTo(view));
    EXPECT_EQ(closed, 0) << "the user may go on with it";
    // Changed again: no longer what is saved, and closing drops the change.
    QTest::keyClicks(view->titleField(), QStringLiteral(" again"));
    EXPECT_EQ(view->cancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_FALSE(view->problemText()->isVisibleTo(view));
    EXPECT_EQ(view->headerText()->text(), QStringLiteral("Edit draft"));

    // Its delete failed and the retry saved it: done, the sheet goes.
    flows.service.failures["savePlanDrafts"] = offline;
    view->confirmDelete();
    settle();
    EXPECT_EQ(closed, 0);
    flows.service.failures.clear();
    finish(model().savePlan());
    settle();
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(flows.service.savedPlans.last().isEmpty());
}

TEST_F(PlannerTest, AttachUploadsAtOnceAndKeepsFormerMediaOnEveryFailure)
{
    PlanDraft held = planDraft(1, QStringLiteral("with a video"), {}, QStringLiteral("post"));
    held.mediaId = QStringLiteral("old-video");
    held.posterMediaId = QStringLiteral("old-poster");
    held.preview = QUrl(QStringLiteral("https://cdn.example/old.jpg"));
    DraftEditorView *view = editor(held);
    EXPECT_EQ(view->attachButton()->text(), QStringLiteral("Replace media"));

    // Cancelling the picker changes nothing.
    media->picked = std::nullopt;
    view->attachMedia();
    EXPECT_FALSE(view->attaching());
    EXPECT_EQ(media->imports, 0);
    media->picked = QStringLiteral("/tmp/cat.xyz");

    // The importer's own message, naming the file.
    media->failure = std::make_exception_ptr(MediaImportError::unsupportedType(QStringLiteral("cat.xyz")));
    view->attachMedia();
    settle();
    EXPECT_EQ(view->problem(), QStringLiteral("cat.xyz is not a JPEG, PNG, HEIC, MP4 or MOV file."));
    EXPECT_EQ(view->draft().mediaId, QStringLiteral("old-video"));
    EXPECT_FALSE(view->attaching());
    media->failure = nullptr;

    // The upload fails.
    media->imported = picture();
    flows.service.failures["uploadInstagramMedia"] =
        std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    view->attachMedia();
    settle();
    EXPECT_EQ(view->problem(), QStringLiteral("No connection to sorvane.app right now."));
    EXPECT_EQ(view->draft().mediaId, QStringLiteral("old-video"));
    EXPECT_EQ(view->draft().posterMediaId, QStringLiteral("old-poster"));
    flows.service.failures.clear();

    // A video whose poster upload fails: the new media id is dropped.
    media->imported = video();
    flows.service.queued["uploadInstagramMedia"].push_back(Reply::of(QStringLiteral("new-video")));
    flows.service.queued["uploadInstagramMedia"].push_back(
        Reply::error(NetworkError(NetworkError::Code::cannotConnectToHost)));
    view->attachMedia();
    settle();
    EXPECT_EQ(view->draft().mediaId, QStringLiteral("old-video"));
    EXPECT_EQ(view->draft().posterMediaId, QStringLiteral("old-poster"));
    EXPECT_EQ(view->format(), PublishFormat::feed);
    ASSERT_TRUE(view->problem());

    // While an attach runs, saving waits; cancel, delete and prepare stay usable.
    flows.service.held << QStringLiteral("uploadInstagramMedia");
    media->imported = picture();
    view->attachMedia();
    settle();
    EXPECT_TRUE(view->attaching());
    EXPECT_FALSE(view->problem()) << "a new attach clears the former problem";
    EXPECT_FALSE(view->saveButton()->isEnabled());
    EXPECT_FALSE(view->attachButton()->isEnabled());
    EXPECT_TRUE(view->progress()->isVisibleTo(view));
    EXPECT_TRUE(view->cancelButton()->isEnabled() && view->deleteButton()->isEnabled() &&
                view->prepareButton()->isEnabled());
    flows.service.release("uploadInstagramMedia", Reply::of(QStringLiteral("new-picture")));
    settle();
    EXPECT_FALSE(view->attaching());
    EXPECT_TRUE(view->saveButton()->isEnabled());
    EXPECT_EQ(view->draft().mediaId, QStringLiteral("new-picture"));
    EXPECT_EQ(view->draft().posterMediaId, std::nullopt) << "a picture clears the former poster";
    EXPECT_EQ(view->draft().preview, held.preview) << "the service's preview stays until the new media is saved";
    EXPECT_EQ(view->previewImage().size(), QSize(2, 3)) << "the new thumbnail shows in front of it";
    EXPECT_EQ(view->format(), PublishFormat::feed);
    flows.service.held.clear();

    // A video on a post switches the format to reel; a story stays.
    media->imported = video();
    flows.service.queued["uploadInstagramMedia"].push_back(Reply::of(QStringLiteral("v2")));
    flows.service.queued["uploadInstagramMedia"].push_back(Reply::of(QStringLiteral("p2")));
    view->attachMedia();
    settle();
    EXPECT_EQ(view->draft().mediaId, QStringLiteral("v2"));
    EXPECT_EQ(view->draft().posterMediaId, QStringLiteral("p2"));
    EXPECT_EQ(view->format(), PublishFormat::reel);
    view->formatPicker()->chosen(1);
    media->imported = video(false);
    flows.service.queued["uploadInstagramMedia"].push_back(Reply::of(QStringLiteral("v3")));
    view->attachMedia();
    settle();
    EXPECT_EQ(view->format(), PublishFormat::story);
    EXPECT_EQ(view->draft().posterMediaId, std::nullopt) << "a video without a poster frame";
    EXPECT_EQ(view->draft().preview, held.preview);
    EXPECT_TRUE(view->attachedThumbnail().isNull()) << "no thumbnail: the preview's picture, or the placeholder";
    EXPECT_TRUE(flows.service.savedPlans.isEmpty()) << "an attach writes nothing to the plan";
    view->save();
    settle();
    EXPECT_EQ(model().planDrafts().first().mediaId, QStringLiteral("v3"));
    EXPECT_EQ(model().planDrafts().first().preview, held.preview) << "saved as the sheet holds it";

    // Remove, then save: no media ids and no preview.
    model().setPlanDrafts({held});
    view->removeMedia();
    EXPECT_EQ(view->attachButton()->text(), QStringLiteral("Attach media"));
    view->save();
    settle();
    const PlanDraft stored = model().planDrafts().first();
    EXPECT_EQ(stored.mediaId, std::nullopt);
    EXPECT_EQ(stored.posterMediaId, std::nullopt);
    EXPECT_EQ(stored.preview, std::nullopt);
    EXPECT_EQ(model().session(), SessionState::signedIn) << "no connection is not the session's end";

    // The service refused the session's renewal: the user is signed out as by
    // any other call, not left signed in reading "expired" in the sheet.
    media->imported = picture();
    flows.service.failures["uploadInstagramMedia"] = std::make_exception_ptr(APIError::sessionExpired());
    view->attachMedia();
    settle();
    EXPECT_EQ(view->problem(), QStringLiteral("Your session has expired. Sign in again."));
    EXPECT_EQ(model().session(), SessionState::signedOut);
    ASSERT_TRUE(model().notice());
    EXPECT_EQ(model().notice()->text, QStringLiteral("Your session has expired. Sign in again."));
    EXPECT_EQ(flows.service.count("logout"), 1);
}

// The default window on a 1280 x 800 screen is 636 high: the sheet scrolls
// rather than squeezing the caption, its buttons stay in view under the fields,
// and an attach leaves the keyboard on its button.
TEST_F(PlannerTest, OnAShortWindowTheEditorScrollsAndTheKeyboardStaysOnAttach)
{
    // Where the fields and the buttons under them fit, nothing scrolls.
    host.window->resize(1180, 900);
    setPlan({planDraft(1, QStringLiteral("short"))});
    plan()->editDraft(model().planDrafts().first());
    settle();
    DraftEditorView *view = plan()->editor();
    QWidget *shown = view->parentWidget();
    EXPECT_LE(view->height(), shown->height()) << "the fields fit";
    host.window->resize(1180, 636);
    settle();
    EXPECT_EQ(view->captionBox()->height(), 132);
    ASSERT_GT(view->height(), shown->height()) << "the fields scroll";
    for (const QWidget *button : {view->deleteButton(), view->prepareButton(), view->saveButton()})
        EXPECT_TRUE(wholeInView(button)) << qPrintable(static_cast<const QAbstractButton *>(button)->text());
    // A save that fails says so beside its button, with the fields scrolled back to the top.
    flows.service.failures["savePlanDrafts"] =
        std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    view->titleField()->setFocus();
    click(view->saveButton());
    ASSERT_TRUE(view->problem());
    EXPECT_TRUE(wholeInView(view->problemText())) << "the problem of a failed save is in view";
    EXPECT_TRUE(wholeInView(view->saveButton()));
    flows.service.failures.clear();
    media->failure = std::make_exception_ptr(MediaImportError::unsupportedType(QStringLiteral("cat.xyz")));
    click(view->attachButton());
    EXPECT_EQ(media->pickerTitle, QStringLiteral("Attach media"));
    ASSERT_TRUE(view->problemText()->isVisible());
    EXPECT_EQ(view->captionBox()->height(), 132) << "with a problem line";
    EXPECT_EQ(host.window->focusWidget(), view->attachButton()) << "after a failed attach";

    media->failure = nullptr;
    media->imported = picture();
    flows.service.held << QStringLiteral("uploadInstagramMedia");
    key(view->attachButton(), Qt::Key_Space);
    EXPECT_NE(host.window->focusWidget(), view->cancelButton()) << "a key pressed meanwhile would close the sheet";
    flows.service.release("uploadInstagramMedia", Reply::of(QStringLiteral("new-picture")));
    settle();
    EXPECT_EQ(host.window->focusWidget(), view->attachButton()) << "after an attach";
    for (int i = 0; i < 20 && host.window->focusWidget() != view->hiddenBox(); ++i)
        key(host.window->focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(wholeInView(view->hiddenBox())) << "Tab scrolls the last field into view";
    key(host.window->focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(host.window->focusWidget(), view->deleteButton()) << "the buttons come after the fields";
    EXPECT_TRUE(wholeInView(view->saveButton()));

    // The scroll bar stands on the sheet's own colour, not on a band of the card's.
    QWidget *card = shown->parentWidget()->parentWidget();
    const QRect inside = card->contentsRect();
    EXPECT_EQ(QColor(card->grab().toImage().pixel(inside.right() - 9, inside.center().y())),
              PaletteColors::color(Color::background));
}

TEST_F(PlannerTest, AttachThroughTheMediaImporter)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("window.png"));
    QImage image(1200, 1600, QImage::Format_RGB32);
    image.fill(QColor(200, 120, 60));
    ASSERT_TRUE(image.save(path));
    auto importer = std::make_shared<ImporterMediaSource>();
    importer->picker = [path](QWidget *) { return std::optional<QString>(path); };
    DraftMediaSource::setSystem(importer);
    flows.service.results["uploadInstagramMedia"] = QStringLiteral("uploaded-1");

    PlanDraft held = planDraft(1, QStringLiteral("t"), {}, QStringLiteral("story"));
    held.preview = QUrl(QStringLiteral("https://cdn.example/old.jpg"));
    DraftEditorView *view = editor(held);
    view->attachMedia();
    EXPECT_TRUE(view->attaching());
    ASSERT_TRUE(zktest::spinUntil([&] { return !view->attaching(); }));
    EXPECT_EQ(view->problem(), std::nullopt);
    EXPECT_EQ(view->draft().mediaId, QStringLiteral("uploaded-1"));
    EXPECT_EQ(view->draft().posterMediaId, std::nullopt);
    EXPECT_EQ(view->draft().preview, held.preview);
    EXPECT_EQ(view->format(), PublishFormat::story);
    EXPECT_EQ(qMax(view->previewImage().width(), view->previewImage().height()), 480) << "the importer's thumbnail";

    // A file that is no picture: the importer's words, naming it.
    const QString junk = folder.filePath(QStringLiteral("notes.png"));
    QFile file(junk);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a picture at all");
    file.close();
    importer->picker = [junk](QWidget *) { return std::optional<QString>(junk); };
    view->attachMedia();
    ASSERT_TRUE(zktest::spinUntil([&] { return !view->attaching(); }));
    ASSERT_TRUE(view->problem());
    EXPECT_TRUE(view->problem()->startsWith(QStringLiteral("notes.png "))) << view->problem()->toStdString();
    EXPECT_EQ(view->draft().mediaId, QStringLiteral("uploaded-1"));
}

// ---- The grid

TEST_F(PlannerTest, GridEmptyStateAndFeedNotes)
{
    PlanDraft hidden = planDraft(1);
    hidden.hiddenFromGrid = true;
    model().setPlanDrafts({hidden});
    settle();
    auto *card = grid()->findChild<EmptyStateCard *>();
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->titleText()->text(), QStringLiteral("Connect Instagram to see the grid"));
    EXPECT_TRUE(grid()->hiddenTitles().isEmpty()) << "hidden drafts are not listed in this form";
    EXPECT_EQ(grid()->shownFeedNote(), std::nullopt);
    click(card->actionButton());
    EXPECT_EQ(model().surface(), Surface::profile);

    struct Case {
        FeedStatus status;
        bool noItems;
        std::optional<QString> note;
    };
    const Case cases[] = {
        {FeedStatus::idle(), true, std::nullopt},
        {FeedStatus::loading(), true, std::nullopt},
        {FeedStatus::synced(), true, QStringLiteral("No published posts were returned for this account yet.")},
        {FeedStatus::synced(), false, std::nullopt},
        {FeedStatus::unavailable(QStringLiteral("not_configured")), false,
         QStringLiteral("The published feed is not available right now (not_configured). Drafts are still here.")},
        {FeedStatus::disconnected(), true, QStringLiteral("Instagram is not connected, so only drafts are shown.")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(GridView::feedNote(c.status, c.noItems), c.note);

    // Not connected, with a visible draft: the grid of drafts and the note.
    model().setPlanDrafts({planDraft(2, QStringLiteral("visible")), hidden});
    model().setFeedStatus(FeedStatus::disconnected());
    settle();
    EXPECT_EQ(grid()->findChild<EmptyStateCard *>(), nullptr);
    EXPECT_EQ(grid()->tiles().size(), 1);
    EXPECT_EQ(grid()->shownFeedNote(), QStringLiteral("Instagram is not connected, so only drafts are shown."));
    EXPECT_EQ(grid()->hiddenTitles(), QStringList{QStringLiteral("Untitled draft")});
}

// A post with no caption is called by its kind and the day it went out in the
// user's zone: just after midnight and just before the next one, on the days
// the clocks change (the suite runs under Berlin and New York too).
TEST_F(PlannerTest, APostWithoutACaptionIsCalledByItsKindAndItsLocalDay)
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    ZephylWire::InstagramFeedItem post;
    post.kind = ZephylWire::InstagramFeedItem::Kind::reel;
    const std::pair<QDate, const char *> days[] = {{QDate(2026, 3, 8), "Reel \u00B7 Mar 8, 2026"},
                                                   {QDate(2026, 3, 29), "Reel \u00B7 Mar 29, 2026"},
                                                   {QDate(2026, 10, 25), "Reel \u00B7 Oct 25, 2026"},
                                                   {QDate(2026, 11, 1), "Reel \u00B7 Nov 1, 2026"}};
    for (const auto &[day, name] : days) {
        for (const QTime at : {QTime(0, 30), QTime(23, 30)}) {
            post.postedAt = utc(QDateTime(day, at, zone));
            EXPECT_EQ(FeedTile::spokenName(post), QString::fromUtf8(name)) << post.postedAt->toStdString();
        }
    }
    post.postedAt = QStringLiteral("yesterday");
    EXPECT_EQ(FeedTile::spokenName(post), QStringLiteral("Reel"));
}

TEST_F(PlannerTest, GridOrderMovesHidingAndPaging)
{
    model().setInstagram(connectedProfile());
    ZephylWire::InstagramFeedItem linked;
    linked.id = QStringLiteral("f1");
    linked.kind = ZephylWire::InstagramFeedItem::Kind::reel;
    linked.platformURL = QUrl(QStringLiteral("https://www.instagram.com/p/f1/"));
    ZephylWire::InstagramFeedItem bare;
    bare.id = QStringLiteral("f2");
    bare.kind = ZephylWire::InstagramFeedItem::Kind::carousel;
    model().setFeedItems({linked, bare});
    model().setFeedStatus(FeedStatus::synced());
    model().setFeedHasMore(true);
    PlanDraft a = planDraft(1, QStringLiteral("a")), b = planDraft(2, QStringLiteral("b")), c = planDraft(3, QStringLiteral("c"));
    a.gridSlot = 0, b.gridSlot = 1, c.gridSlot = 2;
    model().setPlanDrafts({c, a, b});
    settle();
    EXPECT_EQ(flows.service.count("instagramFeed"), 0) << "posts already loaded are not loaded again";

    auto order = [&] {
        QStringList out;
        for (GridTile *tile : grid()->tiles()) {
            if (auto *d = qobject_cast<DraftTile *>(tile))
                out << d->draft().title;
            else if (auto *f = qobject_cast<FeedTile *>(tile))
                out << f->item().id;
        }
        return out;
    };
    EXPECT_EQ(order(), (QStringList{"a", "b", "c", "f1", "f2"})) << "drafts first, by slot, then the feed";
    EXPECT_EQ(FeedTile::badgeSymbol(linked.kind), QStringLiteral("play.fill"));
    EXPECT_EQ(FeedTile::badgeSymbol(bare.kind), QStringLiteral("square.on.square"));
    EXPECT_EQ(FeedTile::badgeSymbol(ZephylWire::InstagramFeedItem::Kind::feed), std::nullopt);

    // Move the second later; the first earlier and the last later change nothing.
    QMenu *menu = grid()->menuFor(b, grid());
    EXPECT_EQ(actionTexts(menu), (QStringList{"Move earlier", "Move later", "Hide from grid", "-", "Edit draft",
                                              "Prepare publication"}));
    action(menu, QStringLiteral("Move later"))->trigger();
    settle();
    EXPECT_EQ(order(), (QStringList{"a", "c", "b", "f1", "f2"}));
    const int saves = int(flows.service.savedPlans.size());
    action(grid()->menuFor(a, grid()), QStringLiteral("Move earlier"))->trigger();
    action(grid()->menuFor(b, grid()), QStringLiteral("Move later"))->trigger();
    settle();
    EXPECT_EQ(int(flows.service.savedPlans.size()), saves);

    // Hide and show again: back at its kept slot.
    action(grid()->menuFor(c, grid()), QStringLiteral("Hide from grid"))->trigger();
    settle();
    EXPECT_EQ(order(), (QStringList{"a", "b", "f1", "f2"}));
    EXPECT_EQ(grid()->hiddenTitles(), QStringList{QStringLiteral("c")});
    click(grid()->button(QStringLiteral("Show")));
    EXPECT_EQ(order(), (QStringList{"a", "c", "b", "f1", "f2"}));
    EXPECT_TRUE(grid()->hiddenTitles().isEmpty());
    // Shown from the keyboard, the keyboard keeps its place in the list built
    // anew: on the next draft's "Show", not on the first one.
    for (const PlanDraft *d : {&a, &b, &c})
        action(grid()->menuFor(*d, grid()), QStringLiteral("Hide from grid"))->trigger();
    settle();
    const auto shows = [&] {
        QList<QAbstractButton *> out;
        for (QAbstractButton *button : grid()->content()->findChildren<QAbstractButton *>())
            if (button->text() == QStringLiteral("Show"))
                out << button;
        return out;
    };
    ASSERT_EQ(shows().size(), 3);
    const auto titleBy = [](QWidget *button) {
        return button ? button->parentWidget()->findChild<TextBlock *>(QStringLiteral("hiddenTitle"))->text() : QString();
    };
    const QStringList listed = grid()->hiddenTitles();
    ASSERT_EQ(titleBy(shows().at(1)), listed.at(1));
    shows().at(1)->setFocus(Qt::TabFocusReason);
    key(shows().at(1), Qt::Key_Space);
    settle();
    EXPECT_EQ(grid()->hiddenTitles(), (QStringList{listed.at(0), listed.at(2)}));
    EXPECT_EQ(titleBy(QApplication::focusWidget()), listed.at(2));
    click(shows().at(1));
    click(shows().at(0));
    EXPECT_EQ(order(), (QStringList{"a", "c", "b", "f1", "f2"}));

    // Clicks: a draft opens the editor; a post opens its Instagram address, or nothing.
    QList<GridTile *> tiles = grid()->tiles();
    QTest::mouseClick(tiles.at(3), Qt::LeftButton);
    QTest::mouseClick(tiles.at(4), Qt::LeftButton);
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.instagram.com/p/f1/"))});
    QTest::mouseClick(tiles.at(0), Qt::LeftButton);
    settle();
    ASSERT_NE(grid()->editor(), nullptr);
    EXPECT_EQ(grid()->editor()->draft().title, QStringLiteral("a"));
    EXPECT_FALSE(grid()->editor()->isNew());
    grid()->editor()->cancel();
    settle();

    // Two drafts under one id: each tile, menu and "Show" acts on its own draft.
    PlanDraft twin = planDraft(1, QStringLiteral("a twin"));
    model().setPlanDrafts({a, b, twin});
    settle();
    ASSERT_EQ(order(), (QStringList{"a", "b", "a twin", "f1", "f2"}));
    QTest::mouseClick(grid()->tiles().at(2), Qt::LeftButton);
    settle();
    ASSERT_NE(grid()->editor(), nullptr);
    EXPECT_EQ(grid()->editor()->place(), 1);
    grid()->editor()->hiddenBox()->click();
    grid()->editor()->save();
    settle();
    EXPECT_EQ(grid()->hiddenTitles(), QStringList{QStringLiteral("a twin")});
    EXPECT_EQ(order(), (QStringList{"a", "b", "f1", "f2"}));
    click(grid()->button(QStringLiteral("Show")));
    EXPECT_EQ(order(), (QStringList{"a", "b", "a twin", "f1", "f2"}));
    action(grid()->menuFor(twin, grid(), 1), QStringLiteral("Move earlier"))->trigger();
    settle();
    EXPECT_EQ(order(), (QStringList{"a", "a twin", "b", "f1", "f2"}));
    EXPECT_EQ(model().planDrafts().at(0).title, QStringLiteral("a")) << "its twin stays first in the plan";
    // A menu left open while the plan changes (its twin deleted on the service)
    // acts on its own draft, where it stands when the entry is chosen.
    QMenu *open = grid()->menuFor(model().planDrafts().at(2), grid(), 1);
    model().setPlanDrafts({model().planDrafts().at(1), model().planDrafts().at(2)});
    action(open, QStringLiteral("Hide from grid"))->trigger();
    settle();
    EXPECT_EQ(grid()->hiddenTitles(), QStringList{QStringLiteral("a twin")});

    // Paging and refreshing.
    ZephylWire::InstagramFeedResponse page;
    page.status = ZephylWire::InstagramFeedResponse::Status::synced;
    flows.service.results["instagramFeed"] = page;
    model().feedCursor = QStringLiteral("cursor-1");
    click(grid()->button(QStringLiteral("Show earlier posts")));
    ASSERT_EQ(flows.service.feedCursors.size(), 1);
    EXPECT_EQ(flows.service.feedCursors.last(), QStringLiteral("cursor-1"));
    click(grid()->button(QStringLiteral("Refresh")));
    ASSERT_EQ(flows.service.feedCursors.size(), 2);
    EXPECT_EQ(flows.service.feedCursors.last(), std::nullopt);
    EXPECT_EQ(grid()->button(QStringLiteral("Show earlier posts")), nullptr);
}

TEST_F(PlannerTest, DraftTilesShowTheirPlaceholderWords)
{
    DraftTile reel(planDraft(1, {}, {}, QStringLiteral("reel")));
    EXPECT_EQ(reel.placeholderText(), QStringLiteral("Reel"));
    EXPECT_EQ(reel.placeholderSymbol(), QStringLiteral("play.rectangle"));
    DraftTile post(planDraft(2, {}, {}, QStringLiteral("whatever")));
    EXPECT_EQ(post.placeholderText(), QStringLiteral("Post"));
    EXPECT_EQ(post.placeholderSymbol(), QStringLiteral("photo"));
    DraftTile story(planDraft(3, {}, {}, QStringLiteral("story")));
    EXPECT_EQ(story.placeholderSymbol(), QStringLiteral("circle.dashed"));
    DraftTile carousel(planDraft(4, {}, {}, QStringLiteral("carousel")));
    EXPECT_EQ(carousel.placeholderSymbol(), QStringLiteral("rectangle.stack"));
    EXPECT_EQ(carousel.findChild<StatusPill *>()->text(), QStringLiteral("Draft"));
    EXPECT_EQ(carousel.findChild<StatusPill *>()->tone(), PillTone::accent);
    // A title carrying a right-to-left override is drawn as its letters read,
    // on a tile and on a row, in either direction of the window.
    for (const Qt::LayoutDirection direction : {Qt::LeftToRight, Qt::RightToLeft}) {
        const auto drawn = [&](const QString &title) {
            DraftTile tile(planDraft(6, title));
            tile.setLayoutDirection(direction);
            tile.resize(200, 250);
            PlanEntry entry;
            entry.title = title;
            PlanRow row(entry);
            row.setLayoutDirection(direction);
            row.resize(500, 60);
            return std::pair(tile.grab().toImage(), row.grab().toImage());
        };
        const auto overridden = drawn(QStringLiteral("Kitchen \u202Ewindow plan"));
        const auto plain = drawn(QStringLiteral("Kitchen window plan"));
        EXPECT_TRUE(overridden.first == plain.first) << "the tile";
        EXPECT_TRUE(overridden.second == plain.second) << "the row";
    }
    model().setLanguage(AppLanguage::de);
    DraftTile german(planDraft(5, {}, {}, QStringLiteral("post")));
    EXPECT_EQ(german.placeholderText(), QStringLiteral("Beitrag"));
}

TEST_F(PlannerTest, BadInputIsShownAndNeverStalls)
{
    QString enormous;
    enormous.reserve(2'000'000);
    for (int i = 0; i < 500'000; ++i)
        enormous += QStringLiteral("ab😺");
    PlanDraft big = planDraft(1, enormous, QStringLiteral("garbage"), QStringLiteral("???"));
    PlanDraft twin = planDraft(1, QString(), QStringLiteral("2025-06-11T25:00:00Z"));
    Publication odd = publication(QStringLiteral("x"), QStringLiteral("exploded"));
    odd.error = enormous;
    Publication failedOdd = publication(QStringLiteral("y"), QStringLiteral("failed"));
    failedOdd.error = enormous;
    model().setInstagram(connectedProfile());
    setPlan({big, twin}, {odd, failedOdd});
    ASSERT_EQ(plan()->rows().size(), 4);
    for (PlanRow *row : plan()->rows()) {
        EXPECT_LE(row->titleText()->text().size(), 400);
        EXPECT_LE(row->subtitleText()->text().size(), 500);
        EXPECT_FALSE(row->titleText()->text().isEmpty());
    }
    EXPECT_EQ(grid()->tiles().size(), 2) << "duplicate ids each keep their tile";
    DraftEditorView *view = editor(big);
    EXPECT_FALSE(view->hasDate());
    EXPECT_EQ(view->format(), PublishFormat::feed);
    view->save();
    settle();
    EXPECT_EQ(model().planDrafts().first().title, enormous) << "a title longer than the field holds is never cut";
    grid()->grab();
}

// ---- Pictures

namespace {
// The stand-in's https host, trusted, as the service's picture hosts are.
quint16 startTrusted(Standin::Server &secure)
{
    Standin::trustCertificate();
    return Standin::startSecure(secure);
}

QByteArray jpeg(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return bytes;
}

// What the cache answers once the address has settled.
QImage settledPicture(PictureCache &cache, const QUrl &url, QSize target)
{
    cache.picture(url, target);
    EXPECT_TRUE(zktest::spinUntil([&] { return !cache.isPending(url); })) << url.toString().toStdString();
    return cache.picture(url, target);
}
} // namespace

TEST(PictureCacheTest, OnlyHttpsWithinLimitsCachedAndNeverRetried)
{
    Standin::Server secure;
    ASSERT_NE(startTrusted(secure), 0);
    Standin::Server plain;
    ASSERT_NE(plain.start(), 0);
    const QString origin = Standin::secureOrigin(secure);
    secure.routePrefix("GET", "/ok/", [](const Standin::Seen &) { return Standin::Answer(200, jpeg({1080, 1350}), "image/jpeg"); });
    secure.route("GET", "/huge", [](const Standin::Seen &) {
        return Standin::Answer(200, QByteArray(ProfilePicture::kMaxBytes + 4096, 'x'), "image/jpeg");
    });
    secure.route("GET", "/giant", [](const Standin::Seen &) { return Standin::Answer(200, jpeg({5000, 100}), "image/jpeg"); });
    secure.route("GET", "/broken", [](const Standin::Seen &) { return Standin::Answer(200, "not a picture", "image/jpeg"); });
    secure.route("GET", "/missing", [](const Standin::Seen &) { return Standin::Answer(404, {}); });
    plain.route("GET", "/p.jpg", [](const Standin::Seen &) { return Standin::Answer(200, jpeg({10, 10}), "image/jpeg"); });

    // Room for about two decoded tiles of 218 x 291.
    PictureCache cache(600 * 1024);
    auto load = [&](const QString &address) {
        const QUrl url(address);
        QImage image = cache.picture(url, QSize(218, 291));
        EXPECT_TRUE(zktest::spinUntil([&] { return !cache.isPending(url); })) << address.toStdString();
        return cache.picture(url, QSize(218, 291));
    };
    const QImage first = load(origin + "/ok/1.jpg");
    ASSERT_FALSE(first.isNull());
    EXPECT_GE(first.width(), 218);
    EXPECT_LE(first.width(), 240) << "decoded to the size shown, not the file's";
    for (const char *bad : {"/huge", "/giant", "/broken", "/missing"}) {
        EXPECT_TRUE(load(origin + QString::fromLatin1(bad)).isNull()) << bad;
        EXPECT_TRUE(cache.hasFailed(QUrl(origin + QString::fromLatin1(bad))));
    }
    EXPECT_TRUE(load(plain.origin() + "/p.jpg").isNull());
    EXPECT_TRUE(load(QStringLiteral("file:///etc/passwd")).isNull());
    EXPECT_EQ(plain.count("/p.jpg"), 0) << "http is never fetched";

    // A failed address is not asked for again; a cached one is not fetched again.
    const int brokenAsked = secure.count("/broken");
    load(origin + "/broken");
    EXPECT_EQ(secure.count("/broken"), brokenAsked);
    load(origin + "/ok/1.jpg");
    EXPECT_EQ(secure.count("/ok/1.jpg"), 1);

    // The memory stays within its budget; the oldest pictures go first.
    for (int i = 2; i <= 6; ++i)
        ASSERT_FALSE(load(origin + QStringLiteral("/ok/%1.jpg").arg(i)).isNull());
    EXPECT_LE(cache.cachedBytes(), 600 * 1024);
    EXPECT_LE(cache.cachedCount(), 3);
}

TEST(PictureCacheTest, APictureDecodedSmallIsFetchedAgainForALargerTile)
{
    Standin::Server secure;
    ASSERT_NE(startTrusted(secure), 0);
    const QString origin = Standin::secureOrigin(secure);
    secure.routePrefix("GET", "/shared/", [](const Standin::Seen &) { return Standin::Answer(200, jpeg({1080, 1350}), "image/jpeg"); });
    secure.routePrefix("GET", "/small/", [](const Standin::Seen &) { return Standin::Answer(200, jpeg({120, 150}), "image/jpeg"); });
    PictureCache cache;
    auto settledFor = [&](const QUrl &url, QSize target) { return settledPicture(cache, url, target); };

    // The draft editor's preview asks first, small; a tile of the grid then asks large.
    const QUrl url(origin + QStringLiteral("/shared/a.jpg"));
    const QSize preview(64, 80), tile(436, 582);
    const QImage small = settledFor(url, preview);
    ASSERT_FALSE(small.isNull());
    EXPECT_LT(small.width(), 100);
    const QImage meanwhile = cache.picture(url, tile);
    EXPECT_EQ(meanwhile.size(), small.size()) << "the small one is shown until the sharp one comes";
    EXPECT_TRUE(cache.isPending(url));
    const QImage large = settledFor(url, tile);
    EXPECT_GE(large.width(), tile.width());
    EXPECT_GE(large.height(), tile.height());
    EXPECT_EQ(secure.count(url.path()), 2);
    // Smaller asks, and ones a little larger, are answered from the large one;
    // it is never replaced by a smaller one.
    EXPECT_EQ(cache.picture(url, preview).size(), large.size());
    EXPECT_EQ(cache.picture(url, tile + QSize(20, 26)).size(), large.size());
    EXPECT_FALSE(cache.isPending(url));
    EXPECT_EQ(secure.count(url.path()), 2);

    // A picture smaller than the first ask is fetched once, whatever is asked later.
    const QUrl little(origin + QStringLiteral("/small/b.jpg"));
    EXPECT_EQ(settledFor(little, QSize(218, 291)).size(), QSize(120, 150));
    EXPECT_EQ(cache.picture(little, QSize(872, 1164)).size(), QSize(120, 150));
    EXPECT_FALSE(cache.isPending(little));
    EXPECT_EQ(secure.count(little.path()), 1);
}

TEST(PictureCacheTest, AThinPictureIsNeverEnlargedToCoverATile)
{
    // 4000 x 1 pixels in a few hundred bytes: scaled to cover a tile it would
    // take gigabytes. It is decoded at its own size and drawn cut by the tile.
    Standin::Server secure;
    ASSERT_NE(startTrusted(secure), 0);
    const QString origin = Standin::secureOrigin(secure);
    secure.route("GET", "/thin", [](const Standin::Seen &) { return Standin::Answer(200, jpeg({4000, 1}), "image/jpeg"); });
    secure.route("GET", "/tall", [](const Standin::Seen &) { return Standin::Answer(200, jpeg({2, 4000}), "image/jpeg"); });
    PictureCache cache;
    for (const char *path : {"/thin", "/tall"}) {
        const QImage image = settledPicture(cache, QUrl(origin + QString::fromLatin1(path)), QSize(436, 582));
        ASSERT_FALSE(image.isNull()) << path;
        EXPECT_LE(image.width(), 4000) << path;
        EXPECT_LE(image.height(), 4000) << path;
        EXPECT_LE(image.sizeInBytes(), qsizetype(4000) * 4 * 4) << path;
    }
    EXPECT_EQ(ProfilePicture::decode(jpeg({4000, 1}), QSize(436, 582)).size(), QSize(4000, 1));
    EXPECT_EQ(ProfilePicture::decode(jpeg({1080, 1350}), QSize(218, 291)).size(), QSize(233, 291));
}

TEST_F(PlannerTest, OnlyTheTilesOnScreenFetchTheirPictures)
{
    Standin::Server secure;
    ASSERT_NE(startTrusted(secure), 0);
    const QByteArray bytes = jpeg({540, 675});
    secure.routePrefix("GET", "/tiles/", [&](const Standin::Seen &) { return Standin::Answer(200, bytes, "image/jpeg"); });
    // Each run of the test has addresses of its own: the cache is the application's.
    const QString origin = Standin::secureOrigin(secure) + QStringLiteral("/tiles/%1-").arg(QDateTime::currentMSecsSinceEpoch());

    model().setInstagram(connectedProfile());
    QList<ZephylWire::InstagramFeedItem> items;
    for (int i = 0; i < 60; ++i) {
        ZephylWire::InstagramFeedItem item;
        item.id = QString::number(i);
        item.previewURL = QUrl(origin + QString::number(i));
        items << item;
    }
    model().setFeedItems(items);
    model().setFeedStatus(FeedStatus::synced());
    auto fetched = [&] {
        QList<int> out;
        for (int i = 0; i < 60; ++i) {
            if (secure.count(QUrl(origin + QString::number(i)).path()) > 0)
                out << i;
        }
        return out;
    };
    auto settledOnScreen = [&] {
        for (GridTile *tile : grid()->tiles()) {
            if (!tile->visibleRegion().isEmpty() && tile->loadedPicture().isNull() &&
                !PictureCache::shared().hasFailed(*tile->pictureAddress()))
                return false;
        }
        return true;
    };
    grid()->repaint();
    ASSERT_TRUE(zktest::spinUntil(settledOnScreen));
    const QList<int> first = fetched();
    EXPECT_FALSE(first.isEmpty());
    EXPECT_LE(first.size(), 12) << "about three rows are on screen";
    EXPECT_EQ(first.first(), 0);

    // Scrolled to the end: the last posts come, the middle ones never shown do not.
    QScrollBar *bar = grid()->scroller()->verticalScrollBar();
    bar->setValue(bar->maximum());
    grid()->repaint();
    ASSERT_TRUE(zktest::spinUntil(settledOnScreen));
    const QList<int> after = fetched();
    EXPECT_TRUE(after.contains(59));
    EXPECT_FALSE(after.contains(30));
    EXPECT_LE(after.size(), 24);
    int shown = 0;
    for (GridTile *tile : grid()->tiles()) {
        if (!tile->visibleRegion().isEmpty()) {
            EXPECT_FALSE(tile->loadedPicture().isNull());
            ++shown;
        }
    }
    EXPECT_GT(shown, 0) << "the end of the screen shows the last posts, not blank space";
}

// The plan's dates in the language in use, whatever the system's locale, in the
// user's zone across a change of the clocks (the week of 29 March 2026 holds
// Berlin's; the suite also runs under Berlin and New York): the week's title,
// the day's heading, the weekday and a row's scheduled time. In right-to-left
// languages each date is one isolated run, so it cannot be read back to front.
TEST_F(PlannerTest, DatesFollowTheLanguageInUseAndStayWholeInRightToLeftText)
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    flows.h.clock.setNow(QDateTime(QDate(2026, 3, 25), QTime(10, 0), zone));
    setPlan({planDraft(1, QStringLiteral("After the change"), utc(QDateTime(QDate(2026, 3, 29), QTime(13, 32), zone)))});
    plan()->showToday();
    settle();
    for (DayCell *cell : plan()->dayCells()) {
        if (cell->date() == QDate(2026, 3, 29))
            click(cell);
    }
    const QString fsi(QChar(0x2068)), pdi(QChar(0x2069));
    struct Case {
        AppLanguage language;
        QString week, day, weekday, time, dayNumber;
    };
    // Every number in Latin digits, Arabic's too, as the application writes them.
    const Case cases[] = {
        {AppLanguage::en, "Mar 23 \u2013 Mar 29", "Sunday, March 29", "MON", "Mar 29, 2026, 1:32\u202FPM", "23"},
        {AppLanguage::de, "23. M\u00E4rz \u2013 29. M\u00E4rz", "Sonntag, 29. M\u00E4rz", "MO",
         "29. M\u00E4rz 2026, 13:32", "23"},
        {AppLanguage::ar, fsi + "23 مارس" + pdi + " \u2013 " + fsi + "29 مارس" + pdi, fsi + "الأحد، 29 مارس" + pdi,
         fsi + "الاثنين" + pdi, fsi + "29 مارس 2026، 1:32 م" + pdi, fsi + "23" + pdi},
        {AppLanguage::he, fsi + "23 במרץ" + pdi + " \u2013 " + fsi + "29 במרץ" + pdi,
         fsi + "יום ראשון, 29 במרץ" + pdi, fsi + "יום ב׳" + pdi, fsi + "29 במרץ 2026, 13:32" + pdi, fsi + "23" + pdi},
        // The month as the date field writes it, the same in every place.
        {AppLanguage::nl, "23 mrt. \u2013 29 mrt.", "zondag 29 maart", "MA", "29 mrt. 2026 13:32", "23"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(AppLanguages::rawValue(c.language).toStdString());
        model().setLanguage(c.language);
        settle();
        EXPECT_EQ(plan()->weekTitle(), c.week);
        ASSERT_FALSE(plan()->sectionTitles().isEmpty());
        EXPECT_EQ(plan()->sectionTitles().first(), c.day);
        EXPECT_EQ(plan()->dayCells().first()->accessibleName(), DateText::dayHeading(QDate(2026, 3, 23)));
        EXPECT_EQ(DateText::weekdayShort(QDate(2026, 3, 23)), c.weekday);
        EXPECT_EQ(DateText::dayNumber(QDate(2026, 3, 23)), c.dayNumber);
        ASSERT_EQ(plan()->rows().size(), 1);
        const PlanEntry &entry = plan()->rows().first()->entry();
        EXPECT_EQ(PlanRow::subtitle(entry), PublishFormats::label(entry.format) + QStringLiteral(" \u00B7 ") + c.time);
        // The composer's confirmation, the cat's line and the draft editor's field write the same.
        EXPECT_EQ(DateText::dateTime(*entry.date), c.time);
        EXPECT_EQ(QLocale(L10n::locale()).toString(QDateTime(QDate(2026, 3, 29), QTime(13, 32), zone),
                                                   DateText::editorFormat()),
                  QString(c.time).remove(fsi).remove(pdi))
            << DateText::editorFormat().toStdString();
    }
    model().setLanguage(AppLanguage::en);
}

// The week's title reads from the language's side: in Arabic and Hebrew its
// first date, the week's Monday, is drawn on the right and the Sunday on the
// left (the dates are isolated runs, so only the title's own direction can
// put them there); in German the other way round. Each date is drawn alone by the
// title itself and then found in the whole title's pixels, the X server's
// when the suite runs on one.
TEST_F(PlannerTest, TheWeeksTitleStartsWithItsFirstDayOnTheReadingSide)
{
    const Qt::LayoutDirection was = QApplication::layoutDirection();
    flows.h.clock.setNow(QDateTime(QDate(2026, 12, 30), QTime(10, 0), QTimeZone::systemTimeZone()));
    const QDate monday(2026, 12, 28), sunday(2027, 1, 3);
    for (AppLanguage language : {AppLanguage::ar, AppLanguage::he, AppLanguage::de}) {
        SCOPED_TRACE(AppLanguages::rawValue(language).toStdString());
        model().setLanguage(language);
        QApplication::setLayoutDirection(L10n::layoutDirection()); // as the application does
        plan()->showToday();
        settle();
        auto *title = plan()->findChild<TextBlock *>(QStringLiteral("weekTitle"));
        ASSERT_NE(title, nullptr);
        ASSERT_EQ(title->text(), DateText::weekTitle(monday, sunday));
        const zktest::Drawn first = zktest::findDrawn(title, DateText::dayMonth(monday));
        const zktest::Drawn last = zktest::findDrawn(title, DateText::dayMonth(sunday));
        EXPECT_LT(first.difference, 25) << "the first day is drawn";
        EXPECT_LT(last.difference, 25) << "the last day is drawn";
        if (L10n::layoutDirection() == Qt::RightToLeft)
            EXPECT_GT(first.at.x(), last.at.x() + last.piece.width()) << "the week's first day on the right";
        else
            EXPECT_LT(first.at.x() + first.piece.width(), last.at.x()) << "the week's first day on the left";
    }
    model().setLanguage(AppLanguage::en);
    QApplication::setLayoutDirection(was);
}

// ---- Menus as drawn

// A draft's menu, opened from the keyboard on its row as a user does: on the
// palette's ground for the appearance, its divider plain to see, "Delete draft"
// in the attention colour and the other entries in the text's, reaching from
// the row's middle toward the side the language reads to. A menu of the
// toolkit's own (a text field's) takes the palette too. In the X server's
// pixels when the suite runs on one.
TEST_F(PlannerTest, MenusTakeThePaletteDrawTheirDividerMarkDeletingAndOpenTowardTheReadingSide)
{
    const Qt::LayoutDirection was = QApplication::layoutDirection();
    setPlan({planDraft(7, QStringLiteral("Cat yoga"), utc(now().addSecs(3600)))});
    const auto redness = [](QRgb p) { return qRed(p) - qBlue(p); };
    // The toolkit lays its menu's ground a shade off the colour it is given.
    const auto onSurface = [](QRgb p, Appearance appearance) {
        const QColor surface = PaletteColors::color(Color::surface, appearance);
        return std::max({std::abs(qRed(p) - surface.red()), std::abs(qGreen(p) - surface.green()),
                         std::abs(qBlue(p) - surface.blue())}) <= 4;
    };
    for (const auto &[language, theme] : {std::pair(AppLanguage::ar, AppTheme::dark), std::pair(AppLanguage::he, AppTheme::light),
                                         std::pair(AppLanguage::de, AppTheme::dark)}) {
        SCOPED_TRACE(AppLanguages::rawValue(language).toStdString() + (theme == AppTheme::dark ? " dark" : " light"));
        model().setLanguage(language);
        QApplication::setLayoutDirection(L10n::layoutDirection()); // as the application does
        AppearanceService::shared().setTheme(theme);
        const Appearance appearance = theme == AppTheme::dark ? Appearance::dark : Appearance::light;
        settle();
        PlanRow *row = rowOf(QStringLiteral("draft-7"));
        ASSERT_NE(row, nullptr);
        row->setFocus(Qt::TabFocusReason);
        QTest::keyClick(row, Qt::Key_Menu);
        QMenu *menu = nullptr;
        ASSERT_TRUE(zktest::spinUntil([&] { return (menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())); }));
        const int middle = row->mapToGlobal(row->rect().center()).x();
        if (L10n::layoutDirection() == Qt::RightToLeft)
            EXPECT_EQ(menu->geometry().right() + 1, middle) << "ends at the row's middle";
        else
            EXPECT_EQ(menu->geometry().left(), middle) << "starts at the row's middle";

        const QImage shot = zktest::drawnPixels(menu);
        ASSERT_FALSE(shot.isNull());
        const QRgb ground = zktest::commonest(shot);
        EXPECT_TRUE(onSurface(ground, appearance)) << std::hex << ground;
        const QList<QAction *> entries = menu->actions();
        ASSERT_EQ(actionTexts(menu).size(), 4);
        EXPECT_GE(zktest::standout(shot, menu->actionGeometry(entries[2]), ground).second, 1.8) << "the divider";
        const auto [plain, plainContrast] = zktest::standout(shot, menu->actionGeometry(entries[0]), ground);
        const auto [deleting, deletingContrast] = zktest::standout(shot, menu->actionGeometry(entries[3]), ground);
        EXPECT_GE(plainContrast, 4.5);
        EXPECT_GE(deletingContrast, 4.5);
        EXPECT_LT(std::abs(redness(plain)), 20) << "Edit draft in the text's grey";
        EXPECT_GT(redness(deleting), 60) << "Delete draft in the attention colour";
        QTest::keyClick(menu, Qt::Key_Escape);
        ASSERT_TRUE(zktest::spinUntil([] { return QApplication::activePopupWidget() == nullptr; }));
    }
    QLineEdit field;
    const std::unique_ptr<QMenu> own(field.createStandardContextMenu());
    own->popup(QPoint(100, 100));
    const QImage shot = zktest::drawnPixels(own.get());
    EXPECT_TRUE(onSurface(zktest::commonest(shot), Appearance::dark)) << "a text field's menu";
    own->close();
    // Its own menu from the keyboard, right to left, reaches leftward from the caret too.
    field.setLayoutDirection(Qt::RightToLeft);
    field.setGeometry(300, 300, 300, 30);
    field.show();
    const QPoint caret = field.mapToGlobal(field.rect().center());
    QContextMenuEvent fromKeys(QContextMenuEvent::Keyboard, field.rect().center(), caret);
    QApplication::sendEvent(&field, &fromKeys);
    QMenu *fieldMenu = nullptr;
    ASSERT_TRUE(zktest::spinUntil([&] { return (fieldMenu = qobject_cast<QMenu *>(QApplication::activePopupWidget())); }));
    EXPECT_EQ(fieldMenu->geometry().right() + 1, caret.x()) << "ends at the caret";
    fieldMenu->close();
    ASSERT_TRUE(zktest::spinUntil([] { return QApplication::activePopupWidget() == nullptr; }));
    // Shift+F10 asks from the caret, not the field's middle: here at the
    // start of its (left-to-right) words.
    field.setText(QStringLiteral("Words to the caret"));
    field.setCursorPosition(0);
    field.activateWindow();
    field.setFocus();
    ASSERT_TRUE(zktest::spinUntil([&] { return field.hasFocus(); }));
    const QPoint atCaret = field.mapToGlobal(field.inputMethodQuery(Qt::ImCursorRectangle).toRect().center());
    ASSERT_GT(std::abs(atCaret.x() - caret.x()), 60) << "the caret stands well off the middle";
    QTest::keyClick(&field, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(zktest::spinUntil([&] { return (fieldMenu = qobject_cast<QMenu *>(QApplication::activePopupWidget())); }));
    EXPECT_EQ(fieldMenu->geometry().right() + 1, atCaret.x()) << "ends at the caret";
    fieldMenu->close();
    ASSERT_TRUE(zktest::spinUntil([] { return QApplication::activePopupWidget() == nullptr; }));

    // A menu that just fits between the point and the screen's edge on the
    // reading side opens that way, left to right and right to left.
    QMenu fits;
    fits.addAction(QStringLiteral("One"));
    fits.addAction(QStringLiteral("Two entries long"));
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    for (const Qt::LayoutDirection direction : {Qt::LeftToRight, Qt::RightToLeft}) {
        fits.setLayoutDirection(direction);
        const int width = fits.sizeHint().width();
        const QPoint at(direction == Qt::LeftToRight ? room.right() + 1 - width : room.left() + width, room.top() + 100);
        MenuLook::popup(&fits, at);
        ASSERT_TRUE(zktest::spinUntil([&] { return fits.isVisible(); }));
        EXPECT_EQ(fits.width(), width);
        if (direction == Qt::LeftToRight)
            EXPECT_EQ(fits.geometry().left(), at.x()) << "rightward, to the edge";
        else
            EXPECT_EQ(fits.geometry().right() + 1, at.x()) << "leftward, to the edge";
        fits.close();
        ASSERT_TRUE(zktest::spinUntil([] { return QApplication::activePopupWidget() == nullptr; }));
    }
    model().setLanguage(AppLanguage::en);
    QApplication::setLayoutDirection(was);
}
