#include <gtest/gtest.h>

#include "companion/CatLookGuess.h"
#include "companion/SpeechGovernor.h"

#include <QTimeZone>

#include <iterator>

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

namespace {
// The phrase lists as the product describes them, to catch a misspelt or a
// missing phrase anywhere in the lists.
const char *const failurePhrases[] = {
    "не удалось", "не получилось", "не вышло", "не могу", "не смог", "ошибк", "к сожалению", "увы",
    "sorry", "couldn't", "could not", "can't", "cannot", "failed", "error", "unfortunately",
    "lo siento", "no pude", "no puedo", "no se pudo", "por desgracia",
    "leider", "konnte nicht", "tut mir leid", "fehler",
    "désolé", "je n'ai pas pu", "impossible", "erreur", "malheureusement",
    "desculpe", "não consegui", "não foi possível", "infelizmente",
    "mi dispiace", "non sono riuscit", "purtroppo", "errore",
    "üzgünüm", "yapamadım", "maalesef",
    "آسف", "للأسف", "لم أستطع", "تعذر",
    "מצטער", "לצערי", "לא הצלחתי", "שגיאה",
    "beklager", "klarte ikke", "dessverre",
    "tyvärr", "förlåt", "kunde inte",
    "desværre", "kunne ikke",
    "helaas", "lukte niet", "kon niet",
};
const char *const successPhrases[] = {
    "готово", "сделано", "сделал", "опубликовал", "опубликован", "запланировал", "запланирован", "отлично",
    "здорово", "поздравляю",
    "done", "published", "scheduled", "great", "nice work", "congrat",
    "listo", "hecho", "publicad", "programad", "genial",
    "erledigt", "veröffentlicht", "geplant", "glückwunsch",
    "c'est fait", "publié", "programmé", "bravo", "félicitations",
    "pronto", "agendad", "ótimo", "parabéns",
    "fatto", "pubblicat", "programmat", "ottimo", "complimenti",
    "tamamdır", "yayınland", "planland", "harika", "tebrik",
    "نُشر", "رائع", "مبروك",
    "פורסם", "מעולה", "כל הכבוד",
    "publisert", "planlagt", "flott", "gratulerer",
    "publicerat", "schemalagt", "toppen", "grattis",
    "udgivet", "tillykke",
    "gepubliceerd", "ingepland", "gefeliciteerd",
};
} // namespace

TEST(CatLook, PhraseListsAreTheDescribedOnesInOrder)
{
    ASSERT_EQ(CatLooks::failurePhrases.size(), std::size(failurePhrases));
    ASSERT_EQ(CatLooks::successPhrases.size(), std::size(successPhrases));
    for (size_t i = 0; i < std::size(failurePhrases); ++i)
        EXPECT_EQ(CatLooks::failurePhrases[i], QString::fromUtf8(failurePhrases[i])) << "failure #" << i + 1;
    for (size_t i = 0; i < std::size(successPhrases); ++i)
        EXPECT_EQ(CatLooks::successPhrases[i], QString::fromUtf8(successPhrases[i])) << "success #" << i + 1;
    // A phrase typed or pasted as base letters with combining marks is the same phrase.
    EXPECT_EQ(CatLooks::guess(QStringLiteral("De\u0301sole\u0301.")), CatLook::concerned);
    EXPECT_EQ(CatLooks::guess(QStringLiteral("C'est publie\u0301.")), CatLook::happy);
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
