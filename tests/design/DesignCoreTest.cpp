// Text lookup, language resolution, format filling, the palette's data, notices,
// the theme's raw values and the shared spring.
#include <gtest/gtest.h>

#include "design/AppLanguage.h"
#include "design/AppNotice.h"
#include "design/AppTheme.h"
#include "design/L10n.h"
#include "design/Legibility.h"
#include "design/Strings.h"
#include "design/ZephylPalette.h"
#include "design/ZephylSpring.h"

#include <QDate>

#include <algorithm>

namespace {

// States the system's language list and the preference for one test, and puts
// both back afterwards.
class L10nTest : public ::testing::Test {
protected:
    void SetUp() override { L10n::setPreference(AppLanguage::system); }
    void TearDown() override
    {
        L10n::setPreferredLanguagesProvider(nullptr);
        L10n::setPreference(AppLanguage::system);
    }
    static void systemList(const QStringList &tags)
    {
        L10n::setPreferredLanguagesProvider([tags] { return tags; });
    }
};

TEST_F(L10nTest, SystemListIsWalkedToTheFirstSpokenLanguage)
{
    struct Case {
        QStringList list;
        AppLanguage expected;
    };
    const Case cases[] = {
        {{"zh-Hans-CN", "nn-NO", "de-DE"}, AppLanguage::nb},
        {{"fr-CA"}, AppLanguage::fr},
        {{"ja-JP"}, AppLanguage::en},
        {{"iw-IL"}, AppLanguage::he},
        {{"no"}, AppLanguage::nb},
        {{"nn-NO"}, AppLanguage::nb},
        {{"EN-us"}, AppLanguage::en},
        {{"pt_BR"}, AppLanguage::pt},
        {{"--de__AT"}, AppLanguage::de},
        // "system" names no language: it is skipped, not taken as the setting.
        {{"system"}, AppLanguage::en},
        {{"system", "sv-SE"}, AppLanguage::sv},
        {{"", "-", "ar_EG"}, AppLanguage::ar},
        {{}, AppLanguage::en},
    };
    for (const Case &c : cases) {
        systemList(c.list);
        EXPECT_EQ(L10n::effectiveLanguage(), c.expected) << c.list.join(QLatin1Char(',')).toStdString();
    }

    // The system's own list, from the environment: LANGUAGE first, then
    // LC_ALL over LC_MESSAGES over LANG.
    L10n::setPreferredLanguagesProvider(nullptr);
    const char *const names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    QByteArray kept[4];
    for (int i = 0; i < 4; ++i)
        kept[i] = qgetenv(names[i]);
    const struct {
        const char *values[4];
        AppLanguage expected;
    } environments[] = {
        {{"", "de_DE.UTF-8", "fr_FR.UTF-8", "sv_SE.UTF-8"}, AppLanguage::de},
        {{"", "", "fr_FR.UTF-8", "sv_SE.UTF-8"}, AppLanguage::fr},
        {{"", "", "", "sv_SE.UTF-8"}, AppLanguage::sv},
        {{"", "C", "", "nb_NO.UTF-8"}, AppLanguage::nb},
        {{"es:de", "fr_FR.UTF-8", "", "sv_SE.UTF-8"}, AppLanguage::es},
        {{"ja", "pt_BR.UTF-8@euro", "", ""}, AppLanguage::pt},
    };
    for (const auto &e : environments) {
        for (int i = 0; i < 4; ++i)
            qputenv(names[i], e.values[i]);
        EXPECT_EQ(L10n::effectiveLanguage(), e.expected) << e.values[0] << "|" << e.values[1] << "|" << e.values[3];
    }
    for (int i = 0; i < 4; ++i)
        qputenv(names[i], kept[i]);
}

TEST_F(L10nTest, ChosenLanguageWinsAndSystemChangesTakeEffectOnTheNextLookup)
{
    systemList({"fr-FR"});
    L10n::setPreference(AppLanguage::de);
    EXPECT_EQ(L10n::effectiveLanguage(), AppLanguage::de);
    L10n::setPreference(AppLanguage::system);
    EXPECT_EQ(L10n::effectiveLanguage(), AppLanguage::fr);
    systemList({"he"});
    EXPECT_EQ(L10n::effectiveLanguage(), AppLanguage::he);
}

TEST_F(L10nTest, TagsAndRawValues)
{
    EXPECT_EQ(AppLanguages::fromTag(QStringLiteral("pt_BR")), AppLanguage::pt);
    EXPECT_EQ(AppLanguages::fromTag(QStringLiteral("iw")), AppLanguage::he);
    EXPECT_EQ(AppLanguages::fromTag(QStringLiteral("NN_no")), AppLanguage::nb);
    EXPECT_FALSE(AppLanguages::fromTag(QStringLiteral("system")));
    EXPECT_FALSE(AppLanguages::fromTag(QString()));
    EXPECT_FALSE(AppLanguages::fromTag(QStringLiteral("xx-YY")));
    EXPECT_EQ(AppLanguages::fromRawValue(QStringLiteral("system")), AppLanguage::system);
    EXPECT_EQ(AppLanguages::fromRawValue(QStringLiteral("pt")), AppLanguage::pt);
    EXPECT_FALSE(AppLanguages::fromRawValue(QStringLiteral("PT")));
    EXPECT_FALSE(AppLanguages::fromRawValue(QStringLiteral("pt-BR")));
    for (AppLanguage language : AppLanguages::allCases())
        EXPECT_EQ(AppLanguages::fromRawValue(AppLanguages::rawValue(language)), language);
    ASSERT_EQ(AppLanguages::spoken().size(), 14);
    EXPECT_EQ(AppLanguages::spoken().first(), AppLanguage::en);
    EXPECT_FALSE(AppLanguages::spoken().contains(AppLanguage::system));
}

TEST_F(L10nTest, EnglishReturnsEveryKeyUnchanged)
{
    systemList({"EN-us"});
    for (const char *key : {"Send", "Update", "Uploading %d of %d…", "a text no table holds"})
        EXPECT_EQ(L10n::t(key), QString::fromUtf8(key));
    // A text no table holds stays English in every language.
    for (AppLanguage language : AppLanguages::spoken()) {
        L10n::setPreference(language);
        EXPECT_EQ(L10n::t("a text no table holds"), QStringLiteral("a text no table holds"));
    }
}

TEST_F(L10nTest, LocaleFollowsTheLanguageAloneAndArabicUsesLatinDigits)
{
    L10n::setPreference(AppLanguage::ar);
    const QLocale arabic = L10n::locale();
    EXPECT_EQ(arabic.language(), QLocale::Arabic);
    EXPECT_EQ(arabic.zeroDigit(), QStringLiteral("0"));
    EXPECT_TRUE(arabic.toString(1234567).contains(QStringLiteral("567")));
    const QString date = arabic.toString(QDate(2024, 5, 3), QLocale::ShortFormat);
    EXPECT_TRUE(date.contains(QStringLiteral("2024"))) << date.toStdString();
    // Otherwise plain Arabic: the same month names and week as "ar", Latin separators.
    const QLocale plain(QLocale::Arabic);
    EXPECT_EQ(arabic.monthName(1), plain.monthName(1));
    EXPECT_EQ(arabic.firstDayOfWeek(), plain.firstDayOfWeek());
    EXPECT_EQ(arabic.toString(1234.5, 'f', 1), QStringLiteral("1,234.5"));

    L10n::setPreference(AppLanguage::de);
    EXPECT_EQ(L10n::locale().language(), QLocale::German);
    // The region comes from the language, never from the system list.
    L10n::setPreference(AppLanguage::system);
    systemList({"de-AT"});
    EXPECT_EQ(L10n::locale().language(), QLocale::German);
    EXPECT_EQ(L10n::locale(), QLocale(QStringLiteral("de")));
    systemList({"iw-IL"});
    EXPECT_EQ(L10n::locale().language(), QLocale::Hebrew);
    L10n::setPreference(AppLanguage::nb);
    EXPECT_EQ(L10n::locale().language(), QLocale::NorwegianBokmal);
}

TEST_F(L10nTest, DirectionAndTracking)
{
    L10n::setPreference(AppLanguage::ar);
    EXPECT_EQ(L10n::layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(L10n::languageTracking(2.2), 0.0);
    EXPECT_EQ(L10n::languageTracking(-1.2), 0.0);
    L10n::setPreference(AppLanguage::he);
    EXPECT_EQ(L10n::layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(L10n::languageTracking(2.2), 2.2);
    for (AppLanguage language : {AppLanguage::en, AppLanguage::de, AppLanguage::tr, AppLanguage::nl}) {
        L10n::setPreference(language);
        EXPECT_EQ(L10n::layoutDirection(), Qt::LeftToRight);
        EXPECT_EQ(L10n::languageTracking(-1.2), -1.2);
    }
    L10n::setPreference(AppLanguage::system);
    systemList({"ar-SA"});
    EXPECT_EQ(L10n::layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(L10n::languageTracking(2.2), 0.0);
}

TEST_F(L10nTest, FormatFillsPlaceholdersInOrder)
{
    using L10n::format;
    EXPECT_EQ(format(QStringLiteral("Uploading %d of %d…"), {2, 5}), QStringLiteral("Uploading 2 of 5…"));
    EXPECT_EQ(format(QStringLiteral("Found %d: %@."), {3, QStringLiteral("Safari, Firefox")}),
              QStringLiteral("Found 3: Safari, Firefox."));
    EXPECT_EQ(format(QStringLiteral("100%% of %d"), {7}), QStringLiteral("100% of 7"));
    EXPECT_EQ(format(QStringLiteral("%d"), {qint64(-9'000'000'000)}), QStringLiteral("-9000000000"));
    // An argument is inserted as it is, never read as a format itself.
    EXPECT_EQ(format(QStringLiteral("%@ and %d"), {QStringLiteral("%d%@%%"), 1}), QStringLiteral("%d%@%% and 1"));
    EXPECT_EQ(L10n::tf("Opening %@.", QStringLiteral("Plan")), QStringLiteral("Opening Plan."));
    // A name, a title or a server's words put in reorder nothing around them:
    // right-to-left letters are an isolate of their own, what they open is
    // closed in it, a stray close is dropped, an override reverses none of their letters.
    EXPECT_EQ(format(QStringLiteral("Hi, %@."), {QStringLiteral("שרה")}), QStringLiteral("Hi, \u2068שרה\u2069."));
    EXPECT_EQ(format(QStringLiteral("(%@) 3"), {QStringLiteral("a\u202Bb\u2069")}),
              QStringLiteral("(\u2068a\u202Bb\u202C\u2069) 3"));
    EXPECT_EQ(format(QStringLiteral("Hi, %@."), {QStringLiteral("\u202Eeno\u202C")}), QStringLiteral("Hi, eno."));
    EXPECT_EQ(format(QStringLiteral("at %@"), {QStringLiteral("\u2068date\u2069")}),
              QStringLiteral("at \u2068date\u2069"));
    // In a sentence that reads right to left a left-to-right piece is one too:
    // the full stop that ends "J.R." stays at its end.
    L10n::setPreference(AppLanguage::he);
    EXPECT_EQ(format(QStringLiteral("היי, %@."), {QStringLiteral("J.R.")}), QStringLiteral("היי, \u2068J.R.\u2069."));
    EXPECT_EQ(format(QStringLiteral("%@ %d"), {QString(), 3}), QStringLiteral(" 3")) << "nothing stays nothing";
    // A value the table marks as left to right keeps the sign bound to it.
    EXPECT_EQ(format(QStringLiteral("מחובר בתור \u200E@%@"), {QStringLiteral("kitty.studio")}),
              QStringLiteral("מחובר בתור \u200E@\u2068kitty.studio\u2069\u200E"));
}

TEST_F(L10nTest, FormatWritesNumbersInTheUsersLocale)
{
    using L10n::format;
    struct RestoreDefault {
        ~RestoreDefault() { QLocale::setDefault(QLocale::system()); }
    } restore;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(format(QStringLiteral("Uploading %d of %d…"), {1234, 5000}), QStringLiteral("Uploading 1,234 of 5,000…"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(format(QStringLiteral("%d items"), {1234567}), QStringLiteral("1.234.567 items"));
    // A text argument is never touched, digits or not.
    EXPECT_EQ(format(QStringLiteral("%@"), {QStringLiteral("1234")}), QStringLiteral("1234"));
    // The C locale writes plain digits, as printf does there.
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(format(QStringLiteral("%d"), {1234567}), QStringLiteral("1234567"));
}

TEST_F(L10nTest, FormatNeverFailsOnWrongArguments)
{
    using L10n::format;
    // Too few: the missing places stay empty.
    EXPECT_EQ(format(QStringLiteral("%d of %d"), {1}), QStringLiteral("1 of "));
    EXPECT_EQ(format(QStringLiteral("%@ %@"), {}), QStringLiteral(" "));
    // Too many: the rest are ignored.
    EXPECT_EQ(format(QStringLiteral("%d"), {1, 2, QStringLiteral("x")}), QStringLiteral("1"));
    // The other kind of value is written as text.
    EXPECT_EQ(format(QStringLiteral("%d days"), {QStringLiteral("three")}), QStringLiteral("three days"));
    EXPECT_EQ(format(QStringLiteral("%@ days"), {4}), QStringLiteral("4 days"));
    EXPECT_EQ(format(QStringLiteral("[%d]"), {QVariant()}), QStringLiteral("[]"));
    // Anything but %d, %@ and %% is left as written, positional forms included.
    EXPECT_EQ(format(QStringLiteral("%s %1$@ %x %"), {1, 2}), QStringLiteral("%s %1$@ %x %"));
    EXPECT_EQ(format(QString(), {1}), QString());
}

TEST_F(L10nTest, NativeNamesAreOwnExceptSystem)
{
    L10n::setPreference(AppLanguage::en);
    EXPECT_EQ(AppLanguages::nativeName(AppLanguage::system), QStringLiteral("System"));
    L10n::setPreference(AppLanguage::ru);
    // Only `system` is translated; every other name stays in its own language.
    EXPECT_EQ(AppLanguages::nativeName(AppLanguage::system), L10n::t("System"));
    if (Strings::table(AppLanguage::ru)->contains(QStringLiteral("System"))) {
        EXPECT_NE(AppLanguages::nativeName(AppLanguage::system), QStringLiteral("System"));
    }
    // Every language by its own name, in the menu's order.
    const QStringList names{"English", "Русский", "Español", "Deutsch", "Français", "Português", "Italiano",
                            "Türkçe",  "العربية", "עברית",   "Norsk",   "Svenska",  "Dansk",     "Nederlands"};
    QStringList named;
    for (const AppLanguage language : AppLanguages::allCases().mid(1))
        named << AppLanguages::nativeName(language);
    EXPECT_EQ(named.join(u',').toStdString(), names.join(u',').toStdString());
    EXPECT_TRUE(AppLanguages::isRightToLeft(AppLanguage::he));
    EXPECT_FALSE(AppLanguages::isRightToLeft(AppLanguage::tr));
}

using ZephylPalette::Color;

TEST(ZephylPalette, ResolvesPairsByAppearance)
{
    EXPECT_EQ(ZephylPalette::resolve(Color::text, Appearance::dark).rgb, 0xF5F5F3u);
    EXPECT_EQ(ZephylPalette::resolve(Color::text, Appearance::light).rgb, 0x201F1Cu);
    EXPECT_EQ(ZephylPalette::resolve(Color::canvas, Appearance::dark).rgb, 0x000000u);
    EXPECT_EQ(ZephylPalette::resolve(Color::primaryFill, Appearance::light).rgb,
              ZephylPalette::resolve(Color::ink, Appearance::light).rgb);
    EXPECT_EQ(ZephylPalette::resolve(Color::primaryFill, Appearance::dark).rgb, 0xFFFFFFu);
    EXPECT_EQ(ZephylPalette::resolve(Color::onPrimaryFill, Appearance::dark).rgb, 0x241F1Au);

    const auto accent = ZephylPalette::resolve(Color::accent, Appearance::light);
    EXPECT_DOUBLE_EQ(accent.red(), 0xC0 / 255.0);
    EXPECT_DOUBLE_EQ(accent.green(), 0x8A / 255.0);
    EXPECT_DOUBLE_EQ(accent.blue(), 0x26 / 255.0);
}

TEST(ZephylPalette, UnknownAppearanceFallsBackToLight)
{
    const auto unknown = static_cast<Appearance>(7);
    for (int i = 0; i <= int(Color::line); ++i) {
        const auto color = static_cast<Color>(i);
        EXPECT_EQ(ZephylPalette::resolve(color, unknown), ZephylPalette::resolve(color, Appearance::light)) << i;
    }
}

TEST(ZephylPalette, LineIsTranslucentTextAndInkIsFixed)
{
    for (Appearance appearance : {Appearance::light, Appearance::dark}) {
        const auto line = ZephylPalette::resolve(Color::line, appearance);
        EXPECT_DOUBLE_EQ(line.alpha, 0.12);
        EXPECT_EQ(line.rgb, ZephylPalette::resolve(Color::text, appearance).rgb);
        EXPECT_EQ(ZephylPalette::resolve(Color::ink, appearance).rgb, 0x241F1Au);
    }
    EXPECT_FALSE(ZephylPalette::isAppearanceDependent(Color::ink));
    // Every other member is opaque and has a distinct dark value.
    for (int i = 0; i < int(Color::line); ++i) {
        const auto color = static_cast<Color>(i);
        EXPECT_EQ(ZephylPalette::resolve(color, Appearance::dark).alpha, 1.0);
        if (color != Color::ink) {
            EXPECT_NE(ZephylPalette::pair(color).light, ZephylPalette::pair(color).dark) << i;
        }
    }
}

// Ratios as WCAG 2.1 defines them, on pairs whose answer is published or
// worked out by hand from the formula.
TEST(Legibility, ContrastRatioFollowsWcag)
{
    EXPECT_NEAR(ZephylPalette::contrastRatio(0x000000, 0xFFFFFF), 21.0, 1e-9);
    EXPECT_NEAR(ZephylPalette::contrastRatio(0xFFFFFF, 0x000000), 21.0, 1e-9);
    EXPECT_NEAR(ZephylPalette::contrastRatio(0x777777, 0x777777), 1.0, 1e-9);
    // #767676 is the lightest grey that reaches 4.5:1 on white; #777777 falls just short.
    EXPECT_GE(ZephylPalette::contrastRatio(0x767676, 0xFFFFFF), 4.5);
    EXPECT_LT(ZephylPalette::contrastRatio(0x777777, 0xFFFFFF), 4.5);
    EXPECT_NEAR(ZephylPalette::luminance(0xFF0000), 0.2126, 1e-9);
    EXPECT_NEAR(ZephylPalette::luminance(0x00FF00), 0.7152, 1e-9);
    EXPECT_NEAR(ZephylPalette::luminance(0x0000FF), 0.0722, 1e-9);
    // The light accent on its soft fill, and the light settled tone on its own.
    EXPECT_NEAR(ZephylPalette::contrastRatio(0xC08A26, 0xF0E3C6), 2.39, 0.01);
    EXPECT_NEAR(ZephylPalette::contrastRatio(0x7A6B56, 0xE9E3D5), 4.04, 0.01);
}

// A tone colour keeps its own value wherever it reads; where it would not, the
// palette's text colour takes its place, in that appearance only.
TEST(Legibility, ToneInkFallsBackToTextOnlyWhereItFallsShort)
{
    using ZephylPalette::legibleOn;
    // Light: the accent and settled tones on their soft fills, the light label on the accent.
    EXPECT_EQ(legibleOn(Color::accent, Color::accentSoft, Appearance::light), Color::text);
    EXPECT_EQ(legibleOn(Color::settled, Color::settledSoft, Appearance::light), Color::text);
    EXPECT_EQ(legibleOn(Color::onAccent, Color::accent, Appearance::light), Color::text);
    // These read as they are (4.68, 4.60 and far more).
    EXPECT_EQ(legibleOn(Color::attention, Color::attentionSoft, Appearance::light), Color::attention);
    EXPECT_EQ(legibleOn(Color::muted, Color::surfaceSoft, Appearance::light), Color::muted);
    EXPECT_EQ(legibleOn(Color::onPrimaryFill, Color::primaryFill, Appearance::light), Color::onPrimaryFill);
    // Dark: every tone reads on its soft fill.
    for (Color tone : {Color::accent, Color::settled, Color::attention})
        EXPECT_EQ(legibleOn(tone, tone == Color::accent    ? Color::accentSoft
                                  : tone == Color::settled ? Color::settledSoft
                                                           : Color::attentionSoft,
                            Appearance::dark),
                  tone);
    // A symbol needs only 3:1: the accent on the light surface keeps its colour (3.02).
    EXPECT_EQ(legibleOn(Color::accent, Color::surface, Appearance::light, ZephylPalette::kShapeContrast),
              Color::accent);
    EXPECT_EQ(legibleOn(Color::accent, Color::surface, Appearance::light), Color::text);
    // Where text reads no better, the colour asked for stays.
    EXPECT_EQ(legibleOn(Color::muted, Color::primaryFill, Appearance::light), Color::muted);
    // What shows through the translucent line is not known: the colour stays.
    EXPECT_EQ(legibleOn(Color::accent, Color::line, Appearance::light), Color::accent);
}

TEST(AppNotice, EqualOnlyWhenIdTextAndToneAllMatch)
{
    const AppNotice a = AppNotice::make(QStringLiteral("Saved"), AppNotice::Tone::settled);
    AppNotice same = a;
    EXPECT_EQ(a, same);
    const AppNotice again = AppNotice::make(QStringLiteral("Saved"), AppNotice::Tone::settled);
    EXPECT_NE(a, again); // a new id is a new notice
    same.tone = AppNotice::Tone::attention;
    EXPECT_NE(a, same);
    same = a;
    same.text = QStringLiteral("Saved.");
    EXPECT_NE(a, same);
}

TEST(AppTheme, RawValuesAreExact)
{
    EXPECT_EQ(AppThemes::allCases(), (QList<AppTheme>{AppTheme::system, AppTheme::light, AppTheme::dark}));
    for (AppTheme theme : AppThemes::allCases())
        EXPECT_EQ(AppThemes::fromRawValue(AppThemes::rawValue(theme)), theme);
    EXPECT_EQ(AppThemes::rawValue(AppTheme::dark), QStringLiteral("dark"));
    EXPECT_FALSE(AppThemes::fromRawValue(QStringLiteral("Dark")));
    EXPECT_FALSE(AppThemes::fromRawValue(QStringLiteral("SYSTEM")));
    EXPECT_FALSE(AppThemes::fromRawValue(QString()));
}

TEST(ZephylSpring, StartsAtRestOvershootsSlightlyAndSettles)
{
    const SpringAnimation &spring = zephylSpring();
    EXPECT_EQ(spring.response, 0.42);
    EXPECT_EQ(spring.dampingFraction, 0.86);
    EXPECT_EQ(spring.blendDuration, 0.0);
    EXPECT_EQ(spring.position(0), 0.0);

    const double settle = spring.settlingDuration();
    EXPECT_GT(settle, spring.response / 2);
    EXPECT_LT(settle, 2 * spring.response);
    double peak = 0;
    for (double t = 0; t <= 3 * settle; t += 0.001) {
        peak = std::max(peak, spring.position(t));
        if (t >= settle) {
            EXPECT_NEAR(spring.position(t), 1.0, 0.001) << t;
        }
    }
    // Lightly underdamped: a small overshoot, well under one percent.
    EXPECT_GT(peak, 1.0);
    EXPECT_LT(peak, 1.01);

    // Critical damping never passes the target.
    const SpringAnimation critical{0.42, 1.0, 0.0};
    const SpringAnimation heavy{0.42, 1.5, 0.0};
    for (double t = 0; t <= 2; t += 0.005) {
        EXPECT_LE(critical.position(t), 1.0);
        EXPECT_LE(heavy.position(t), 1.0);
    }
    EXPECT_NEAR(heavy.position(5), 1.0, 1e-3);
}

} // namespace
