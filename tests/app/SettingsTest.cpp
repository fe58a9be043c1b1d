// AppModel's settings: the strict reading at start, the write-back on every set,
// and the unsent text kept per owner.

#include "AppTestSupport.h"

#include "app/DraftEditStore.h"
#include "app/UnsavedPlanStore.h"
#include "app/PublishRecords.h"
#include "app/UnsentTextStore.h"
#include "base/FileRead.h"
#include "base/RecordStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace apptest;
using Kind = AppEvent::Kind;

namespace {
// What the store holds under the key, as the JSON it would write.
QJsonValue storedValue(const DefaultsStore &store, const QString &key)
{
    if (const auto v = store.string(key))
        return *v;
    if (const auto v = store.boolValue(key))
        return *v;
    if (const auto v = store.number(key))
        return *v;
    return QJsonValue::Undefined;
}
} // namespace

TEST(AppModelSettings, AnEmptyStoreGivesTheDefaultsAndNothingIsWritten)
{
    LanguageGuard language;
    Harness h;
    QSignalSpy writes(&h.store, &DefaultsStore::changed);
    AppModel &m = h.make();

    EXPECT_EQ(m.language(), AppLanguage::system);
    EXPECT_EQ(m.theme(), AppTheme::system);
    EXPECT_TRUE(m.companionEnabled());
    EXPECT_EQ(m.companionName(), QString());
    EXPECT_TRUE(m.companionWalksOnWindows());
    EXPECT_TRUE(m.companionClickOpensAsk());
    EXPECT_FALSE(m.companionWanders());
    EXPECT_EQ(m.companionTemper(), CompanionTemper::calm);
    EXPECT_EQ(m.companionVariantID(), QStringLiteral("drawn"));
    EXPECT_EQ(m.focusMinutes(), 25);
    EXPECT_TRUE(m.focusGuardEnabled());
    EXPECT_TRUE(m.breakRemindersEnabled());
    EXPECT_TRUE(m.catRemindersEnabled());
    EXPECT_EQ(m.breakClock().intervalMinutes, 50);
    EXPECT_TRUE(m.usesWebWorkspace());

    EXPECT_EQ(m.session(), SessionState::restoring);
    EXPECT_EQ(m.surface(), Surface::assistant);
    EXPECT_EQ(m.feedStatus(), FeedStatus::idle());
    EXPECT_TRUE(m.catChat().isEmpty());
    EXPECT_FALSE(m.instagramConnected());
    EXPECT_TRUE(m.accessibilityTrusted());
    EXPECT_EQ(m.inputOwner(), QString());
    const FocusSession focus = m.focus();
    EXPECT_EQ(focus.phase, FocusSession::Phase::idle());
    EXPECT_EQ(focus.workMinutes, 25);
    EXPECT_EQ(focus.restMinutes, 5);
    EXPECT_EQ(focus.remaining, 0);
    EXPECT_EQ(focus.completedRounds, 0);
    EXPECT_EQ(m.wellbeing().firstSeenAt, h.clock.now());
    EXPECT_EQ(m.wellbeing().fedCount, 0);

    EXPECT_EQ(writes.count(), 0) << "reading the settings writes nothing";
    EXPECT_TRUE(h.events.isEmpty()) << "and raises nothing";
}

