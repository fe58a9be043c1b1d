#include <gtest/gtest.h>

#include "app/AskIntent.h"

#include <ostream>

void PrintTo(const AskIntent &intent, std::ostream *os)
{
    switch (intent.kind) {
    case AskIntent::Kind::startFocus: *os << "startFocus(" << intent.focusMinutes << ")"; return;
    case AskIntent::Kind::openSurface: *os << "openSurface(" << Surfaces::rawValue(intent.surface).toStdString() << ")"; return;
    case AskIntent::Kind::stopFocus: *os << "stopFocus"; return;
    case AskIntent::Kind::tuckAway: *os << "tuckAway"; return;
    case AskIntent::Kind::compose: *os << "compose"; return;
    }
}

namespace {

struct Case {
    const char *text;
    std::optional<AskIntent> expected;
};

void expectAll(std::initializer_list<Case> cases)
{
    for (const Case &c : cases) {
        const auto got = AskIntent::detect(QString::fromUtf8(c.text));
        EXPECT_EQ(got, c.expected) << '"' << c.text << '"';
    }
}

// The phrase lists as written in the product's description, to catch a
// misspelt or missing phrase.
const char *const stopWords[] = {
    "stop focus", "end focus", "stop the timer", "закончи фокус", "стоп фокус", "останови таймер", "хватит фокус",
    "заверши сессию", "termina el foco", "para el temporizador", "detén el temporizador", "fokus beenden",
    "timer stoppen", "beende den fokus", "arrête le focus", "arrête le minuteur", "termine la session", "parar o foco",
    "encerrar o foco", "pare o temporizador", "ferma il timer", "termina la concentrazione", "ferma la concentrazione",
    "odağı bitir", "zamanlayıcıyı durdur", "odaklanmayı bitir", "أوقف المؤقت", "أنهِ التركيز", "أنه التركيز",
    "עצור את הטיימר", "סיים ריכוז", "תסיים את הריכוז", "stopp fokus", "stopp timeren", "avslutt fokus",
    "avsluta fokus", "stoppa timern", "stop fokus", "stop timeren", "afslut fokus", "stop focus", "stop de timer",
    "beëindig de focus",
};
const char *const tuckWords[] = {
    "hide instagram", "close instagram", "hide the feed", "tuck", "distract", "убери инстаграм", "закрой инстаграм",
    "убери ленту", "спрячь", "отвлека", "закрой рилс", "убери рилс", "oculta instagram", "esconde instagram",
    "distrae", "blende instagram aus", "versteck instagram", "ablenk", "cache instagram", "distrai", "distrac",
    "esconde o instagram", "oculta o instagram", "distraç", "nascondi instagram", "distrazion", "mi distrae",
    "instagram'ı gizle", "instagramı gizle", "dikkatimi dağıt", "أخفِ إنستغرام", "اخف انستغرام", "يشتتني",
    "הסתר את אינסטגרם", "מסיח את דעתי", "skjul instagram", "distraher", "göm instagram", "distraherar",
    "skjul instagram", "distraherer", "verberg instagram", "leidt me af",
};
const char *const focusWords[] = {
    "focus", "pomodoro", "concentrate", "timer", "фокус", "сосредоточ", "сфокусир", "помодор", "таймер",
    "сконцентрир", "concentr", "enfoc", "foco", "focar", "temporizador", "fokus", "konzentr", "minuteur", "odak",
    "konsantr", "zamanlayıcı", "تركيز", "ركز", "ركّز", "مؤقت", "ריכוז", "תרכז", "פוקוס", "טיימר", "konsentr",
    "koncentr", "tidtaker",
};
const char *const askingWords[] = {
    "start", "begin", "let's", "lets ", "help me", "please", "run ", "set ", "запусти", "начни", "давай", "включи",
    "поставь", "помоги", "пожалуйста", "empieza", "empecemos", "inicia", "vamos", "pon ", "ayúdame", "por favor",
    "starte", "lass uns", "beginne", "hilf mir", "bitte", "lance", "commence", "démarre", "on se", "aide-moi",
    "s'il te plaît", "comece", "começa", "vamos", "me ajuda", "por favor", "avvia", "inizia", "facciamo", "aiutami",
    "per favore", "başlat", "hadi", "başla", "yardım et", "lütfen", "ابدأ", "لنبدأ", "شغّل", "شغل", "ساعدني",
    "من فضلك", "תתחיל", "תפעיל", "בוא נ", "בואי נ", "עזור לי", "בבקשה", "la oss", "begynn", "hjelp meg", "starta",
    "låt oss", "börja", "hjälp mig", "lad os", "begynd", "hjælp mig", "laten we", "begin", "help me", "alsjeblieft",
};
const char *const planWords[] = {"open plan", "show plan", "open the plan", "show me the plan", "открой план",
                                 "покажи план"};
const char *const gridWords[] = {"open grid", "show grid", "открой сетку", "покажи сетку"};
const char *const profileWords[] = {"open profile", "open settings", "открой профиль", "открой настройки",
                                    "подключи инстаграм", "connect instagram"};
const char *const composeWords[] = {"new post", "new reel", "compose", "новый пост", "новый рилс", "опубликуй",
                                    "запости"};

template <size_t N, size_t M>
void expectSameList(const std::array<QString, N> &code, const char *const (&literal)[M], const char *name)
{
    ASSERT_EQ(N, M) << name;
    for (size_t i = 0; i < N; ++i)
        EXPECT_EQ(code[i], QString::fromUtf8(literal[i])) << name << " #" << i + 1;
}

} // namespace

