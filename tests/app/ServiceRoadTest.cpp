// The model's road to the service is the real client: the same calls against
// the local stand-in, and its failures put into words.

#include "AppTestSupport.h"
#include "StandinServer.h"
#include "support/TestSupport.h"

#include "services/KeychainStore.h"
#include "services/ZephylAPI.h"

#include <gtest/gtest.h>

using namespace apptest;

TEST(ServiceRoad, TheModelTalksToTheServiceThroughTheRealClient)
{
    LanguageGuard language;
    Standin::Server server;
    ASSERT_NE(server.start(), 0);
    server.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty"));
    const auto keychain = KeychainStore::inMemory();
    ZephylAPI::Setup setup;
    setup.baseURL = QUrl(server.origin());
    setup.keychain = keychain.get();
    ZephylAPI api(setup);
    ZephylServiceClient road(api);

    Harness h;
    AppModel &m = h.make(&road);
    L10n::setPreference(AppLanguage::en);

    EXPECT_EQ(zktest::run(m.api().restoreSession()), ServiceClient::RestoreOutcome::signedOut);
    try {
        zktest::run(m.api().signInWithEmail(QStringLiteral("kitty@example.com"), QStringLiteral("wrong")));
        ADD_FAILURE() << "a wrong password signs nobody in";
    } catch (...) {
        m.show(std::current_exception());
    }
    ASSERT_TRUE(m.notice());
    EXPECT_EQ(m.notice()->text, QStringLiteral("Email or password did not match."));

    const auto session =
        zktest::run(m.api().signInWithEmail(QStringLiteral("Kitty@example.com"), QStringLiteral("meow-meow-meow")));
    m.restoreUnsentText(session.user.email);
    EXPECT_EQ(m.inputOwner(), QStringLiteral("kitty@example.com"));
    EXPECT_EQ(zktest::run(m.api().currentUser()).email, QStringLiteral("kitty@example.com"));

    ZephylWire::PlanDraft draft;
    draft.id = 7;
    draft.title = QStringLiteral("Morning light");
    zktest::run(m.api().savePlanDrafts({draft}));
    m.setPlanDrafts(zktest::run(m.api().planDrafts()));
    ASSERT_EQ(m.planDrafts().size(), 1);
    EXPECT_EQ(m.planDrafts()[0].title, QStringLiteral("Morning light"));
    // Whether Instagram is connected, as the service says it.
    zktest::run(m.loadInstagram());
    EXPECT_TRUE(m.instagramKnown());
    EXPECT_EQ(m.observations().first().id, QStringLiteral("connect"));
}