TEST(AppModelSettings, StoredValuesAreReadStrictlyByType)
{
    LanguageGuard language;
    struct Case {
        const char *key;
        QJsonValue stored;
        std::function<QVariant(const AppModel &)> read;
        QVariant expected;
    };
    const auto theme = [](const AppModel &m) { return QVariant(int(m.theme())); };
    const auto temper = [](const AppModel &m) { return QVariant(int(m.companionTemper())); };
    const auto lang = [](const AppModel &m) { return QVariant(int(m.language())); };
    const auto minutes = [](const AppModel &m) { return QVariant(m.focusMinutes()); };
    const auto workMinutes = [](const AppModel &m) { return QVariant(m.focus().workMinutes); };
    const auto breakMinutes = [](const AppModel &m) { return QVariant(m.breakClock().intervalMinutes); };
    const auto enabled = [](const AppModel &m) { return QVariant(m.companionEnabled()); };
    const auto walks = [](const AppModel &m) { return QVariant(m.companionWalksOnWindows()); };
    const auto clicks = [](const AppModel &m) { return QVariant(m.companionClickOpensAsk()); };
    const auto wanders = [](const AppModel &m) { return QVariant(m.companionWanders()); };
    const auto guard = [](const AppModel &m) { return QVariant(m.focusGuardEnabled()); };
    const auto breaks = [](const AppModel &m) { return QVariant(m.breakRemindersEnabled()); };
    const auto reminders = [](const AppModel &m) { return QVariant(m.catRemindersEnabled()); };
    const auto name = [](const AppModel &m) { return QVariant(m.companionName()); };
    const auto web = [](const AppModel &m) { return QVariant(m.usesWebWorkspace()); };

    const Case cases[] = {
        {"zephyl.mac.theme", "DARK", theme, int(AppTheme::system)},
        {"zephyl.mac.theme", "dark", theme, int(AppTheme::dark)},
        {"zephyl.mac.theme", 2, theme, int(AppTheme::system)},
        {"zephyl.mac.companion.temper", "LIVELY", temper, int(CompanionTemper::calm)},
        {"zephyl.mac.companion.temper", "lively", temper, int(CompanionTemper::lively)},
        {"zephyl.mac.language", "xx", lang, int(AppLanguage::system)},
        {"zephyl.mac.language", "RU", lang, int(AppLanguage::system)},
        {"zephyl.mac.language", "ru", lang, int(AppLanguage::ru)},
        {"zephyl.mac.focus.minutes", "30", minutes, 25},
        {"zephyl.mac.focus.minutes", 40, minutes, 40},
        {"zephyl.mac.focus.minutes", 40, workMinutes, 40},
        {"zephyl.mac.focus.minutes", 2.5, minutes, 25},
        {"zephyl.mac.focus.minutes", true, minutes, 25},
        // A stored length outside 1...180 is brought inside: 0 would end a round at its first tick.
        {"zephyl.mac.focus.minutes", 0, minutes, 1},
        {"zephyl.mac.focus.minutes", -5, workMinutes, 1},
        {"zephyl.mac.focus.minutes", 1000, minutes, 180},
        {"zephyl.mac.care.breakMinutes", 0, breakMinutes, 50},
        {"zephyl.mac.care.breakMinutes", -3, breakMinutes, 50},
        {"zephyl.mac.care.breakMinutes", 20, breakMinutes, 20},
        {"zephyl.mac.care.breakMinutes", "20", breakMinutes, 50},
        {"zephyl.mac.companion.enabled", "false", enabled, true},
        {"zephyl.mac.companion.enabled", 0, enabled, true},
        {"zephyl.mac.companion.enabled", false, enabled, false},
        {"zephyl.mac.companion.walksOnWindows", "no", walks, true},
        {"zephyl.mac.companion.walksOnWindows", false, walks, false},
        {"zephyl.mac.companion.clickOpensAsk", QJsonObject{}, clicks, true},
        {"zephyl.mac.companion.clickOpensAsk", false, clicks, false},
        {"zephyl.mac.companion.wanders", "true", wanders, false},
        {"zephyl.mac.companion.wanders", true, wanders, true},
        {"zephyl.mac.focus.guard", "false", guard, true},
        {"zephyl.mac.focus.guard", false, guard, false},
        {"zephyl.mac.care.breaks", 0, breaks, true},
        {"zephyl.mac.care.breaks", false, breaks, false},
        {"zephyl.mac.care.reminders", "off", reminders, true},
        {"zephyl.mac.care.reminders", false, reminders, false},
        {"zephyl.mac.companion.name", 5, name, QString()},
        {"zephyl.mac.companion.name", "Biscuit", name, QStringLiteral("Biscuit")},
        // The developer switch is a plain boolean: absent or false keeps the web workspace.
        {"zephyl.mac.workspace.native", true, web, false},
        {"zephyl.mac.workspace.native", false, web, true},
        {"zephyl.mac.workspace.native", 1, web, false},
        {"zephyl.mac.workspace.native", "YES", web, false},
        {"zephyl.mac.workspace.native", "no", web, true},
        {"zephyl.mac.workspace.native", "0", web, true},
        {"zephyl.mac.workspace.native", 0, web, true},
        {"zephyl.mac.workspace.native", "", web, true},
        {"zephyl.mac.workspace.native", "false", web, true},
        {"zephyl.mac.workspace.native", "9", web, false},
        {"zephyl.mac.workspace.native", " true", web, false},
    };
    for (const Case &c : cases) {
        Harness h;
        h.store.set(QString::fromLatin1(c.key), c.stored);
        const AppModel &m = h.make();
        EXPECT_EQ(c.read(m), c.expected) << c.key << " = " << QJsonDocument(QJsonObject{{"v", c.stored}}).toJson().constData();
    }
}

TEST(AppModelSettings, TheLanguageSettingReachesTheLookupAtStart)
{
    LanguageGuard language;
    Harness h;
    h.store.setString(QStringLiteral("zephyl.mac.language"), QStringLiteral("de"));
    h.make();
    EXPECT_EQ(L10n::preference(), AppLanguage::de);
}

TEST(AppModelSettings, EverySetWritesItsKeyAlsoWhenTheValueIsUnchanged)
{
    LanguageGuard language;
    // Each row starts from a stored value that reads as the default, then sets
    // that same default: the key must hold the setting's own form afterwards.
    struct Case {
        const char *key;
        QJsonValue unusable;
        std::function<void(AppModel &)> set;
        QJsonValue written;
        QList<Kind> events;
    };
    const Case cases[] = {
        {"zephyl.mac.theme", "DARK", [](AppModel &m) { m.setTheme(AppTheme::system); }, "system", {Kind::themeChanged}},
        {"zephyl.mac.language", "RU", [](AppModel &m) { m.setLanguage(AppLanguage::system); }, "system", {}},
        {"zephyl.mac.companion.temper", "LIVELY", [](AppModel &m) { m.setCompanionTemper(CompanionTemper::calm); },
         "calm", {Kind::companionPreferencesChanged}},
        {"zephyl.mac.companion.enabled", "no", [](AppModel &m) { m.setCompanionEnabled(true); }, true,
         {Kind::companionEnabledChanged}},
        {"zephyl.mac.companion.walksOnWindows", 1, [](AppModel &m) { m.setCompanionWalksOnWindows(true); }, true,
         {Kind::companionPreferencesChanged}},
        {"zephyl.mac.companion.clickOpensAsk", 1, [](AppModel &m) { m.setCompanionClickOpensAsk(true); }, true,
         {Kind::companionPreferencesChanged}},
        {"zephyl.mac.companion.wanders", "yes", [](AppModel &m) { m.setCompanionWanders(false); }, false,
         {Kind::companionPreferencesChanged}},
        {"zephyl.mac.companion.variant", 7, [](AppModel &m) { m.setCompanionVariantID(QStringLiteral("drawn")); },
         "drawn", {Kind::companionPreferencesChanged}},
        {"zephyl.mac.companion.name", 7, [](AppModel &m) { m.setCompanionName(QString()); }, "", {}},
        {"zephyl.mac.focus.minutes", "30", [](AppModel &m) { m.setFocusMinutes(25); }, 25, {}},
        {"zephyl.mac.focus.guard", "on", [](AppModel &m) { m.setFocusGuardEnabled(true); }, true, {}},
        {"zephyl.mac.care.breaks", "on", [](AppModel &m) { m.setBreakRemindersEnabled(true); }, true, {}},
        {"zephyl.mac.care.reminders", "on", [](AppModel &m) { m.setCatRemindersEnabled(true); }, true, {}},
    };
    for (const Case &c : cases) {
        Harness h;
        const QString key = QString::fromLatin1(c.key);
        h.store.set(key, c.unusable);
        AppModel &m = h.make();
        c.set(m);
        EXPECT_EQ(storedValue(h.store, key), c.written)
            << c.key;
        EXPECT_EQ(h.kinds(), c.events) << c.key;
    }
}