TEST(AskIntent, PhraseListsAreTheDescribedOnesInOrder)
{
    expectSameList(AskIntent::stopWords, stopWords, "stopWords");
    expectSameList(AskIntent::tuckWords, tuckWords, "tuckWords");
    expectSameList(AskIntent::focusWords, focusWords, "focusWords");
    expectSameList(AskIntent::askingWords, askingWords, "askingWords");
    expectSameList(AskIntent::planWords, planWords, "planWords");
    expectSameList(AskIntent::gridWords, gridWords, "gridWords");
    expectSameList(AskIntent::profileWords, profileWords, "profileWords");
    expectSameList(AskIntent::composeWords, composeWords, "composeWords");
}

TEST(AskIntent, EachPhraseAloneGivesItsCommand)
{
    // Also written decomposed (a base letter and its combining mark, as some
    // keyboards and pasted text give it): the same phrase, the same command.
    const auto expectEach = [](const auto &phrases, const AskIntent &command) {
        for (const char *p : phrases) {
            const QString text = QString::fromUtf8(p);
            EXPECT_EQ(AskIntent::detect(text), command) << p;
            EXPECT_EQ(AskIntent::detect(text.normalized(QString::NormalizationForm_D)), command) << p << " (decomposed)";
        }
    };
    expectEach(stopWords, AskIntent::stopFocus());
    expectEach(tuckWords, AskIntent::tuckAway());
    expectEach(focusWords, AskIntent::startFocus(25));
    expectEach(planWords, AskIntent::openSurface(Surface::plan));
    expectEach(gridWords, AskIntent::openSurface(Surface::grid));
    expectEach(profileWords, AskIntent::openSurface(Surface::profile));
    expectEach(composeWords, AskIntent::compose());
}

TEST(AskIntent, AskingWordsMakeALongerFocusSentenceACommand)
{
    const QString plain = QStringLiteral("we could have a focus block tomorrow");
    ASSERT_EQ(AskIntent::detect(plain), std::nullopt) << "seven words, no asking word";
    for (const char *p : askingWords) {
        const QString text = QStringLiteral("we could ") + QString::fromUtf8(p) + QStringLiteral(" have a focus block tomorrow");
        EXPECT_EQ(AskIntent::detect(text), AskIntent::startFocus(25)) << p;
    }
}

