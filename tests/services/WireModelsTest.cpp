#include <gtest/gtest.h>

#include "services/Bodies.h"
#include "services/Json.h"
#include "services/ZephylAPI.h"

#include <QJsonArray>
#include <QJsonDocument>

using Item = ZephylAPI::InstagramFeedItem;
using Page = ZephylAPI::InstagramFeedResponse;
using Draft = ZephylAPI::PlanDraft;
using DecodingError = ZephylAPI::DecodingError;

namespace {

QJsonObject parse(const char *json) { return QJsonDocument::fromJson(QByteArray(json)).object(); }

template <typename T>
std::optional<DecodingError> failure(const QJsonObject &o)
{
    try {
        T::fromJson(o);
    } catch (const DecodingError &e) {
        return e;
    }
    return std::nullopt;
}

QJsonObject item(QJsonObject extra = {})
{
    QJsonObject o{{"id", "m1"}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        o.insert(it.key(), it.value());
    return o;
}

QJsonObject medium(const QString &url, const QString &kind = QString())
{
    QJsonObject o{{"url", url}};
    if (!kind.isEmpty())
        o.insert("kind", kind);
    return o;
}

} // namespace

TEST(WireModels, RequiredFieldsMustBePresentNonNullAndOfTheirType)
{
    const QJsonObject user{{"userId", "u"}, {"email", "e@x"}, {"role", "creator"}};
    EXPECT_EQ(ZephylAPI::User::fromJson(user).displayName, std::nullopt);

    auto missing = user;
    missing.remove("role");
    EXPECT_EQ(failure<ZephylAPI::User>(missing)->kind(), DecodingError::Kind::keyNotFound);
    EXPECT_EQ(failure<ZephylAPI::User>(missing)->key(), QStringLiteral("role"));
    auto null = user;
    null.insert("email", QJsonValue::Null);
    EXPECT_EQ(failure<ZephylAPI::User>(null)->kind(), DecodingError::Kind::valueNotFound);
    // An optional may be null, but not of the wrong type.
    auto wrongOptional = user;
    wrongOptional.insert("displayName", 3);
    EXPECT_EQ(failure<ZephylAPI::User>(wrongOptional)->kind(), DecodingError::Kind::typeMismatch);
    wrongOptional.insert("displayName", QJsonValue::Null);
    EXPECT_FALSE(failure<ZephylAPI::User>(wrongOptional));

    // Nested failures name the whole path; integers must be whole.
    const QJsonObject session{{"accessToken", "a"}, {"refreshToken", "r"}, {"expiresIn", 900.5}, {"user", user}};
    EXPECT_EQ(failure<ZephylAPI::AuthSession>(session)->key(), QStringLiteral("expiresIn"));
    auto badUser = session;
    badUser.insert("expiresIn", 900);
    badUser.insert("user", QJsonObject{{"userId", "u"}, {"email", "e"}});
    EXPECT_EQ(failure<ZephylAPI::AuthSession>(badUser)->key(), QStringLiteral("user.role"));
    // How long the session lasts is no optional.
    auto noExpiry = session;
    noExpiry.remove("expiresIn");
    const auto expiryMissing = failure<ZephylAPI::AuthSession>(noExpiry);
    ASSERT_TRUE(expiryMissing) << "a session answer without expiresIn decoded";
    EXPECT_EQ(expiryMissing->kind(), DecodingError::Kind::keyNotFound);
    EXPECT_EQ(expiryMissing->key(), QStringLiteral("expiresIn"));

    // The assistant's actions must be sent, even empty.
    EXPECT_TRUE(failure<ZephylAPI::AssistantReply>(QJsonObject{{"message", "hi"}}));
    EXPECT_TRUE(ZephylAPI::AssistantReply::fromJson(QJsonObject{{"message", "hi"}, {"actions", QJsonArray()}})
                    .actions.isEmpty());

    // Publication times are milliseconds; a link that is not a URL fails the publication.
    const auto publication = ZephylAPI::Publication::fromJson(parse(R"({"id":"p","status":"scheduled","scheduledAt":1000})"));
    EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(*publication.scheduledAt, Qt::UTC),
              QDateTime::fromString(QStringLiteral("1970-01-01T00:00:01Z"), Qt::ISODate));
    EXPECT_TRUE(failure<ZephylAPI::Publication>(parse(R"({"id":"p","status":"x","platformUrl":"not a url"})")));
    // Absent optionals are left out when written back, never null.
    EXPECT_EQ(publication.toJson(), parse(R"({"id":"p","status":"scheduled","scheduledAt":1000})"));
}