TEST(AppModelSettings, ChangeSignalsFollowRealChangesWhileEventsFollowEverySet)
{
    LanguageGuard language;
    Harness h;
    AppModel &m = h.make();
    QSignalSpy themeSignal(&m, &AppModel::themeChanged);
    m.setTheme(AppTheme::system);
    m.setTheme(AppTheme::dark);
    m.setTheme(AppTheme::dark);
    EXPECT_EQ(themeSignal.count(), 1);
    EXPECT_EQ(h.kinds(), (QList<Kind>{Kind::themeChanged, Kind::themeChanged, Kind::themeChanged}));
    EXPECT_EQ(h.store.string(QStringLiteral("zephyl.mac.theme")), QStringLiteral("dark"));

    h.events.clear();
    m.setCompanionEnabled(false);
    ASSERT_EQ(h.events.size(), 1);
    EXPECT_EQ(h.events[0], AppEvent::companionEnabledChanged(false));
    EXPECT_EQ(h.store.boolValue(QStringLiteral("zephyl.mac.companion.enabled")), false);

    // Without a coordinator every raise is dropped, and the rest goes on.
    m.setEvents({});
    m.setTheme(AppTheme::light);
    EXPECT_EQ(m.theme(), AppTheme::light);
    EXPECT_EQ(h.store.string(QStringLiteral("zephyl.mac.theme")), QStringLiteral("light"));
}

TEST(AppModelSettings, FocusLengthReachesOnlyASessionThatIsNotRunning)
{
    LanguageGuard language;
    Harness h;
    AppModel &m = h.make();
    m.startFocus();
    m.setFocusMinutes(45);
    EXPECT_EQ(h.store.integer(QStringLiteral("zephyl.mac.focus.minutes")), 45);
    EXPECT_EQ(m.focus().workMinutes, 25) << "a running round keeps its length";
    FocusSession paused = m.focus();
    paused.pause();
    m.setFocus(paused);
    m.setFocusMinutes(50);
    EXPECT_EQ(m.focus().workMinutes, 25) << "and so does a paused one";
    h.events.clear();
    m.stopFocus();
    EXPECT_EQ(h.kinds(), QList<Kind>{Kind::focusEnded}) << "a paused session is stopped too";
    EXPECT_EQ(m.focus().phase, FocusSession::Phase::idle());
    m.startFocus();
    EXPECT_EQ(m.focus().workMinutes, 50);
    EXPECT_EQ(m.focus().remaining, 3000);
    m.stopFocus();

    m.setFocusMinutes(0);
    EXPECT_EQ(m.focusMinutes(), 1);
    EXPECT_EQ(m.focus().workMinutes, 1);
    EXPECT_EQ(h.store.integer(QStringLiteral("zephyl.mac.focus.minutes")), 1);
    m.setFocusMinutes(1000);
    EXPECT_EQ(m.focusMinutes(), 180);
}

TEST(AppModelSettings, WellbeingIsStoredOnEverySetAndACorruptRecordStartsFresh)
{
    LanguageGuard language;
    Harness h;
    h.store.setData(QStringLiteral("zephyl.mac.cat.wellbeing"), QByteArrayLiteral("{\"firstSeenAt\": \"yesterday\"}"));
    AppModel &m = h.make();
    EXPECT_EQ(m.wellbeing().firstSeenAt, h.clock.now());
    m.feedCat();
    h.clock.advanceSeconds(30);
    m.feedCat();
    EXPECT_EQ(m.wellbeing().fedCount, 2);
    EXPECT_EQ(m.wellbeing().lastFedAt, h.clock.now());
    const auto stored = CatWellbeing::decode(*h.store.data(QStringLiteral("zephyl.mac.cat.wellbeing")));
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, m.wellbeing());
    EXPECT_TRUE(h.events.isEmpty()) << "a meal raises nothing; the caller speaks";
}

