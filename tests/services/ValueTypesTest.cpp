#include <gtest/gtest.h>

#include "app/CaptionComposer.h"
#include "app/PublishFormat.h"
#include "base/Clock.h"
#include "services/ChatModels.h"
#include "services/Surface.h"

TEST(CaptionComposer, TagsAreSplitPrefixedAndDeduplicated)
{
    EXPECT_EQ(CaptionComposer::tags(QStringLiteral("cat, #Cat;dog  #dog\n#x")),
              (QStringList{"#cat", "#dog", "#x"}));
    EXPECT_TRUE(CaptionComposer::tags(QStringLiteral(",,; ;,")).isEmpty());
    EXPECT_EQ(CaptionComposer::tags(QStringLiteral("##double # \t#Über über")),
              (QStringList{"##double", "#", "#Über"}));

    EXPECT_EQ(CaptionComposer::caption(QStringLiteral("Hello\n"), QStringLiteral("a b")),
              QStringLiteral("Hello\n\n#a #b"));
    EXPECT_EQ(CaptionComposer::caption(QStringLiteral("   "), QString()), QString());
    EXPECT_EQ(CaptionComposer::caption(QString(), QStringLiteral("a")), QStringLiteral("#a"));
    EXPECT_EQ(CaptionComposer::caption(QStringLiteral(" Hi "), QStringLiteral(" ,")), QStringLiteral("Hi"));
}

TEST(ValueTypes, FormatsAndSurfacesKeepTheirWords)
{
    EXPECT_EQ(PublishFormats::planValue(PublishFormat::feed), QStringLiteral("post"));
    for (PublishFormat f : PublishFormats::allCases) {
        EXPECT_EQ(PublishFormats::fromPlanValue(PublishFormats::planValue(f)), f);
        EXPECT_EQ(PublishFormats::fromRaw(PublishFormats::rawValue(f)), f);
    }
    EXPECT_EQ(PublishFormats::fromPlanValue(QStringLiteral("Reel")), PublishFormat::feed);
    EXPECT_EQ(PublishFormats::fromPlanValue(QString()), PublishFormat::feed);
    EXPECT_EQ(PublishFormats::fromRaw(QStringLiteral("post")), std::nullopt);

    EXPECT_EQ(Surfaces::fromRaw(QStringLiteral("Summary")), std::nullopt);
    for (Surface s : Surfaces::allCases)
        EXPECT_EQ(Surfaces::fromRaw(Surfaces::rawValue(s)), s);
    EXPECT_EQ(Surfaces::title(Surface::grid), QStringLiteral("Grid"));
    EXPECT_NE(Surfaces::symbol(Surface::assistant), Surfaces::olderSymbol(Surface::assistant));
}

TEST(ChatMessage, MadeWithFreshIdsAndComparedOnEveryField)
{
    FakeClock clock;
    const auto mine = ChatMessage::fromUser(QStringLiteral("hi"), clock);
    EXPECT_EQ(mine.author, ChatMessage::Author::user);
    EXPECT_EQ(mine.createdAt, clock.now().toMSecsSinceEpoch());
    EXPECT_FALSE(QUuid::fromString(mine.id).isNull());
    EXPECT_NE(mine.id, ChatMessage::fromUser(QStringLiteral("hi"), clock).id);

    ZephylWire::AssistantReply::Action action{QStringLiteral("open_planner"), QStringLiteral("Open"), {}, {}, {}, {}, {}};
    const auto reply = ChatMessage::fromAssistant(QStringLiteral("ok"), {action}, clock);
    EXPECT_EQ(reply.actions.size(), 1);
    EXPECT_EQ(ChatMessage::authorFromRaw(QStringLiteral("assistant")), ChatMessage::Author::assistant);

    auto changed = mine;
    changed.text = QStringLiteral("bye");
    EXPECT_NE(changed, mine);
    EXPECT_NE(qHash(changed), qHash(mine));
}