TEST(AskIntent, PrecedenceAndDescribedExamples)
{
    expectAll({
        {"focus 45 min", AskIntent::startFocus(45)},
        {"focus for 2 minutes please", AskIntent::startFocus(2)},
        {"фокус 30 минут", AskIntent::startFocus(30)},
        {"odak 20 dk", AskIntent::startFocus(20)},
        {"focus", AskIntent::startFocus(25)},
        {"please start a focus session", AskIntent::startFocus(25)},
        {"i cannot focus on anything today at all", std::nullopt},
        {"focus 999 min", AskIntent::startFocus(180)},
        {"focus 0 min", AskIntent::startFocus(1)},
        {"focus 30", AskIntent::startFocus(25)},
        {"stop focus", AskIntent::stopFocus()},
        {"can you stop focus?", std::nullopt},
        {"hide instagram", AskIntent::tuckAway()},
        {"открой план", AskIntent::openSurface(Surface::plan)},
        {"open settings", AskIntent::openSurface(Surface::profile)},
        {"new reel", AskIntent::compose()},
        {"", std::nullopt},
        // A question is never a command, whatever its question mark.
        {"new post?", std::nullopt},
        {"ابدأ التركيز؟", std::nullopt},
        {"? focus 10 min", std::nullopt},
        // First list first: stop over tuck over focus over the screens.
        {"stop focus and hide instagram", AskIntent::stopFocus()},
        {"hide instagram and focus 30 min", AskIntent::tuckAway()},
        {"focus 10 min then open plan", AskIntent::startFocus(10)},
        {"i really cannot focus so open plan now", AskIntent::openSurface(Surface::plan)},
        {"open grid and open profile", AskIntent::openSurface(Surface::grid)},
        {"new post about my new timer", AskIntent::compose()},
        // Full Unicode lower-casing, never byte-wise.
        {"FOCUS 45 MIN", AskIntent::startFocus(45)},
        {"ФОКУС 30 МИНУТ", AskIntent::startFocus(30)},
        {"ARRÊTE LE FOCUS", AskIntent::stopFocus()},
        {"ОТКРОЙ ПЛАН", AskIntent::openSurface(Surface::plan)},
        {"ODAK", AskIntent::startFocus(25)},
        // Words split at white space and punctuation; symbols are words.
        {"focus—now!", AskIntent::startFocus(25)},
        {"focus,now,ok,go", std::nullopt},
        {"focus 😺 😺 😺", std::nullopt},
        {"focus 😺 😺", AskIntent::startFocus(25)},
        // Phrases with a trailing space match only before a space.
        {"run the timer for the whole afternoon", AskIntent::startFocus(25)},
        {"we will rerun that timer", AskIntent::startFocus(25)},
        {"my timer settings look odd today", std::nullopt},
        {"טיימר 15 דק׳", AskIntent::startFocus(15)},
    });
}

TEST(AskIntent, MinutesReadTheWholeDigitRunThenClamp)
{
    struct M {
        const char *text;
        std::optional<int> minutes;
    };
    const M cases[] = {
        {"45 min", 45},        {"45min", 45},          {"  7 MINUTES", 7},       {"90 минут", 90},
        {"15 мин", 15},        {"10 dakika", 10},      {"5 dk", 5},              {"20 دقيقة", 20},
        {"3 دقائق", 3},         {"40 דקות", 40},         {"12 דק׳", 12},             {"30", std::nullopt},
        {"min 30", std::nullopt}, {"", std::nullopt},
        // The fault mended: "1000 min" is not "000 min" (one minute).
        {"focus 1000 min", 180}, {"focus 0000 min", 1}, {"focus 00045 min", 45},
        {"x12345678901234567890 min", 180},
        {"500 min", 180},      {"0 min", 1},           {"180 min", 180},         {"181 min", 180},
        // Only the digits 0-9 are read; a run holding a digit of another script
        // gives no duration at all, not the ASCII digits after it.
        {"ركز ٣٠ دقيقة", std::nullopt}, {"फोकस २० min", std::nullopt}, {"٣5 min", std::nullopt},
        {"focus 4٣ min", std::nullopt},
        // The first match counts.
        {"10 min or 20 min", 10},
    };
    for (const M &c : cases)
        EXPECT_EQ(AskIntent::minutes(QString::fromUtf8(c.text)), c.minutes) << c.text;
    EXPECT_EQ(AskIntent::detect(QStringLiteral("focus 1000 min")), AskIntent::startFocus(180));
    // Without a duration the word count decides: three words start the usual round,
    // a longer sentence without an asking word is no command.
    EXPECT_EQ(AskIntent::detect(QStringLiteral("ركز ٣٠ دقيقة")), AskIntent::startFocus(25));
    EXPECT_EQ(AskIntent::detect(QStringLiteral("i will focus ٣٠ min today")), std::nullopt);
}
