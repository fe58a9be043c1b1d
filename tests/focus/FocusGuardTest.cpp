#include <gtest/gtest.h>

#include "design/L10n.h"
#include "focus/FocusGuard.h"

namespace {

class FakeSource final : public WindowSource {
public:
    bool isTrusted = true;
    std::vector<Application> apps;
    mutable int reads = 0;

    bool trusted() const override { return isTrusted; }
    std::vector<Application> applications() const override
    {
        ++reads;
        return apps;
    }
    bool minimize(uint64_t) override { return true; }
};

WindowSource::Window titled(const QString &title, uint64_t element = 0, std::optional<bool> minimized = false,
                            std::optional<QRectF> frame = QRectF(10, 20, 300, 200))
{
    return WindowSource::Window{element, title, minimized, frame};
}

} // namespace

TEST(FocusGuard, KeywordsAreTheTwelveFeedWordsInOrder)
{
    const std::array<QString, 12> expected = {
        "instagram", "reels", "tiktok", "youtube", "shorts", "twitter",
        "x.com", "threads", "facebook", "vk.com", "вконтакте", "лента",
    };
    EXPECT_EQ(FocusGuard::keywords, expected);
}

TEST(FocusGuard, TitlesMatchAfterFullUnicodeLowerCasing)
{
    struct Case {
        const char *title;
        std::optional<QString> keyword;
    };
    const Case cases[] = {
        {"Reels • Instagram", QStringLiteral("instagram")}, // first keyword in table order wins
        {"Лента новостей", QStringLiteral("лента")},
        {"ЛЕНТА", QStringLiteral("лента")},
        {"ВКонтакте — Мессенджер", QStringLiteral("вконтакте")},
        {"YOUTUBE SHORTS", QStringLiteral("youtube")},
        {"Home / X.COM", QStringLiteral("x.com")},
        {"Threads of the story", QStringLiteral("threads")},
        {"Quarterly report.ods", std::nullopt},
        {"", std::nullopt},
        {"Instagr am", std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FocusGuard::matchingKeyword(QString::fromUtf8(c.title)), c.keyword) << c.title;
}

TEST(FocusGuard, UntrustedSourceGivesNothingAndIsNotRead)
{
    FakeSource source;
    source.isTrusted = false;
    source.apps = {{812, "Browser X", true, {titled("Instagram")}}};
    EXPECT_TRUE(FocusGuard::scan(source).empty());
    EXPECT_EQ(source.reads, 0);
    EXPECT_FALSE(WindowSource::system().trusted()) << "the default system source, before the shell installs one";
    EXPECT_TRUE(FocusGuard::scan().empty());
}

TEST(FocusGuard, ScanKeepsOrderIndicesAndLeavesOutWhatDoesNotCount)
{
    L10n::setPreference(AppLanguage::en);
    FakeSource source;
    source.apps = {
        {812,
         "Firefox",
         true,
         {
             titled("Reels • Instagram", 1),
             titled("Quarterly report", 2),                    // no keyword, index 1 still counted
             WindowSource::Window{3, std::nullopt, false, {}},    // title unreadable
             titled("Лента новостей", 4, std::nullopt, std::nullopt), // state and frame unreadable: kept
             titled("TikTok", 5, true),                        // minimised
         }},
        {900, "Panel", false, {titled("youtube")}}, // not a regular application
        {77, "", true, {titled("Facebook", 9)}},
    };
    const std::vector<DistractingWindow> found = FocusGuard::scan(source);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0], (DistractingWindow{"812-0", "Firefox", "Reels • Instagram", QRectF(10, 20, 300, 200), 1}));
    EXPECT_EQ(found[1], (DistractingWindow{"812-3", "Firefox", "Лента новостей", std::nullopt, 4}));
    EXPECT_EQ(found[2].id, QStringLiteral("77-0"));
    EXPECT_EQ(found[2].appName, QStringLiteral("Browser")) << "an application without a name";
    EXPECT_EQ(found[2].title, QStringLiteral("Facebook")) << "the title as set, not lower-cased";

    L10n::setPreference(AppLanguage::ru);
    EXPECT_EQ(FocusGuard::scan(source)[2].appName, QStringLiteral("Браузер"));
    L10n::setPreference(AppLanguage::system);
}

TEST(FocusGuard, EnormousTitlesInAnyScriptAreMatchedWithoutTrouble)
{
    QString huge;
    for (int i = 0; i < 20000; ++i)
        huge += QStringLiteral("ж😺");
    FakeSource source;
    source.apps = {{5, "App", true, {titled(huge), titled(huge + QStringLiteral("ЛЕНТА"))}}};
    const auto found = FocusGuard::scan(source);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, QStringLiteral("5-1"));
}
