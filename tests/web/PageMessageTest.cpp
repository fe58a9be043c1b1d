#include <gtest/gtest.h>

#include "web/PageMessage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtNumeric>

namespace {
std::optional<PageMessage::Message> parse(const char *json)
{
    return PageMessage::parse(QJsonDocument::fromJson(json).object());
}
} // namespace

TEST(PageMessage, WrongShapesGiveNoMessage)
{
    EXPECT_FALSE(PageMessage::parse(QJsonValue(QStringLiteral("session"))));
    EXPECT_FALSE(PageMessage::parse(QJsonValue(3)));
    EXPECT_FALSE(parse(R"({"kind":"session"})"));
    EXPECT_FALSE(parse(R"({"type":7})"));
    EXPECT_FALSE(parse(R"({"type":"unknown"})"));
    EXPECT_FALSE(parse(R"({"type":"scene"})"));
    EXPECT_FALSE(parse(R"({"type":"scene","name":"dance"})"));
    EXPECT_FALSE(parse(R"({"type":"mood","look":"grumpy"})"));
    EXPECT_FALSE(parse(R"({"type":"mood","look":1})"));
    EXPECT_FALSE(parse(R"({"type":"publication","id":"","status":"published"})"));
    EXPECT_FALSE(parse(R"({"type":"publication","id":"p1"})"));
    EXPECT_FALSE(parse(R"({"type":"publication","id":5,"status":"x"})"));
}

TEST(PageMessage, SessionAndStateReadMistypedKeysAsAbsent)
{
    auto s = std::get<PageMessage::Session>(*parse(R"({"type":"session","signedIn":"yes","path":3,"email":"a@b.c"})"));
    EXPECT_FALSE(s.signedIn);
    EXPECT_EQ(s.path, QString());
    EXPECT_EQ(s.email, QStringLiteral("a@b.c"));
    EXPECT_EQ(s.displayName, QString());

    auto st = std::get<PageMessage::State>(*parse(R"({"type":"state","view":"","composer":"closed","lang":5})"));
    ASSERT_TRUE(st.view);
    EXPECT_TRUE(st.view->isEmpty());
    EXPECT_FALSE(st.composerOpen);
    EXPECT_FALSE(st.lang);
    auto open = std::get<PageMessage::State>(*parse(R"({"type":"state","composer":"open"})"));
    EXPECT_FALSE(open.view);
    EXPECT_TRUE(open.composerOpen);
}

TEST(PageMessage, ScenesRectanglesAndPublications)
{
    auto scene = std::get<PageMessage::Scene>(*parse(
        R"({"type":"scene","name":"composer-close","plan":{"x":1,"y":2,"w":3,"h":4},"sheet":{"x":1,"y":2,"width":3,"h":4},"from":{"x":"1","y":2,"w":3,"h":4}})"));
    EXPECT_EQ(scene.name, PageMessage::SceneName::composerClose);
    EXPECT_EQ(scene.plan, QRectF(1, 2, 3, 4));
    EXPECT_FALSE(scene.sheet) << "\"width\" is not \"w\"";
    EXPECT_FALSE(scene.from) << "a string is not a number";
    EXPECT_FALSE(scene.outcome);

    auto mood = std::get<PageMessage::Mood>(*parse(R"({"type":"mood","look":"sleepy"})"));
    EXPECT_EQ(mood.look, InWindowCatStage::Look::sleepy);

    auto p = std::get<PageMessage::Publication>(
        *parse(R"({"type":"publication","id":"p1","status":"","platformUrl":"not a url at all","scheduledAt":"2026-01-01"})"));
    EXPECT_EQ(p.status, QString());
    EXPECT_FALSE(p.platformURL);
    EXPECT_EQ(p.scheduledAt, QStringLiteral("2026-01-01"));
    auto q = std::get<PageMessage::Publication>(
        *parse(R"({"type":"publication","id":"p1","status":"published","platformUrl":"https://instagram.com/p/1"})"));
    EXPECT_EQ(q.platformURL, QUrl(QStringLiteral("https://instagram.com/p/1")));
}

TEST(PageMessage, SceneRectanglesOfNumbersNoPageHasAreIgnored)
{
    // One corner value of the plan rectangle at a time; the scene itself still counts.
    auto planWith = [](const char *key, const QJsonValue &value) {
        QJsonObject plan{{"x", 10}, {"y", 20}, {"w", 300}, {"h", 200}};
        plan.insert(QLatin1String(key), value);
        const auto message = PageMessage::parse(QJsonObject{{"type", "scene"}, {"name", "composer-close"}, {"plan", plan}});
        EXPECT_TRUE(message) << key;
        return message ? std::get<PageMessage::Scene>(*message).plan : std::nullopt;
    };
    const struct {
        double value;
        bool kept;
    } rows[] = {
        {qQNaN(), false}, {qInf(), false},   {-qInf(), false},   {1e308, false},
        {100'001, false}, {-100'001, false}, {100'000, true},    {-100'000, true},
        {0.5, true},
    };
    for (const char *key : {"x", "y", "w", "h"}) {
        for (const auto &row : rows)
            EXPECT_EQ(planWith(key, row.value).has_value(), row.kept) << key << " = " << row.value;
        EXPECT_FALSE(planWith(key, QJsonValue::Null)) << key << " null"; // what the page's NaN turns into
    }
    EXPECT_EQ(planWith("w", 100'000), QRectF(10, 20, 100'000, 200));
}
