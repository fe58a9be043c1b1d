#include <gtest/gtest.h>

#include "companion/CatLookGuess.h"
#include "companion/SpeechGovernor.h"

#include <QTimeZone>

namespace {

const QDateTime t0(QDate(2025, 6, 1), QTime(9, 0), QTimeZone::utc());
QDateTime at(double seconds) { return t0.addMSecs(qint64(seconds * 1000)); }

} // namespace

TEST(SpeechGovernor, GapAndRepeatRules)
{
    SpeechGovernor g;
    EXPECT_EQ(g.minimumGap, 90);
    EXPECT_EQ(g.repeatAfter, 1800);
    EXPECT_EQ(g.perHour, 6);
    EXPECT_TRUE(g.allows("update ready", at(0)));
    EXPECT_FALSE(g.allows("update ready", at(60)));
    EXPECT_FALSE(g.allows("something else", at(60)));
    EXPECT_FALSE(g.allows("something else", at(89.999)));
    EXPECT_TRUE(g.allows("something else", at(90))) << "exactly the gap is enough";
    EXPECT_FALSE(g.allows("update ready", at(1000))) << "same remark within 1800 s";
    EXPECT_FALSE(g.allows("update ready", at(1799.999)));
    EXPECT_TRUE(g.allows("update ready", at(1800)));
}

TEST(SpeechGovernor, AtMostSixAnHourOverAnyHour)
{
    SpeechGovernor g;
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(g.allows(QString::number(i), at(i * 600))) << i;
    EXPECT_TRUE(g.allows("seventh", at(3600))) << "the first has left the hour (exactly 3600 s old)";
    EXPECT_EQ(g.unasked.size(), 6u);
    EXPECT_EQ(g.unasked.front(), at(600));

    SpeechGovernor tight;
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(tight.allows(QString::number(i), at(i * 100))) << i;
    EXPECT_FALSE(tight.allows("seventh", at(600)));
}

TEST(SpeechGovernor, ARefusalRecordsNothingButStillLetsOldTimesGo)
{
    SpeechGovernor g;
    g.perHour = 2;
    ASSERT_TRUE(g.allows("a", at(0)));
    ASSERT_TRUE(g.allows("b", at(100)));
    const auto lastBefore = g.lastSpokeAt;
    const auto saidBefore = g.said;
    EXPECT_FALSE(g.allows("c", at(200))) << "two in this hour already";
    EXPECT_EQ(g.lastSpokeAt, lastBefore);
    EXPECT_EQ(g.said, saidBefore);
    EXPECT_EQ(g.unasked.size(), 2u);
    SpeechGovernor h;
    h.perHour = 1;
    ASSERT_TRUE(h.allows("a", at(0)));
    EXPECT_FALSE(h.allows("b", at(3599)));
    EXPECT_EQ(h.unasked.size(), 1u);
    EXPECT_TRUE(h.allows("b", at(3600)));
    EXPECT_EQ(h.unasked, std::vector<QDateTime>{at(3600)}) << "the hour-old entry went";
}

TEST(CatLook, GuessTable)
{
    struct Case {
        const char *reply;
        CatLook look;
    };
    const Case cases[] = {
        {"Sorry, I can't reach the server right now.", CatLook::concerned},
        {"Done! Your reel is in the plan for Friday.", CatLook::happy},
        {"Which day suits you best?", CatLook::curious},
        {"Your plan has three drafts this week.", CatLook::neutral},
        {"Done with two posts, but the third one hit an error.", CatLook::concerned},
        {"Shall I move it to Monday (or Tuesday?)", CatLook::curious},
        {"Which one?   \n", CatLook::curious},
        {"That went greatly.", CatLook::happy},
        {"Errors happen.", CatLook::concerned},
        {"هل تريد النشر اليوم؟", CatLook::neutral}, // only the ASCII question mark counts
        {"", CatLook::neutral},
        {"К сожалению, не удалось загрузить видео.", CatLook::concerned},
        {"ГОТОВО — пост опубликован.", CatLook::happy},
        {"LEIDER KONNTE ICH DAS NICHT SPEICHERN", CatLook::concerned},
        {"Tebrikler, yayınlandı!", CatLook::happy},
        {"לצערי זה לא עבד", CatLook::concerned},
        {"Gefeliciteerd!", CatLook::happy},
        {"¿Qué día prefieres?", CatLook::curious},
        {"Is it (really) done?", CatLook::happy},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CatLooks::guess(QString::fromUtf8(c.reply)), c.look) << c.reply;
}

TEST(CatLook, PhraseListsMatchTheirDescribedCounts)
{
    EXPECT_EQ(CatLooks::failurePhrases.size(), 60u);
    EXPECT_EQ(CatLooks::successPhrases.size(), 63u);
    EXPECT_EQ(CatLooks::failurePhrases.front(), QStringLiteral("не удалось"));
    EXPECT_EQ(CatLooks::failurePhrases.back(), QStringLiteral("kon niet"));
    EXPECT_EQ(CatLooks::successPhrases.front(), QStringLiteral("готово"));
    EXPECT_EQ(CatLooks::successPhrases.back(), QStringLiteral("gefeliciteerd"));
    // Each phrase, also in capitals where the capitals lower-case back to it
    // (Turkish "ı" capitalises to "I", which lower-cases to "i").
    for (const QString &p : CatLooks::failurePhrases) {
        EXPECT_EQ(CatLooks::guess(QStringLiteral("Hm, ") + p), CatLook::concerned) << p.toStdString();
        if (p.toUpper().toLower() == p) {
            EXPECT_EQ(CatLooks::guess(p.toUpper()), CatLook::concerned) << p.toStdString();
        }
    }
    for (const QString &p : CatLooks::successPhrases)
        EXPECT_EQ(CatLooks::guess(p + QStringLiteral("?")), CatLook::happy) << p.toStdString();
}
