#include "services/ops/AssistantBodies.h"

#include "services/ChatModels.h"

#include <QJsonArray>
#include <gtest/gtest.h>

using namespace AssistantBodies;

namespace {
ChatMessage message(int i)
{
    return ChatMessage{QStringLiteral("m%1").arg(i), i % 2 ? ChatMessage::Author::assistant : ChatMessage::Author::user,
                       QStringLiteral("text %1").arg(i), 1000 + i, {}, {}};
}
} // namespace

TEST(AssistantRequest, HistoryKeepsTheLastSixteenOldestFirst)
{
    QList<ChatMessage> history;
    for (int i = 0; i < 20; ++i)
        history << message(i);
    const QJsonObject body = assistantRequest(QStringLiteral("new"), history, Persona::standard(), QStringLiteral("en"));
    const QJsonArray sent = body.value("history").toArray();
    ASSERT_EQ(sent.size(), 16);
    EXPECT_EQ(sent.first().toObject(), (QJsonObject{{"role", "user"}, {"content", "text 4"}}));
    EXPECT_EQ(sent.last().toObject(), (QJsonObject{{"role", "assistant"}, {"content", "text 19"}}));
    EXPECT_EQ(body.value("message").toString(), QStringLiteral("new"));
    EXPECT_EQ(body.value("attachments").toArray().size(), 0);
    EXPECT_EQ(body.value("capabilities").toArray().first().toString(), QStringLiteral("open_planner"));
    EXPECT_EQ(body.value("capabilities").toArray().size(), 9);
    EXPECT_EQ(assistantRequest(QStringLiteral("x"), {}, Persona::standard(), QStringLiteral("en")).value("history"),
              QJsonValue(QJsonArray()));
}

TEST(AssistantRequest, PersonaRules)
{
    const auto standard = assistantRequest(QStringLiteral("x"), {}, Persona::standard(), QStringLiteral("de"));
    EXPECT_FALSE(standard.contains("persona"));
    EXPECT_FALSE(standard.contains("catName"));
    EXPECT_EQ(standard.value("locale").toString(), QStringLiteral("de"));
    const auto unnamed = assistantRequest(QStringLiteral("x"), {}, Persona::kitty(QString()), QStringLiteral("en"));
    EXPECT_EQ(unnamed.value("persona").toString(), QStringLiteral("kitty"));
    EXPECT_FALSE(unnamed.contains("catName"));
    const auto named = assistantRequest(QStringLiteral("x"), {}, Persona::kitty(QStringLiteral("Mochi")), QStringLiteral("en"));
    EXPECT_EQ(named.value("catName").toString(), QStringLiteral("Mochi"));
}

TEST(ThreadBodies, OptionalKeysAreLeftOut)
{
    EXPECT_EQ(createThreadRequest(std::nullopt), QJsonObject());
    EXPECT_EQ(saveThreadRequest(std::nullopt, std::nullopt, {}), (QJsonObject{{"messages", QJsonArray()}}));
    const QJsonObject saved = saveThreadRequest(QStringLiteral("t1"), QStringLiteral("Ideas"), {message(1)});
    const QJsonObject stored = saved.value("messages").toArray().first().toObject();
    EXPECT_EQ(stored.value("role").toString(), QStringLiteral("assistant"));
    EXPECT_EQ(stored.value("createdAt").toInteger(), 1001);
    EXPECT_FALSE(stored.contains("actions"));
    EXPECT_FALSE(stored.contains("attachments"));
    EXPECT_EQ(saved.value("threadId").toString(), QStringLiteral("t1"));
}