TEST(AppModelSettings, TheLanguageRewordsTheSummaryCards)
{
    LanguageGuard language;
    Harness h;
    AppModel &m = h.make();
    m.setInstagram(std::nullopt); // the service said: none connected
    m.setLanguage(AppLanguage::en);
    ASSERT_EQ(m.observations().size(), 1);
    EXPECT_EQ(m.observations()[0].title, QStringLiteral("Instagram is not connected yet"));
    // A view that words itself anew on the signal reads the new language already.
    QStringList heard;
    QObject::connect(&m, &AppModel::languageChanged, [&] {
        heard << L10n::t("Summary") << (m.observations().isEmpty() ? QString() : m.observations()[0].title);
    });
    m.setLanguage(AppLanguage::ru);
    EXPECT_EQ(heard, (QStringList{QStringLiteral("Сводка"), QStringLiteral("Instagram ещё не подключён")}));
    m.setLanguage(AppLanguage::ru);
    EXPECT_EQ(heard.size(), 2) << "the signal follows a real change only";
    ASSERT_EQ(m.observations().size(), 1);
    EXPECT_EQ(m.observations()[0].id, QStringLiteral("connect"));
    EXPECT_EQ(m.observations()[0].title, QStringLiteral("Instagram ещё не подключён"));
    EXPECT_EQ(h.store.string(QStringLiteral("zephyl.mac.language")), QStringLiteral("ru"));
}

// ---- Unsent text

namespace {
UnsentTextStore::Text stored(const DefaultsStore &store, const QString &owner)
{
    return UnsentTextStore(const_cast<DefaultsStore &>(store)).load(owner);
}
} // namespace

TEST(UnsentText, NothingPersistsWithoutAnOwner)
{
    LanguageGuard language;
    Harness h;
    AppModel &m = h.make();
    QSignalSpy writes(&h.store, &DefaultsStore::changed);
    m.setAskInput(QStringLiteral("typed before sign-in"));
    m.setAssistantDraft(QStringLiteral("a draft"));
    EXPECT_EQ(m.askInput(), QStringLiteral("typed before sign-in"));
    EXPECT_EQ(writes.count(), 0);
}

TEST(UnsentText, TextTypedBeforeTheOwnerIsKnownIsKeptAndSavedUnderTheOwner)
{
    LanguageGuard language;
    Harness h;
    UnsentTextStore(h.store).save(QStringLiteral("kitty@example.com"),
                                  {QStringLiteral("older draft"), QStringLiteral("older question")});
    AppModel &m = h.make();
    m.setAskInput(QStringLiteral("typed while signing in"));

    m.restoreUnsentText(QStringLiteral("Kitty@Example.COM"));
    EXPECT_EQ(m.inputOwner(), QStringLiteral("kitty@example.com"));
    EXPECT_EQ(m.askInput(), QStringLiteral("typed while signing in")) << "what was typed meanwhile is not overwritten";
    EXPECT_EQ(m.assistantDraft(), QStringLiteral("older draft")) << "an empty input takes the stored text";
    EXPECT_EQ(stored(h.store, QStringLiteral("kitty@example.com")),
              (UnsentTextStore::Text{QStringLiteral("older draft"), QStringLiteral("typed while signing in")}));

    // The same owner again, in any case: nothing happens.
    m.setAskInput(QStringLiteral("edited"));
    m.restoreUnsentText(QStringLiteral("KITTY@example.com"));
    EXPECT_EQ(m.askInput(), QStringLiteral("edited"));

    // Another account: its own (empty) texts, and its own record beside the first's.
    m.restoreUnsentText(QStringLiteral("dog@example.com"));
    EXPECT_EQ(m.askInput(), QString());
    EXPECT_EQ(m.assistantDraft(), QString());
    m.setAskInput(QStringLiteral("woof"));
    EXPECT_EQ(stored(h.store, QStringLiteral("dog@example.com")).ask, QStringLiteral("woof"));
    EXPECT_EQ(stored(h.store, QStringLiteral("kitty@example.com")),
              (UnsentTextStore::Text{QStringLiteral("older draft"), QStringLiteral("edited")}))
        << "the dog's first keystroke leaves the cat's text alone";

    // Signed out: the record, the owner and the inputs go; text typed now stays
    // in memory only, and goes to the next account, which never sees the last one's.
    m.forgetUnsentText();
    EXPECT_EQ(RecordStore::of(h.store).read(QLatin1String(UnsentTextStore::kRecordName), QStringLiteral("dog@example.com")),
              std::nullopt);
    EXPECT_EQ(stored(h.store, QStringLiteral("kitty@example.com")).ask, QStringLiteral("edited"));
    EXPECT_EQ(m.askInput(), QString());
    m.setAssistantDraft(QStringLiteral("nobody's"));
    EXPECT_EQ(RecordStore::of(h.store).read(QLatin1String(UnsentTextStore::kRecordName), QString()), std::nullopt);
    m.restoreUnsentText(QStringLiteral("cat@example.com"));
    EXPECT_EQ(m.assistantDraft(), QStringLiteral("nobody's"));
    EXPECT_EQ(m.askInput(), QString()) << "not the text the last account typed";
}