TEST(WireModels, ThreadStoreAndAttachmentsDecodeStrictly)
{
    const auto store = ZephylAPI::AssistantThreadStore::fromJson(parse(R"({
        "version": 2, "threads": [{"id":"t","title":"T","createdAt":1,"updatedAt":2,"messageCount":1,"preview":"p"}],
        "status": "ok", "activeThreadId": "t",
        "activeThread": {"id":"t","title":"T","createdAt":1,"updatedAt":2,"messages":[
            {"id":"m","role":"user","content":"hi","createdAt":5,
             "attachments":[{"id":"a","name":"cat.png","mimeType":"image/png","kind":"image","size":12}]}]}})"));
    ASSERT_TRUE(store.activeThread);
    const auto &message = store.activeThread->messages.first();
    EXPECT_EQ(message.attachments->first().kind, ChatAttachmentSummary::Kind::image);
    EXPECT_EQ(message.attachments->first().toJson(),
              parse(R"({"id":"a","name":"cat.png","mimeType":"image/png","kind":"image","size":12})"));
    EXPECT_FALSE(message.actions);

    EXPECT_TRUE(failure<ChatAttachmentSummary>(parse(R"({"id":"a","name":"n","mimeType":"m","kind":"video","size":1})")));
    EXPECT_TRUE(failure<ChatAttachmentSummary>(parse(R"({"id":"a","name":"n","mimeType":"m","kind":"file"})")));
    auto bad = failure<ZephylAPI::AssistantThreadStore>(parse(
        R"({"version":1,"status":"ok","threads":[{"id":"t","title":"T","createdAt":1,"updatedAt":2,"messageCount":"1","preview":""}]})"));
    EXPECT_EQ(bad->key(), QStringLiteral("threads[0].messageCount"));
}

TEST(FeedItem, IdsCaptionsAndCountsAreCleaned)
{
    EXPECT_EQ(failure<Item>(QJsonObject{{"id", " \n "}})->description(),
              QStringLiteral("Instagram media id must not be empty"));
    EXPECT_EQ(Item::fromJson(QJsonObject{{"id", QString(200, QLatin1Char('x'))}}).id.size(), 180);
    EXPECT_EQ(Item::fromJson(QJsonObject{{"id", "  m1\n"}}).id, QStringLiteral("m1"));

    // Limits count what a person sees as characters, not code units.
    const QString family = QStringLiteral("👨‍👩‍👧");
    EXPECT_EQ(Item::fromJson(QJsonObject{{"id", QString(179, QLatin1Char('x')) + family + family}}).id,
              QString(179, QLatin1Char('x')) + QStringLiteral("👨‍👩‍👧"))
        << "the family at the cut is the 180th character, whole";
    QString caption;
    for (int i = 0; i < 3000; ++i)
        caption += family;
    const Item long_ = Item::fromJson(item({{"caption", caption}}));
    EXPECT_EQ(Text::graphemeCount(long_.caption), 2200);
    EXPECT_EQ(long_.caption, caption.left(2200 * family.size()));
    // Never half a surrogate pair, nor a mark, joiner or skin tone cut from its
    // character, whatever boundary the library reports.
    const struct {
        QString text;
        qsizetype count;
        QString kept;
        qsizetype characters;
    } cuts[] = {
        {QStringLiteral("😀ष"), 1, QStringLiteral("😀"), 2},
        {QStringLiteral("😀षि😀"), 2, QStringLiteral("😀षि"), 3},
        {QStringLiteral("ab😀ष😀ष"), 3, QStringLiteral("ab😀"), 6},
        {QStringLiteral("👍🏽👍🏽"), 1, QStringLiteral("👍🏽"), 2},
        {QStringLiteral("a\u0301b"), 1, QStringLiteral("a\u0301"), 2},
    };
    for (const auto &c : cuts) {
        EXPECT_EQ(Text::prefixGraphemes(c.text, c.count), c.kept) << c.text.toStdString();
        EXPECT_EQ(Text::graphemeCount(c.text), c.characters) << c.text.toStdString();
    }
    // A long text is read in windows; a cut at a window's edge is no cut of a character.
    const QString edge = QString(7, QLatin1Char('x')) + QStringLiteral("😀ष").repeated(20);
    EXPECT_EQ(Text::prefixGraphemes(edge, 9), QString(7, QLatin1Char('x')) + QStringLiteral("😀ष"));
    EXPECT_EQ(Text::prefixGraphemes(edge, 10), QString(7, QLatin1Char('x')) + QStringLiteral("😀ष😀"));
    EXPECT_EQ(Item::fromJson(item()).caption, QString());
    EXPECT_EQ(Item::fromJson(item({{"caption", QJsonValue::Null}})).caption, QString());

    const std::pair<QJsonValue, qint64> counts[] = {{0, 1}, {57, 20}, {-3, 1}, {QJsonValue(), 1}, {5, 5}};
    for (const auto &[sent, kept] : counts) {
        QJsonObject o = item();
        if (!sent.isUndefined())
            o.insert("mediaCount", sent);
        EXPECT_EQ(Item::fromJson(o).mediaCount, kept);
    }

    EXPECT_EQ(Item::fromJson(item({{"kind", "REEL"}})).kind, Item::Kind::unknown);
    EXPECT_EQ(Item::fromJson(item({{"kind", "carousel"}})).kind, Item::Kind::carousel);
    EXPECT_EQ(Item::fromJson(item()).kind, Item::Kind::unknown);
    // A wrong type anywhere but "media" fails the item.
    EXPECT_TRUE(failure<Item>(item({{"kind", 3}})));
    EXPECT_TRUE(failure<Item>(item({{"caption", true}})));
}

