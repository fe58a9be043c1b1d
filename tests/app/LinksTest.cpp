// "sorvane:" links from any page or program: what each shape makes the
// application do, and that links of any other shape do nothing at all.

#include "FlowTestSupport.h"

#include "app/SorvaneLink.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace flowtest;
using Kind = AppEvent::Kind;

TEST(SorvaneLink, IsTakenApartAsWritten)
{
    struct Case {
        const char *raw;
        bool parses;
        const char *host = nullptr;
        const char *path = nullptr;
        const char *query = nullptr;
        const char *fragment = nullptr;
    };
    const Case cases[] = {
        {"sorvane://cat/night", true, "cat", "/night", nullptr, nullptr},
        {"SorVane://cat/night", true, "cat", "/night", nullptr, nullptr},
        {"  sorvane://cat/night\n", true, "cat", "/night", nullptr, nullptr},
        {"sorvane://CAT/Night", true, "CAT", "/Night", nullptr, nullptr},
        {"sorvane://c%61t/night", true, "c%61t", "/night", nullptr, nullptr},
        {"sorvane://cat/ask?q=a%20b&q=c#frag", true, "cat", "/ask", "q=a%20b&q=c", "frag"},
        {"sorvane://demo", true, "demo", "", nullptr, nullptr},
        {"sorvane://auth-google#access_token=t", true, "auth-google", "", nullptr, "access_token=t"},
        {"sorvane://cat?x#y?z", true, "cat", "", "x", "y?z"},
        {"sorvane:cat/night", false},
        {"sorvane:/cat/night", false},
        {"sorvane:///night", false},
        {"sorvane://user@cat/night", false},
        {"sorvane://cat:80/night", false},
        {"sorvanex://cat/night", false},
        {"https://cat/night", false},
        {"sorvane://cat/ask?q=two words", false},
        {"sorvane://cat/\tnight", false},
        {"1sorvane://cat", false},
        {"://cat", false},
        {"", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.raw);
        const auto link = SorvaneLink::parse(QString::fromLatin1(c.raw));
        ASSERT_EQ(link.has_value(), c.parses);
        if (!link)
            continue;
        EXPECT_EQ(link->host, QString::fromLatin1(c.host));
        EXPECT_EQ(link->path, QString::fromLatin1(c.path));
        EXPECT_EQ(link->hasQuery, c.query != nullptr);
        EXPECT_EQ(link->query, QString::fromLatin1(c.query));
        EXPECT_EQ(link->hasFragment, c.fragment != nullptr);
        EXPECT_EQ(link->fragment, QString::fromLatin1(c.fragment));
    }
    const QString huge = QStringLiteral("sorvane://cat/ask?q=") + QString(SorvaneLink::kMaxLength, QLatin1Char('a'));
    EXPECT_FALSE(SorvaneLink::parse(huge));
}

TEST(SorvaneLink, TheFirstQueryItemOfTheNameWins)
{
    struct Case {
        const char *query;
        std::optional<QString> q;
    };
    const Case cases[] = {
        {"q=first&q=second", QStringLiteral("first")},
        {"x=1&q=hello%20there", QStringLiteral("hello there")},
        {"%71=encoded%20name", QStringLiteral("encoded name")},
        {"q=%D0%BF%D1%80%D0%B8%D0%B2%D0%B5%D1%82", QStringLiteral("привет")},
        {"q=a+b", QStringLiteral("a+b")},
        {"q", std::nullopt},
        {"q&q=later", std::nullopt},
        {"q=", QString()},
        {"Q=upper", std::nullopt},
        {"q=%zz&q=fine", std::nullopt},
        {"q=%C3%28", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.query);
        const auto link = SorvaneLink::parse(QStringLiteral("sorvane://cat/ask?") + QString::fromLatin1(c.query));
        ASSERT_TRUE(link);
        EXPECT_EQ(link->queryItem(QStringLiteral("q")), c.q);
    }
}