TEST(UnsentText, StoreKeepsEachOwnersRecordApartAndRefusesDamagedOnes)
{
    DefaultsStore store;
    UnsentTextStore texts(store);
    RecordStore &records = RecordStore::of(store);
    texts.save(QStringLiteral("Me@Example.com"), {QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_EQ(texts.load(QStringLiteral("me@example.com")), (UnsentTextStore::Text{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(texts.load(QStringLiteral("other@example.com")), UnsentTextStore::Text{});
    EXPECT_EQ(texts.load(QString()), UnsentTextStore::Text{});

    texts.save(QString(), {QStringLiteral("x"), QStringLiteral("y")});
    EXPECT_EQ(texts.load(QStringLiteral("me@example.com")).ask, QStringLiteral("b")) << "an empty owner changes nothing";

    // The stored form, written out: {"owner", "text": {"assistant", "ask"}}, and nothing in the settings.
    const QString name = QStringLiteral("unsent-text");
    const QString me = QStringLiteral("me@example.com");
    const QJsonObject saved = QJsonDocument::fromJson(*records.read(name, me)).object();
    EXPECT_EQ(saved, (QJsonObject{{"owner", "me@example.com"}, {"text", QJsonObject{{"assistant", "a"}, {"ask", "b"}}}}));
    EXPECT_FALSE(store.contains(QStringLiteral("zephyl.mac.unsentText.v1")));
    records.write(name, me, R"({"owner":"me@example.com","text":{"assistant":"kept","ask":"asked"}})");
    EXPECT_EQ(texts.load(QStringLiteral("ME@example.com")),
              (UnsentTextStore::Text{QStringLiteral("kept"), QStringLiteral("asked")}));

    const QByteArray damaged[] = {
        R"({"owner":"me@example.com","text":{"assistant":"a"}})",
        R"({"owner":"me@example.com","text":{"assistant":"a","ask":7}})",
        R"({"owner":"me@example.com"})",
        R"(["me@example.com"])",
        R"({"owner":"someone@else.org","text":{"assistant":"a","ask":"b"}})",
        "not json",
        "",
    };
    for (const QByteArray &data : damaged) {
        records.write(name, me, data);
        EXPECT_EQ(texts.load(QStringLiteral("me@example.com")), UnsentTextStore::Text{}) << data.constData();
    }

    // A sixth account pushes out nobody's text; an emptied one leaves no record.
    for (const char *owner : {"a@x.org", "b@x.org", "c@x.org", "d@x.org", "me@example.com", "e@x.org"})
        texts.save(QString::fromLatin1(owner), {QString::fromLatin1(owner), QString()});
    EXPECT_EQ(texts.load(QStringLiteral("a@x.org")).assistant, QStringLiteral("a@x.org"));
    texts.save(QStringLiteral("c@x.org"), {});
    EXPECT_EQ(records.owners(), (QStringList{"a@x.org", "b@x.org", "d@x.org", "e@x.org", "me@example.com"}));
}

// The composer's post: the stored form written out, a 64-bit plan draft id
// exact, damaged ones refused.
TEST(Records, TheComposersPostIsStoredExactlyAndOnlyForItsOwner)
{
    DefaultsStore store;
    RecordStore &records = RecordStore::of(store);
    const QString me = QStringLiteral("me@example.com");
    KeptComposerStore posts(records);
    const KeptComposerPost post{PublishFormat::carousel, QStringLiteral("Words"), QStringLiteral("#a"),
                                QStringLiteral("K1"), QStringLiteral("K2"), std::numeric_limits<qint64>::max() - 1};
    posts.save(QStringLiteral("Me@Example.com"), post);
    EXPECT_EQ(*records.read(QStringLiteral("composer"), me),
              QByteArray(R"({"caption":"Words","draftKey":"K2","format":"carousel","hashtags":"#a","key":"K1",)"
                         R"("owner":"me@example.com","planDraftID":9223372036854775806})"));
    EXPECT_EQ(posts.load(me), post);
    EXPECT_EQ(posts.load(QStringLiteral("other@example.com")), std::nullopt);
    // With the key an earlier version went out under, and what went under it.
    KeptComposerPost spent = post;
    spent.spent = PendingPublication{QStringLiteral("K0"), QStringLiteral("p0"), true, QStringLiteral("w0")};
    posts.save(me, spent);
    EXPECT_TRUE(records.read(QStringLiteral("composer"), me)
                    ->endsWith(R"("spent":{"draft":true,"key":"K0","post":"p0","words":"w0"}})"));
    EXPECT_EQ(posts.load(me), spent);
    for (const QByteArray damaged : {QByteArray(R"({"owner":"me@example.com","format":"feed"})"),
                                     QByteArray(R"({"caption":"","draftKey":"","format":"feed","hashtags":"","key":"","owner":"me@example.com","spent":{"key":"K0"}})"),
                                     QByteArray(R"({"caption":"","draftKey":"","format":"post","hashtags":"","key":"","owner":"me@example.com"})"),
                                     QByteArray(R"({"caption":"","draftKey":"","format":"feed","hashtags":"","key":"","owner":"me@example.com","planDraftID":1.5})")}) {
        records.write(QStringLiteral("composer"), me, damaged);
        EXPECT_EQ(posts.load(me), std::nullopt) << damaged.constData();
    }
    posts.remove(me);
    EXPECT_FALSE(records.holds(QStringLiteral("composer"), me));

    // Publications whose fate is not known: the stored form written out (a
    // draft on the service stays one after a restart), the oldest going first
    // past the cap.
    PendingPublicationStore pending(records);
    pending.save(QStringLiteral("ME@example.com"), {{QStringLiteral("K"), QStringLiteral("P"), true, QStringLiteral("W")}});
    EXPECT_EQ(*records.read(QStringLiteral("pending-publications"), me),
              QByteArray(R"({"owner":"me@example.com","pending":[{"draft":true,"key":"K","post":"P","words":"W"}]})"));
    EXPECT_EQ(PendingPublicationStore(records).load(me), (QList<PendingPublication>{{"K", "P", true, "W"}}));
    QList<PendingPublication> many;
    for (int i = 1; i <= PendingPublicationStore::kKept + 1; ++i)
        many.append({QStringLiteral("K%1").arg(i), QStringLiteral("P"), false});
    pending.save(me, many);
    const QList<PendingPublication> kept = pending.load(me);
    ASSERT_EQ(kept.size(), PendingPublicationStore::kKept);
    EXPECT_EQ(kept.first().key, QStringLiteral("K2")) << "the oldest went";
    EXPECT_EQ(kept.last().key, QStringLiteral("K21"));

    // A draft editor's words, written under an address in capitals, are the
    // account's whichever way the service writes it next.
    DraftEditStore edits(records);
    KeptDraftEdit edit;
    edit.draft.id = 7;
    edit.draft.caption = QStringLiteral("typed");
    edit.shown.id = 7;
    edits.save(QStringLiteral("Me@Example.COM"), edit);
    for (const QString &as : {me, QStringLiteral("ME@EXAMPLE.com")}) {
        const QList<KeptDraftEdit> back = edits.load(as);
        ASSERT_EQ(back.size(), 1) << as.toStdString();
        EXPECT_EQ(back.first().draft.caption, QStringLiteral("typed"));
    }
}

TEST(Records, SixAndMoreAccountsNeverPushOutWhatAnAccountHasNotSent)
{
    const QString dir = zktest::tempDir() + QStringLiteral("/many-accounts");
    const QString first = QStringLiteral("first@example.com");
    {
        RecordStore records(dir);
        UnsentTextStore texts(records);
        // The account written longest ago holds unsent work.
        texts.save(first, {QStringLiteral("half a question"), QString()});
        for (int i = 2; i <= 8; ++i)
            texts.save(QStringLiteral("user%1@example.com").arg(i), {QStringLiteral("typed"), QString()});
    }
    // The folders name the accounts: their owner's alone, and made so again at
    // a start that finds them open to everyone.
    const auto mode = [](const QString &path) {
        struct stat status {};
        return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0u;
    };
    const QString firstFolder = dir + u'/' + RecordStore::folderName(first);
    EXPECT_EQ(mode(dir), 0700u);
    EXPECT_EQ(mode(firstFolder), 0700u);
    ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(firstFolder).constData(), 0755), 0);
    RecordStore again(dir);
    EXPECT_EQ(mode(dir), 0700u);
    EXPECT_EQ(mode(firstFolder), 0700u);
    EXPECT_EQ(again.owners().size(), 8);
    EXPECT_EQ(UnsentTextStore(again).load(first).assistant, QStringLiteral("half a question"));
    // What holds nothing is gone with its folder.
    UnsentTextStore(again).save(QStringLiteral("user2@example.com"), {});
    EXPECT_FALSE(QFileInfo::exists(dir + u'/' + RecordStore::folderName(QStringLiteral("user2@example.com"))));
    // Removing what was never written removes nothing and fails nothing.
    EXPECT_TRUE(again.remove(QStringLiteral("kept-plan"), QStringLiteral("user2@example.com")));
    EXPECT_EQ(again.writeProblem(), std::nullopt);

    // Only a file written here is read, and only up to what a record holds: a
    // pipe (which would wait for ever), a link (even to a record's own bytes)
    // or a file larger than any record counts as absent, at once.
    const QString record = firstFolder + QStringLiteral("/unsent-text.json");
    const QString elsewhere = dir + QStringLiteral("/elsewhere.json");
    ASSERT_TRUE(QFile::rename(record, elsewhere));
    ASSERT_TRUE(QFile::link(elsewhere, record));
    EXPECT_EQ(again.read(QStringLiteral("unsent-text"), first), std::nullopt) << "through a link";
    ASSERT_TRUE(QFile::remove(record));
    ASSERT_EQ(::mkfifo(QFile::encodeName(record).constData(), 0600), 0);
    EXPECT_EQ(again.read(QStringLiteral("unsent-text"), first), std::nullopt) << "a pipe";
    ASSERT_TRUE(QFile::remove(record));
    ASSERT_TRUE(QFile::rename(elsewhere, record));
    ASSERT_TRUE(QFile::resize(record, FileRead::kLargest + 1));
    EXPECT_EQ(again.read(QStringLiteral("unsent-text"), first), std::nullopt) << "too large";
    ASSERT_TRUE(QFile::resize(record, 4096));
    EXPECT_EQ(FileRead::whole(record, 4096, false).bytes.size(), 4096) << "exactly the largest size is read";
    EXPECT_EQ(FileRead::whole(record, 4095, false).kind, FileRead::Result::Kind::refused);
}

TEST(Records, AWriteThatFailsIsKeptHereAndARestartNeverFindsAnOlderRecord)
{
    // Told once and written by the next change: the model's own test (PlanDrafts).
    zktest::PrivateMount disk(64);
    if (disk.path().isEmpty())
        GTEST_SKIP() << "this machine does not let a test mount a file system of its own";
    const QString dir = disk.path() + QStringLiteral("/records");
    const QString kitty = QStringLiteral("kitty@example.com"), name = QStringLiteral("unsent-text");
    const QString plan = QStringLiteral("kept-plan");
    RecordStore store(dir);
    ASSERT_TRUE(store.write(name, kitty, "older"));

    // A full disk: newer typing (more than the older record's room) waits here, as typed.
    ASSERT_TRUE(disk.fill());
    const QByteArray newer(6000, 'n');
    EXPECT_FALSE(store.write(name, kitty, newer));
    EXPECT_EQ(store.writeProblem(), FileWriteError(FileWriteError::Reason::diskFull, disk.path()));
    EXPECT_EQ(store.read(name, kitty), newer);
    EXPECT_EQ(RecordStore(dir).read(name, kitty), std::nullopt) << "a restart never brings back the older record";
    ASSERT_TRUE(disk.unfill());
    ASSERT_TRUE(store.write(plan, kitty, "plan"));

    // A read-only folder: said as such; a removal that waits is one for reads too.
    ASSERT_TRUE(disk.setReadOnly(true));
    EXPECT_FALSE(store.remove(plan, kitty));
    EXPECT_EQ(store.writeProblem(), FileWriteError(FileWriteError::Reason::notWritable, disk.path()));
    EXPECT_EQ(store.read(plan, kitty), std::nullopt);
    ASSERT_TRUE(disk.setReadOnly(false));
    store.writeAgain();
    EXPECT_EQ(store.writeProblem(), std::nullopt);
    EXPECT_EQ(RecordStore(dir).read(name, kitty), newer);
    EXPECT_EQ(RecordStore(dir).read(plan, kitty), std::nullopt);
}

TEST(Records, OnlyTheLettersAToZAreFoldedInAnAccountsKey)
{
    // An address the service gives in capitals keeps its folder of before.
    EXPECT_EQ(RecordStore::folderName(QStringLiteral("Kitty@Example.COM")), QStringLiteral("kitty@example%2Ecom"));
    // Every letter from A to Z, and not the signs on either side of them.
    EXPECT_EQ(RecordStore::ownerKey(QStringLiteral("@ABCDEFGHIJKLMNOPQRSTUVWXYZ[")),
              QStringLiteral("@abcdefghijklmnopqrstuvwxyz["));
    // The Kelvin sign is not the letter k: that address never reads kitty's text.
    const QString kelvin = QString::fromUtf16(u"\u212Aitty@example.com");
    EXPECT_NE(RecordStore::folderName(kelvin), RecordStore::folderName(QStringLiteral("kitty@example.com")));
    Harness h;
    UnsentTextStore(h.store).save(QStringLiteral("kitty@example.com"), {QStringLiteral("kitty's draft"), QString()});
    EXPECT_EQ(UnsentTextStore(h.store).load(kelvin), UnsentTextStore::Text{});
    AppModel &m = h.make();
    m.restoreUnsentText(kelvin);
    EXPECT_EQ(m.assistantDraft(), QString());
    EXPECT_EQ(m.inputOwner(), kelvin);
}

TEST(UnsentText, AKeystrokeWritesItsOwnSmallFileAndNeverTheSettings)
{
    const QString dir = zktest::tempDir();
    const QString settings = dir + QStringLiteral("/zephyl-kitty/defaults.json");
    const QString owner = QStringLiteral("../Kitty@Example.com");
    const auto bytes = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    {
        DefaultsStore store(settings);
        store.setString(QStringLiteral("zephyl.mac.companion.name"), QStringLiteral("Miso"));
        const QByteArray before = bytes(settings);
        UnsentTextStore texts(store);
        QSignalSpy writes(&store, &DefaultsStore::changed);
        for (int i = 1; i <= 20; ++i)
            texts.save(owner, {QString(i, QLatin1Char('a')), QStringLiteral("ask")});
        EXPECT_EQ(writes.count(), 0);
        EXPECT_EQ(bytes(settings), before);
    }
    // On disk beside the settings, in a folder of the account's own that no
    // address can lead out of, and read back by a later start.
    const QString folder = dir + QStringLiteral("/zephyl-kitty/records/%2E%2E%2Fkitty@example%2Ecom");
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/unsent-text.json")));
    EXPECT_EQ(QDir(dir + QStringLiteral("/zephyl-kitty")).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("records")});
    DefaultsStore again(settings);
    EXPECT_EQ(again.string(QStringLiteral("zephyl.mac.companion.name")), QStringLiteral("Miso"));
    EXPECT_EQ(UnsentTextStore(again).load(owner), (UnsentTextStore::Text{QString(20, QLatin1Char('a')), QStringLiteral("ask")}));
    EXPECT_EQ(RecordStore::of(again).owners(), QStringList{owner.toLower()});

    // Whatever the address, its records stay inside the records folder, each
    // in a folder of its own that the system can make, and are read back.
    const QString records = dir + QStringLiteral("/zephyl-kitty/records");
    const QString hostile[] = {
        QStringLiteral("a/b@example.com"),
        QStringLiteral(".."),
        QStringLiteral("."),
        QStringLiteral("/etc/passwd"),
        QString::fromUtf16(u"nul\0inside@example.com", 23),
        QString(300, QLatin1Char('l')) + QStringLiteral("@example.com"),
        QString(120, QChar(0x0436)) + QStringLiteral("@example.com"),
        QString(60, QLatin1Char('.')),
    };
    for (const QString &address : hostile) {
        SCOPED_TRACE(address.left(40).toStdString());
        RecordStore store(records);
        ASSERT_TRUE(store.write(QStringLiteral("unsent-text"), address, "kept"));
        EXPECT_EQ(RecordStore(records).read(QStringLiteral("unsent-text"), address), QByteArray("kept"));
        EXPECT_EQ(store.read(QStringLiteral("unsent-text"), address + u'x'), std::nullopt);
        const QString folder = RecordStore::folderName(address);
        EXPECT_FALSE(folder.contains(u'/') || folder.contains(QChar(0)) || folder == QLatin1String(".") ||
                     folder == QLatin1String(".."));
        EXPECT_LE(folder.toUtf8().size(), 255);
        EXPECT_TRUE(QFile::exists(records + u'/' + folder + QStringLiteral("/unsent-text.json")));
    }
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{QStringLiteral("zephyl-kitty")});
    EXPECT_EQ(QDir(dir + QStringLiteral("/zephyl-kitty")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("defaults.json"), QStringLiteral("records")}));
}