TEST(FeedItem, BadMediaAndUnsafeLinksAreDroppedNotFatal)
{
    QJsonArray media;
    for (int i = 0; i < 25; ++i) {
        if (i == 2)
            media.append(medium(QStringLiteral("http://cdn.test/2.jpg")));
        else if (i == 3)
            media.append(medium(QStringLiteral("https://cdn.test/3.jpg"), QStringLiteral("audio")));
        else
            media.append(medium(QStringLiteral("https://cdn.test/%1.jpg").arg(i)));
    }
    const Item many = Item::fromJson(item({{"media", media}}));
    ASSERT_EQ(many.media.size(), 20);
    EXPECT_EQ(many.media.at(2).url, QUrl(QStringLiteral("https://cdn.test/4.jpg")));
    EXPECT_EQ(many.media.last().url, QUrl(QStringLiteral("https://cdn.test/21.jpg")));

    EXPECT_TRUE(Item::fromJson(item({{"media", "nope"}})).media.isEmpty());
    EXPECT_TRUE(Item::fromJson(item({{"media", QJsonArray{42, medium("ftp://x/y.jpg")}}})).media.isEmpty());

    const Item links = Item::fromJson(item({{"platformUrl", "https://business.instagram.com/p/1"},
                                            {"previewUrl", "ftp://cdn.test/a.jpg"}}));
    EXPECT_FALSE(links.platformURL);
    EXPECT_FALSE(links.previewURL);
    EXPECT_FALSE(Item::fromJson(item({{"platformUrl", "https://instagram.com.evil.test/p/1"}})).platformURL);
    EXPECT_TRUE(Item::fromJson(item({{"platformUrl", "HTTPS://www.Instagram.com/p/1"}})).platformURL);
    EXPECT_TRUE(Item::fromJson(item({{"platformUrl", "https://instagram.com:8443/p/1"}})).platformURL);
    EXPECT_FALSE(Item::fromJson(item({{"platformUrl", "https:///p/1"}})).platformURL);
}

TEST(FeedItem, TileShowsThePreviewOrAPictureNeverAVideoFile)
{
    const Item clip = Item::fromJson(item({{"media", QJsonArray{QJsonObject{
                                                          {"url", "https://cdn.test/clip.MP4"},
                                                          {"thumbnailUrl", "https://cdn.test/clip.jpg"}}}}}));
    EXPECT_EQ(clip.tileURL(), QUrl(QStringLiteral("https://cdn.test/clip.jpg")));
    const Item noThumb = Item::fromJson(item({{"media", QJsonArray{medium("https://cdn.test/clip.mov")}}}));
    EXPECT_EQ(noThumb.tileURL(), std::nullopt);
    const Item photo = Item::fromJson(item({{"media", QJsonArray{medium("https://cdn.test/photo.jpg")}}}));
    EXPECT_EQ(photo.tileURL(), QUrl(QStringLiteral("https://cdn.test/photo.jpg")));
    // The last path component names the file, with or without a closing slash.
    const Item slashed = Item::fromJson(item({{"media", QJsonArray{QJsonObject{
                                                            {"url", "https://cdn.test/clip.webm/"},
                                                            {"thumbnailUrl", "https://cdn.test/clip.jpg"}}}}}));
    EXPECT_EQ(slashed.tileURL(), QUrl(QStringLiteral("https://cdn.test/clip.jpg")));
    const Item video = Item::fromJson(item({{"media", QJsonArray{QJsonObject{{"url", "https://cdn.test/v"},
                                                                             {"kind", "video"}}}}}));
    EXPECT_EQ(video.tileURL(), std::nullopt);
    const Item previewed = Item::fromJson(item({{"previewUrl", "https://cdn.test/p.jpg"},
                                                {"media", QJsonArray{medium("https://cdn.test/photo.jpg")}}}));
    EXPECT_EQ(previewed.tileURL(), QUrl(QStringLiteral("https://cdn.test/p.jpg")));
}

