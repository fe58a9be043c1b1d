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

    const Draft tolerant = Draft::fromJson(
        parse(R"({"id":8,"hiddenFromGrid":"yes","format":null,"gridSlot":"3","title":5,"preview":"https://cdn.test/p.jpg"})"));
    EXPECT_FALSE(tolerant.hiddenFromGrid);
    EXPECT_EQ(tolerant.format, QStringLiteral("post"));
    EXPECT_FALSE(tolerant.gridSlot);
    EXPECT_EQ(tolerant.title, QString());
    EXPECT_EQ(tolerant.preview, QUrl(QStringLiteral("https://cdn.test/p.jpg")));

    EXPECT_EQ(tolerant.toJson(), parse(R"({"id":8,"title":"","caption":"","hashtags":"","format":"post",
                                          "scheduledAt":"","hiddenFromGrid":false})"));
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
    // wrote, go back exactly as they came; a known member of the wrong type and
    // the preview are not among them.
    const Draft far = Draft::fromJson(parse(R"({"id":1844674407370955161,"title":7,"preview":"https://cdn.test/p.jpg",
        "notes":"from the web","location":{"name":"Lisbon","lat":38.72},"tags":[1,null],"rank":9007199254740993,"gone":null})"));
    EXPECT_EQ(far.id, 1844674407370955161);
    EXPECT_EQ(Json::encode(far.toJson()).toStdString(),
              R"({"caption":"","format":"post","gone":null,"hashtags":"","hiddenFromGrid":false,)"
              R"("id":1844674407370955161,"location":{"lat":38.72,"name":"Lisbon"},"notes":"from the web",)"
              R"("rank":9007199254740993,"scheduledAt":"","tags":[1,null],"title":""})");
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
