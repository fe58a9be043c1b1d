// The ask conversation as it is kept across launches, and the shared values.

#include "AppTestSupport.h"

#include "app/AskValues.h"
#include "base/RecordStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace apptest;

namespace {

const QString kKey = QStringLiteral("zephyl.mac.catChat");

QList<CatChatLine> lines(int count)
{
    QList<CatChatLine> out;
    for (int i = 1; i <= count; ++i) {
        CatChatLine line{QUuid::createUuid(), i % 2 == 1, QStringLiteral("line %1").arg(i),
                         i % 3 == 0 ? CatLook::curious : CatLook::happy, {}};
        line.actions = {AskAction::startFocus(QStringLiteral("a%1").arg(i), QStringLiteral("Focus"), 25)};
        out.append(line);
    }
    return out;
}

QJsonArray storedArray(const DefaultsStore &store)
{
    return QJsonDocument::fromJson(*store.data(kKey)).array();
}

QJsonObject line(const char *id, QJsonValue mine, QJsonValue text, QJsonValue look)
{
    QJsonObject o{{"id", id}, {"mine", mine}, {"text", text}, {"look", look}};
    for (const char *key : {"mine", "text", "look"})
        if (o.value(QLatin1String(key)).isUndefined())
            o.remove(QLatin1String(key));
    return o;
}

} // namespace

TEST(CatChat, TheLastFortyLinesAreKeptWithoutTheirActions)
{
    DefaultsStore store;
    const auto all = lines(45);
    CatChatLine::save(all, store);
    const QJsonArray array = storedArray(store);
    ASSERT_EQ(array.size(), 40);
    EXPECT_EQ(array.first().toObject().value("text").toString(), QStringLiteral("line 6"));
    EXPECT_EQ(array.last().toObject().value("text").toString(), QStringLiteral("line 45"));
    const QJsonObject first = array.first().toObject();
    EXPECT_EQ(first.keys(), (QStringList{"id", "look", "mine", "text"}));
    EXPECT_EQ(first.value("look"), QJsonValue("curious"));
    EXPECT_EQ(first.value("mine"), QJsonValue(false));
    EXPECT_EQ(first.value("id").toString(), all[5].id.toString(QUuid::WithoutBraces).toUpper());

    const auto back = CatChatLine::load(store);
    ASSERT_EQ(back.size(), 40);
    for (qsizetype i = 0; i < back.size(); ++i) {
        const CatChatLine &source = all[i + 5];
        EXPECT_EQ(back[i].id, source.id);
        EXPECT_EQ(back[i].mine, source.mine);
        EXPECT_EQ(back[i].text, source.text);
        EXPECT_EQ(back[i].look, source.look);
        EXPECT_TRUE(back[i].actions.isEmpty());
    }

    CatChatLine::save({}, store);
    EXPECT_FALSE(store.contains(kKey));
    EXPECT_TRUE(CatChatLine::load(store).isEmpty());
}

TEST(CatChat, ADamagedRecordLoadsAsAnEmptyConversation)
{
    const char *uuid = "6F1C2D8E-3B7A-4C1D-9E2F-0A1B2C3D4E5F";
    struct Case {
        const char *what;
        QJsonArray array;
        qsizetype loaded;
    };
    const Case cases[] = {
        {"a good line", {line(uuid, true, "hi", "happy")}, 1},
        {"an unknown look reads as neutral", {line(uuid, false, "zzz", "sleepy")}, 1},
        {"the nil id is an id", {line("00000000-0000-0000-0000-000000000000", true, "x", "happy")}, 1},
        {"a line without mine", {line(uuid, true, "hi", "happy"), line(uuid, QJsonValue::Undefined, "hi", "happy")}, 0},
        {"mine as a number", {line(uuid, 1, "hi", "happy")}, 0},
        {"text as null", {line(uuid, true, QJsonValue::Null, "happy")}, 0},
        {"look as a number", {line(uuid, true, "hi", 2)}, 0},
        {"an id that is no UUID", {line("cat", true, "hi", "happy")}, 0},
        {"an id in braces", {line("{6F1C2D8E-3B7A-4C1D-9E2F-0A1B2C3D4E5F}", true, "hi", "happy")}, 0},
        {"a line that is no object", {QJsonValue("hi")}, 0},
    };
    for (const Case &c : cases) {
        DefaultsStore store;
        store.setData(kKey, QJsonDocument(c.array).toJson());
        const auto loaded = CatChatLine::load(store);
        EXPECT_EQ(loaded.size(), c.loaded) << c.what;
    }
    {
        DefaultsStore store;
        store.setData(kKey, QJsonDocument(QJsonArray{line(uuid, false, "zzz", "sleepy")}).toJson());
        EXPECT_EQ(CatChatLine::load(store)[0].look, CatLook::neutral);
    }
    {
        // A longer record than the application writes: the last 40 lines, in order.
        QJsonArray many;
        for (int i = 1; i <= 45; ++i)
            many.append(line(uuid, false, QStringLiteral("line %1").arg(i), "happy"));
        DefaultsStore store;
        store.setData(kKey, QJsonDocument(many).toJson());
        const auto loaded = CatChatLine::load(store);
        ASSERT_EQ(loaded.size(), 40);
        EXPECT_EQ(loaded.first().text, QStringLiteral("line 6"));
        EXPECT_EQ(loaded.last().text, QStringLiteral("line 45"));
    }
    for (const QByteArray &data : {QByteArray("not json"), QByteArray("{\"id\":1}"), QByteArray()}) {
        DefaultsStore store;
        store.setData(kKey, data);
        EXPECT_TRUE(CatChatLine::load(store).isEmpty()) << data.constData();
    }
}

TEST(CatChat, TheModelShowsTheStoredConversationOnlyToItsOwnAccount)
{
    LanguageGuard language;
    Harness h;
    CatChatLine::save(lines(3), RecordStore::of(h.store), QStringLiteral("kitty@example.com"));
    AppModel &m = h.make();
    EXPECT_TRUE(m.catChat().isEmpty()) << "nobody is known yet";
    m.webAccountChanged(AppModel::WebAccount{QStringLiteral("dog@example.com"), QString()});
    EXPECT_TRUE(m.catChat().isEmpty()) << "another account never sees it";
    m.webAccountChanged(AppModel::WebAccount{QStringLiteral("Kitty@Example.com"), QString()});
    EXPECT_EQ(m.catChat().size(), 3);

    Harness damaged;
    damaged.store.setString(kKey, QStringLiteral("a string, not data"));
    RecordStore::of(damaged.store).write(QLatin1String(CatChatLine::kRecordName), QStringLiteral("kitty@example.com"),
                                         "[{\"id\":1}]");
    AppModel &d = damaged.make();
    d.webAccountChanged(AppModel::WebAccount{QStringLiteral("kitty@example.com"), QString()});
    EXPECT_TRUE(d.catChat().isEmpty());
    d.setAskInput(QStringLiteral("still works"));
    EXPECT_EQ(d.askInput(), QStringLiteral("still works"));
}