TEST(FeedPage, KeepsFiftyItemsAndFailsOnABadOne)
{
    QJsonArray items;
    for (int i = 0; i < 60; ++i)
        items.append(QJsonObject{{"id", QStringLiteral("m%1").arg(i)}});
    const Page page = Page::fromJson(QJsonObject{{"items", items}, {"status", "paused"}});
    EXPECT_EQ(page.items.size(), 50);
    EXPECT_EQ(page.status, Page::Status::unknown);
    EXPECT_FALSE(page.hasMore);
    EXPECT_EQ(Page::fromJson(QJsonObject{{"status", "not_configured"}}).status, Page::Status::notConfigured);
    EXPECT_EQ(Page::fromJson(QJsonObject{{"cursor", QString(300, 'c')}}).cursor->size(), 200);

    items.replace(4, QJsonObject{{"id", "  "}});
    const auto bad = failure<Page>(QJsonObject{{"items", items}});
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->key(), QStringLiteral("items[4].id"));

    // Every item is read before the page is cut: a bad one past the first fifty still fails it.
    items.replace(4, QJsonObject{{"id", "m4"}});
    items.replace(55, QJsonObject{{"id", "\n"}});
    const auto late = failure<Page>(QJsonObject{{"items", items}});
    ASSERT_TRUE(late);
    EXPECT_EQ(late->key(), QStringLiteral("items[55].id"));
}