TEST(UnsentText, AnAccountsListThatCannotBeReadCountsAsAbsent)
{
    const QString dir = zktest::tempDir() + QStringLiteral("/records");
    const auto write = [&](const QString &name, const QByteArray &bytes) {
        QDir().mkpath(dir);
        QFile file(dir + u'/' + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    const QString kitty = QStringLiteral("kitty@example.com");
    const QByteArray lists[] = {
        "not json",
        QByteArray("\0\xff\xfe", 3),
        R"({"kitty@example.com": true})",
        R"([1, null, {}, ""])",
        // Written by hand, in other letters, and far too long: the account that
        // writes is never taken for an older one and its records dropped.
        R"(["a@x.org", "b@x.org", "c@x.org", "d@x.org", "KITTY@example.com", "e@x.org", "f@x.org", "g@x.org"])",
    };
    for (const QByteArray &list : lists) {
        SCOPED_TRACE(list.constData());
        QDir(dir).removeRecursively();
        ASSERT_TRUE(RecordStore(dir).write(QStringLiteral("kept-plan"), kitty, "plan"));
        write(QStringLiteral("accounts.json"), list);
        {
            RecordStore store(dir);
            ASSERT_TRUE(store.write(QStringLiteral("unsent-text"), kitty, "text"));
            EXPECT_EQ(store.read(QStringLiteral("kept-plan"), kitty), QByteArray("plan"));
            EXPECT_EQ(store.owners(), QStringList{kitty});
        }
        RecordStore again(dir);
        EXPECT_EQ(again.owners(), QStringList{kitty}) << "the accounts are those with records";
        EXPECT_EQ(again.read(QStringLiteral("kept-plan"), kitty), QByteArray("plan"));
    }
    // A list that is no file at all: the records are still found by their folders.
    QDir(dir).removeRecursively();
    QDir().mkpath(dir + QStringLiteral("/accounts.json"));
    {
        RecordStore store(dir);
        EXPECT_TRUE(store.write(QStringLiteral("unsent-text"), kitty, "text"));
    }
    EXPECT_EQ(RecordStore(dir).owners(), QStringList{kitty});
    EXPECT_EQ(RecordStore(dir).read(QStringLiteral("unsent-text"), kitty), QByteArray("text"));
}

TEST(UnsentText, SingleRecordsOfAnOlderVersionMoveToTheirAccounts)
{
    LanguageGuard language;
    Harness h;
    h.store.setData(QStringLiteral("zephyl.mac.unsentText.v1"),
                    R"({"owner":"kitty@example.com","text":{"assistant":"old draft","ask":"old question"}})");
    h.store.setData(QStringLiteral("zephyl.mac.unsavedPlan.v1"),
                    R"({"owner":"dog@example.com","drafts":[{"id":3,"title":"kept","caption":"","hashtags":"","format":"post","scheduledAt":"","hiddenFromGrid":false}]})");
    h.store.setData(QStringLiteral("zephyl.mac.catChat"),
                    R"([{"id":"00000000-0000-0000-0000-000000000001","mine":true,"text":"hello","look":"neutral"}])");
    AppModel &m = h.make();
    EXPECT_TRUE(m.catChat().isEmpty()) << "nobody is known yet";
    EXPECT_FALSE(h.store.contains(QStringLiteral("zephyl.mac.unsentText.v1")));
    EXPECT_FALSE(h.store.contains(QStringLiteral("zephyl.mac.unsavedPlan.v1")));
    EXPECT_FALSE(h.store.contains(QStringLiteral("zephyl.mac.catChat")));
    EXPECT_EQ(UnsentTextStore(h.store).load(QStringLiteral("kitty@example.com")).ask, QStringLiteral("old question"));
    const auto plan = UnsavedPlanStore(h.store).load(QStringLiteral("dog@example.com"));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->drafts.size(), 1);
    EXPECT_EQ(plan->base, QList<ZephylWire::PlanDraft>()) << "an older record knew no base";
    EXPECT_EQ(CatChatLine::load(RecordStore::of(h.store), QStringLiteral("kitty@example.com")).size(), 1);
    EXPECT_TRUE(CatChatLine::load(RecordStore::of(h.store), QStringLiteral("dog@example.com")).isEmpty());
}

TEST(UnsentText, TextsAreCutAt6000CharactersAsTheUserSeesThem)
{
    DefaultsStore store;
    UnsentTextStore texts(store);
    const QString owner = QStringLiteral("me@example.com");
    const QString family = QStringLiteral("👨‍👩‍👧"); // five code points, one character
    const QString flag = QStringLiteral("🇳🇴");
    const QString accented = QStringLiteral("e\u0301");

    struct Case {
        QString text;
        QString kept;
    };
    const QString a5999(5999, QLatin1Char('a'));
    const Case cases[] = {
        {QString(7000, QLatin1Char('x')), QString(6000, QLatin1Char('x'))},
        {a5999 + family + QStringLiteral("b"), a5999 + family},
        {a5999 + QStringLiteral("b") + family, a5999 + QStringLiteral("b")},
        {a5999 + flag + flag, a5999 + flag},
        {a5999 + accented + accented, a5999 + accented},
        {QString(6000, QLatin1Char('y')), QString(6000, QLatin1Char('y'))},
        {family.repeated(6001), family.repeated(6000)},
        // Qt reports a boundary inside the emoji when a Devanagari letter follows it.
        {a5999 + QStringLiteral("😀ष"), a5999 + QStringLiteral("😀")},
        {a5999 + QStringLiteral("😀ष😀ष"), a5999 + QStringLiteral("😀")},
    };
    for (const Case &c : cases) {
        texts.save(owner, {c.text, c.text});
        const auto back = texts.load(owner);
        EXPECT_EQ(back.assistant, c.kept) << c.text.size();
        EXPECT_EQ(back.ask, c.kept);
    }
}