TEST(Links, EachHostAndPathDoesWhatItSays)
{
    struct Case {
        const char *link;
        QList<Kind> events;
        QStringList calls;
        std::optional<QString> asked;
    };
    const QStringList reload = {"instagramProfile", "instagramFeed"};
    const Case cases[] = {
        {"SORVANE://cat/night", {Kind::lateNight}, {}, {}},
        {"sorvane://CAT/night", {}, {}, {}},
        {"sorvane://cat/night/", {}, {}, {}},
        {"sorvane://cat/Night", {}, {}, {}},
        {"sorvane://cat/ask?q=%20%20%0A", {Kind::askRequested}, {}, {}},
        {"sorvane://cat/ask?q=open%20plan", {Kind::askRequested, Kind::wantsWorkspace}, {}, QStringLiteral("open plan")},
        {"sorvane://cat/ask?q=%20%20open%20grid%0A&q=stop%20focus", {Kind::askRequested, Kind::wantsWorkspace}, {},
         QStringLiteral("open grid")},
        {"sorvane://cat/ask", {Kind::askRequested}, {}, {}},
        {"sorvane://cat/ask/?q=open%20plan", {}, {}, {}},
        {"sorvane://cat/ask?q=%zz", {Kind::askRequested}, {}, {}},
        {"sorvane://cat/break", {Kind::breakTime}, {}, {}},
        {"sorvane://cat/hungry", {Kind::catHungry}, {}, {}},
        {"sorvane://cat/fed", {Kind::catFed}, {}, {}},
        {"sorvane://cat/settings", {Kind::settingsRequested}, {}, {}},
        {"sorvane://cat/dance", {}, {}, {}},
        {"sorvane://cat", {}, {}, {}},
        {"sorvane://demo/anything/at/all?x=1", {Kind::demoRequested}, {}, {}},
        {"sorvane://DEMO", {}, {}, {}},
        {"sorvane://instagram-connected?status=error", {}, reload, {}},
        {"sorvane://instagram-connected/any/path", {}, reload, {}},
        {"sorvane://INSTAGRAM-CONNECTED?status=connected", {}, {}, {}},
        {"sorvane://Instagram-Connected", {}, {}, {}},
        {"sorvane://auth-google", {}, {}, {}},
        {"sorvane://auth-google#refresh_token=x", {}, {}, {}},
        {"sorvane://elsewhere/night", {}, {}, {}},
        {"zephyl://cat/night", {}, {}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.link);
        Flows f;
        AppModel &m = f.model();
        m.setSession(SessionState::signedIn);
        m.handleURL(QString::fromLatin1(c.link));
        EXPECT_EQ(f.kinds(), c.events);
        EXPECT_EQ(f.service.calls, c.calls);
        EXPECT_EQ(m.askQuestion(), c.asked);
    }
}

TEST(Links, TheCatsLinesAreItsOwnTranslatedLines)
{
    Flows f;
    L10n::setPreference(AppLanguage::de);
    AppModel &m = f.model();
    for (int i = 0; i < 30; ++i) {
        m.handleURL(QStringLiteral("sorvane://cat/break"));
        m.handleURL(QStringLiteral("sorvane://cat/fed"));
    }
    m.handleURL(QStringLiteral("sorvane://cat/night"));
    m.handleURL(QStringLiteral("sorvane://cat/hungry"));
    const QStringList fed = {L10n::t("Thank you. Fed."), L10n::t("That's a meal. Purr."),
                             L10n::t("Published. That one is out in the world.")};
    QSet<QString> breaksSeen, fedSeen;
    for (const AppEvent &e : f.h.events) {
        if (e.kind == Kind::breakTime)
            breaksSeen.insert(e.text);
        if (e.kind == Kind::catFed)
            fedSeen.insert(e.text);
    }
    for (const QString &line : breaksSeen)
        EXPECT_TRUE(AppModel::breakWords().contains(line)) << line.toStdString();
    for (const QString &line : fedSeen)
        EXPECT_TRUE(fed.contains(line)) << line.toStdString();
    EXPECT_GE(breaksSeen.size(), 2) << "chosen at random";
    EXPECT_NE(fed.first(), QStringLiteral("Thank you. Fed.")) << "looked up in the interface language";
    const AppEvent night = f.h.events.at(f.h.events.size() - 2);
    EXPECT_EQ(night.text, L10n::t("It's late. I'd sleep."));
    const QString since = AppModel::spoken(f.h.clock.now().addSecs(-432000));
    EXPECT_EQ(f.h.events.last().text,
              L10n::tf("I'm hungry: nothing has gone out since %@. One publication would do.", since));
}

TEST(Links, NoLinkOfAnyShapeDoesMoreThanItsHostAllows)
{
    // Pieces of real links, mangled: cut, doubled, re-cased, percent-encoded,
    // with junk and very long runs, as a page or another program might send.
    const QStringList pieces = {"sorvane:", "SORVANE:", "//", "/", "cat", "CAT", "auth-google", "instagram-connected",
                                "demo", "/ask", "/night", "?", "#", "&", "=", "q", "access_token", "%", "%2", "%25",
                                "%00", "%FF", "%C3%28", "%2F", "@", ":", ":80", " ", "\t", "\n", "..", "\\", "€",
                                "\xF0\x9F\x90\xB1", "?q=", "#access_token="};
    QRandomGenerator random(20260611);
    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedIn);
    const QSet<Kind> allowed = {Kind::askRequested, Kind::demoRequested, Kind::breakTime, Kind::catHungry,
                                Kind::lateNight,    Kind::catFed,        Kind::settingsRequested, Kind::wantsWorkspace,
                                Kind::wantsComposer, Kind::focusStarted, Kind::focusEnded};
    for (int i = 0; i < 3000; ++i) {
        QString link = random.bounded(4) ? QStringLiteral("sorvane://") : QString();
        const int n = 1 + int(random.bounded(12));
        for (int k = 0; k < n; ++k) {
            QString piece = pieces.at(int(random.bounded(int(pieces.size()))));
            if (random.bounded(50) == 0)
                piece = piece.repeated(int(random.bounded(9000)));
            link += piece;
        }
        m.handleURL(link);
    }
    for (const AppEvent &e : f.h.events)
        EXPECT_TRUE(allowed.contains(e.kind)) << int(e.kind);
    EXPECT_TRUE(f.service.adoptedTokens.isEmpty()) << "no link signs anybody in";
    for (const QString &call : f.service.calls)
        EXPECT_TRUE(call == QLatin1String("instagramProfile") || call == QLatin1String("instagramFeed") ||
                    call == QLatin1String("assistant"))
            << call.toStdString();
}