TEST(PlanDraft, OnlyTheIdIsRequiredAndPreviewIsNeverWritten)
{
    const Draft bare = Draft::fromJson(QJsonObject{{"id", 7}});
    EXPECT_EQ(bare.id, 7);
    EXPECT_EQ(bare.title, QString());
    EXPECT_EQ(bare.format, QStringLiteral("post"));
    EXPECT_EQ(bare.scheduledAt, QString());
    EXPECT_FALSE(bare.hiddenFromGrid);
    EXPECT_FALSE(bare.preview);
    EXPECT_TRUE(failure<Draft>(QJsonObject{{"id", "7"}}));
    EXPECT_TRUE(failure<Draft>(QJsonObject{{"title", "no id"}}));

    // A member of another type is read as well as it can be, and goes back as it came.
    const Draft tolerant = Draft::fromJson(
        parse(R"({"id":8,"hiddenFromGrid":"yes","format":null,"gridSlot":"3","title":5,"preview":"https://cdn.test/p.jpg"})"));
    EXPECT_TRUE(tolerant.hiddenFromGrid);
    EXPECT_EQ(tolerant.format, QStringLiteral("post"));
    EXPECT_EQ(tolerant.gridSlot, 3);
    EXPECT_EQ(tolerant.title, QStringLiteral("5"));
    EXPECT_EQ(tolerant.preview, QUrl(QStringLiteral("https://cdn.test/p.jpg")));

    EXPECT_EQ(tolerant.toJson(), parse(R"({"id":8,"title":5,"caption":"","hashtags":"","format":null,
                                          "scheduledAt":"","gridSlot":"3","hiddenFromGrid":"yes"})"));
    Draft full = bare;
    full.gridSlot = 2;
    full.mediaId = QStringLiteral("media-1");
    EXPECT_EQ(full.toJson().value("gridSlot").toInteger(), 2);
    EXPECT_EQ(full.toJson().value("mediaId").toString(), QStringLiteral("media-1"));
    EXPECT_FALSE(full.toJson().contains("posterMediaId"));
    // Equality and hashing see every field, the preview included.
    Draft other = tolerant;
    other.preview.reset();
    EXPECT_NE(other, tolerant);
    EXPECT_NE(qHash(other), qHash(tolerant));

    // A 64-bit id beyond a double's exact range, and the members other clients
    // wrote, go back exactly as they came (a known member of another type too);
    // the preview is not among them.
    const Draft far = Draft::fromJson(parse(R"({"id":1844674407370955161,"title":7,"preview":"https://cdn.test/p.jpg",
        "notes":"from the web","location":{"name":"Lisbon","lat":38.72},"tags":[1,null],"rank":9007199254740993,"gone":null})"));
    EXPECT_EQ(far.id, 1844674407370955161);
    EXPECT_EQ(Json::encode(far.toJson()).toStdString(),
              R"({"caption":"","format":"post","gone":null,"hashtags":"","hiddenFromGrid":false,)"
              R"("id":1844674407370955161,"location":{"lat":38.72,"name":"Lisbon"},"notes":"from the web",)"
              R"("rank":9007199254740993,"scheduledAt":"","tags":[1,null],"title":7})");
    Draft noted = far;
    noted.others.insert(QStringLiteral("notes"), QStringLiteral("changed elsewhere"));
    EXPECT_NE(noted, far);
    EXPECT_NE(qHash(noted), qHash(far));
    Draft ranked = far;
    ranked.others.insert(QStringLiteral("rank"), qint64(9007199254740992)); // the same double, another integer
    EXPECT_NE(ranked, far);
    EXPECT_TRUE(failure<Draft>(parse(R"({"id":7.5})")));
    EXPECT_TRUE(failure<Draft>(parse(R"({"id":9223372036854775808})")));
}

// Another client wrote members this application reads in types it does not
// expect: each is shown as well as it can be read and goes back exactly as it
// came, type included, until that field is changed here. A draft written in
// the expected types goes out byte for byte as before.
TEST(PlanDraft, AnotherClientsTypesGoBackAsTheyCameUntilTheFieldChangesHere)
{
    const char *phone = R"({"id":5,"title":"Phone","hashtags":["#cats","#coffee"],"scheduledAt":1748856600000,)"
                        R"("hiddenFromGrid":"yes","gridSlot":"4","mediaId":17,"caption":null,"format":3})";
    const Draft odd = Draft::fromJson(parse(phone));
    EXPECT_EQ(odd.hashtags, QStringLiteral("#cats #coffee"));
    EXPECT_EQ(odd.scheduledAt, QStringLiteral("2025-06-02T09:30:00Z"));
    EXPECT_TRUE(odd.hiddenFromGrid);
    EXPECT_EQ(odd.gridSlot, 4);
    EXPECT_EQ(odd.mediaId, QStringLiteral("17"));
    EXPECT_EQ(odd.caption, QString());
    EXPECT_EQ(odd.format, QStringLiteral("3"));
    const std::string asCame = R"({"caption":null,"format":3,"gridSlot":"4","hashtags":["#cats","#coffee"],)"
                               R"("hiddenFromGrid":"yes","id":5,"mediaId":17,"scheduledAt":1748856600000,"title":"Phone"})";
    EXPECT_EQ(Json::encode(odd.toJson()).toStdString(), asCame);
    // The records keep every field in its type, and those members beside them.
    EXPECT_EQ(Json::encode(odd.toTypedJson()).toStdString(),
              R"({"caption":"","format":"3","gridSlot":4,"hashtags":"#cats #coffee","hiddenFromGrid":true,"id":5,)"
              R"("mediaId":"17","scheduledAt":"2025-06-02T09:30:00Z","title":"Phone"})");
    EXPECT_EQ(odd.keptAsWritten().size(), 7);

    // Changed here: that field goes in its own type, the others as they came.
    Draft changed = odd;
    changed.hashtags = QStringLiteral("#tea");
    changed.gridSlot = 0;
    changed.hiddenFromGrid = false;
    changed.scheduledAt = QStringLiteral("2025-06-03T10:00:00Z");
    EXPECT_EQ(Json::encode(changed.toJson()).toStdString(),
              R"({"caption":null,"format":3,"gridSlot":0,"hashtags":"#tea","hiddenFromGrid":false,"id":5,)"
              R"("mediaId":17,"scheduledAt":"2025-06-03T10:00:00Z","title":"Phone"})");
    changed.mediaId.reset();
    changed.caption = QStringLiteral("Morning light");
    EXPECT_FALSE(changed.toJson().contains("mediaId"));
    EXPECT_EQ(changed.toJson().value("caption"), QJsonValue("Morning light"));
    // Equal to the draft read in the expected types: nothing of the other client's is kept any more.
    Draft plain = Draft::fromJson(changed.toJson());
    EXPECT_EQ(changed, plain);
    EXPECT_EQ(qHash(changed), qHash(plain));
    EXPECT_NE(odd, Draft::fromJson(odd.toTypedJson())) << "the same reading, but not the same on the wire";

    // Readings: seconds for a number too small to be milliseconds; what cannot
    // be read takes the default and still goes back as it came.
    const Draft unread = Draft::fromJson(parse(R"({"id":6,"scheduledAt":1748856600,"gridSlot":"top",)"
                                               R"("hiddenFromGrid":"no","title":{"text":"x"},"mediaId":null})"));
    EXPECT_EQ(unread.scheduledAt, QStringLiteral("2025-06-02T09:30:00Z"));
    EXPECT_FALSE(unread.gridSlot);
    EXPECT_FALSE(unread.hiddenFromGrid);
    EXPECT_EQ(unread.title, QString());
    EXPECT_EQ(Json::encode(unread.toJson()).toStdString(),
              R"({"caption":"","format":"post","gridSlot":"top","hashtags":"","hiddenFromGrid":"no","id":6,)"
              R"("scheduledAt":1748856600,"title":{"text":"x"}})");

    // In the expected types, byte for byte as before: every field in its type, in the keys' order.
    const char *wellTyped = R"({"caption":"Morning light","format":"reel","gridSlot":2,"hashtags":"#cats",)"
                            R"("hiddenFromGrid":false,"id":9,"mediaId":"m-9","notes":"web","posterMediaId":"p-9",)"
                            R"("scheduledAt":"2025-06-02T09:30:00Z","title":"Studio tour"})";
    const Draft typed = Draft::fromJson(parse(wellTyped));
    EXPECT_TRUE(typed.asWritten.isEmpty());
    EXPECT_EQ(Json::encode(typed.toJson()).toStdString(), wellTyped);
    EXPECT_EQ(typed.toTypedJson(), typed.toJson());

    // In a list: a draft whose id is no whole number is kept whole, never failing the list.
    for (const QJsonValue &item : {QJsonValue(parse(R"({"id":1.5,"title":"Odd one","tags":[1]})")),
                                   QJsonValue(parse(R"({"id":"7","title":8})")), QJsonValue(42)}) {
        const Draft kept = Draft::fromListJson(item);
        EXPECT_FALSE(kept.readable());
        EXPECT_EQ(kept.toListJson(), item);
    }
    EXPECT_EQ(Draft::fromListJson(parse(R"({"id":1.5,"title":"Odd one"})")).title, QStringLiteral("Odd one"));
    EXPECT_EQ(Draft::fromListJson(parse(R"({"id":"7","title":8})")).title, QStringLiteral("8"));
    EXPECT_TRUE(Draft::fromListJson(parse(phone)).readable());
    EXPECT_EQ(Draft::fromListJson(parse(phone)), odd);
}

TEST(Bodies, SignUpAnswersAndRefusals)
{
    using SignUp = ZephylWire::SignUpResponse;
    EXPECT_EQ(SignUp::fromJson(parse(R"({"user":{"identities":[{"id":"a"},{"id":"b"}]}})")).identities->size(), 2);
    EXPECT_EQ(SignUp::fromJson(parse(R"({"identities":[],"user":{"identities":[{"id":"a"}]}})")).identities->size(), 0);
    const SignUp neither = SignUp::fromJson(parse(R"({"access_token":"t","user":{}})"));
    EXPECT_FALSE(neither.identities);
    EXPECT_EQ(neither.accessToken, QStringLiteral("t"));
    EXPECT_TRUE(failure<SignUp>(parse(R"({"access_token":5})")));

    EXPECT_EQ(ZephylWire::ErrorResponse::codeIn("<html>502</html>"), std::nullopt);
    EXPECT_EQ(ZephylWire::ErrorResponse::codeIn(R"({"message":"x"})"), std::nullopt);
    EXPECT_EQ(ZephylWire::ErrorResponse::codeIn(R"({"code":401})"), std::nullopt);
    EXPECT_EQ(ZephylWire::ErrorResponse::codeIn(R"({"code":"plan_locked"})"), QStringLiteral("plan_locked"));

    EXPECT_EQ(ZephylWire::SignUpRequest({"a@b.c", "pw", {"de-AT", "Tom"}}).toJson(),
              parse(R"({"email":"a@b.c","password":"pw","data":{"locale":"de-AT","full_name":"Tom"}})"));
}
