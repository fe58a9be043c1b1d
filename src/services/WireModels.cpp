#include "services/WireModels.h"

#include "services/Json.h"

#include <QHash>

namespace ZephylWire {

using ::qHash;

namespace {
using Json::at;
constexpr auto L = [](const char *s) { return QLatin1StringView(s); };

[[noreturn]] void corrupted(const char *key, const QString &description)
{
    throw ServiceDecodingError(ServiceDecodingError::Kind::dataCorrupted, QString::fromLatin1(key), description);
}

std::optional<QString> cut(std::optional<QString> text, qsizetype limit)
{
    if (text)
        *text = Text::prefixGraphemes(*text, limit);
    return text;
}

const QString kInstagramDomain = QStringLiteral("instagram.com");
const QString kInstagramWWW = QStringLiteral("www.instagram.com");
} // namespace

// ---- User, AuthSession

User User::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    User u;
    u.userId = Json::string(o, L("userId"));
    u.email = Json::string(o, L("email"));
    u.displayName = Json::optString(o, L("displayName"));
    u.role = Json::string(o, L("role"));
    return u;
}

QJsonObject User::toJson() const
{
    QJsonObject o{{L("userId"), userId}, {L("email"), email}};
    Json::putOptional(o, L("displayName"), displayName);
    o.insert(L("role"), role);
    return o;
}

AuthSession AuthSession::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    AuthSession s;
    s.accessToken = Json::string(o, L("accessToken"));
    s.refreshToken = Json::string(o, L("refreshToken"));
    s.expiresIn = Json::integer(o, L("expiresIn"));
    s.user = Json::field<User>(o, L("user"));
    s.mayHaveAnotherAccount = Json::optBoolean(o, L("mayHaveAnotherAccount"));
    return s;
}

QJsonObject AuthSession::toJson() const
{
    QJsonObject o{{L("accessToken"), accessToken},
                  {L("refreshToken"), refreshToken},
                  {L("expiresIn"), expiresIn},
                  {L("user"), user.toJson()}};
    Json::putOptional(o, L("mayHaveAnotherAccount"), mayHaveAnotherAccount);
    return o;
}

// ---- Assistant

AssistantReply::Action AssistantReply::Action::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    Action a;
    a.id = Json::string(o, L("id"));
    a.label = Json::string(o, L("label"));
    a.format = Json::optString(o, L("format"));
    a.title = Json::optString(o, L("title"));
    a.caption = Json::optString(o, L("caption"));
    a.hashtags = Json::optString(o, L("hashtags"));
    a.theme = Json::optString(o, L("theme"));
    return a;
}

QJsonObject AssistantReply::Action::toJson() const
{
    QJsonObject o{{L("id"), id}, {L("label"), label}};
    Json::putOptional(o, L("format"), format);
    Json::putOptional(o, L("title"), title);
    Json::putOptional(o, L("caption"), caption);
    Json::putOptional(o, L("hashtags"), hashtags);
    Json::putOptional(o, L("theme"), theme);
    return o;
}

AssistantReply AssistantReply::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    AssistantReply r;
    r.message = Json::string(o, L("message"));
    r.actions = Json::list<Action>(o, L("actions"));
    return r;
}

QJsonObject AssistantReply::toJson() const
{
    return QJsonObject{{L("message"), message}, {L("actions"), Json::toArray(actions)}};
}

AssistantThreadSummary AssistantThreadSummary::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    AssistantThreadSummary s;
    s.id = Json::string(o, L("id"));
    s.title = Json::string(o, L("title"));
    s.createdAt = Json::integer(o, L("createdAt"));
    s.updatedAt = Json::integer(o, L("updatedAt"));
    s.messageCount = Json::integer(o, L("messageCount"));
    s.preview = Json::string(o, L("preview"));
    return s;
}

QJsonObject AssistantThreadSummary::toJson() const
{
    return QJsonObject{{L("id"), id},
                       {L("title"), title},
                       {L("createdAt"), createdAt},
                       {L("updatedAt"), updatedAt},
                       {L("messageCount"), messageCount},
                       {L("preview"), preview}};
}

AssistantStoredMessage AssistantStoredMessage::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    AssistantStoredMessage m;
    m.id = Json::string(o, L("id"));
    m.role = Json::string(o, L("role"));
    m.content = Json::string(o, L("content"));
    m.createdAt = Json::integer(o, L("createdAt"));
    m.actions = Json::optList<AssistantReply::Action>(o, L("actions"));
    m.attachments = Json::optList<ChatAttachmentSummary>(o, L("attachments"));
    return m;
}

QJsonObject AssistantStoredMessage::toJson() const
{
    QJsonObject o{{L("id"), id}, {L("role"), role}, {L("content"), content}, {L("createdAt"), createdAt}};
    if (actions)
        o.insert(L("actions"), Json::toArray(*actions));
    if (attachments)
        o.insert(L("attachments"), Json::toArray(*attachments));
    return o;
}

AssistantThread AssistantThread::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    AssistantThread t;
    t.id = Json::string(o, L("id"));
    t.title = Json::string(o, L("title"));
    t.messages = Json::list<AssistantStoredMessage>(o, L("messages"));
    t.createdAt = Json::integer(o, L("createdAt"));
    t.updatedAt = Json::integer(o, L("updatedAt"));
    return t;
}

QJsonObject AssistantThread::toJson() const
{
    return QJsonObject{{L("id"), id},
                       {L("title"), title},
                       {L("messages"), Json::toArray(messages)},
                       {L("createdAt"), createdAt},
                       {L("updatedAt"), updatedAt}};
}

AssistantThreadStore AssistantThreadStore::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    AssistantThreadStore s;
    s.version = Json::integer(o, L("version"));
    s.activeThreadId = Json::optString(o, L("activeThreadId"));
    if (const auto thread = Json::optObjectAt(o, L("activeThread")))
        s.activeThread = at(L("activeThread"), [&] { return AssistantThread::fromJson(*thread); });
    s.threads = Json::list<AssistantThreadSummary>(o, L("threads"));
    s.status = Json::string(o, L("status"));
    return s;
}

// ---- Instagram

InstagramProfile InstagramProfile::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    InstagramProfile p;
    p.userId = Json::string(o, L("userId"));
    p.username = Json::string(o, L("username"));
    p.name = Json::optString(o, L("name"));
    p.accountType = Json::optString(o, L("accountType"));
    p.profilePictureUrl = Json::optString(o, L("profilePictureUrl"));
    p.biography = Json::optString(o, L("biography"));
    p.website = Json::optString(o, L("website"));
    return p;
}

QJsonObject InstagramProfile::toJson() const
{
    QJsonObject o{{L("userId"), userId}, {L("username"), username}};
    Json::putOptional(o, L("name"), name);
    Json::putOptional(o, L("accountType"), accountType);
    Json::putOptional(o, L("profilePictureUrl"), profilePictureUrl);
    Json::putOptional(o, L("biography"), biography);
    Json::putOptional(o, L("website"), website);
    return o;
}

std::optional<QUrl> InstagramFeedItem::safeHTTPSURL(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return std::nullopt;
    if (url.scheme().toLower() != QLatin1String("https") || url.host().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<QUrl> InstagramFeedItem::safeInstagramURL(const std::optional<QString> &text)
{
    auto url = safeHTTPSURL(text);
    if (!url)
        return std::nullopt;
    const QString host = url->host().toLower();
    if (host != kInstagramDomain && host != kInstagramWWW)
        return std::nullopt;
    return url;
}

QString InstagramFeedItem::rawValue(Kind kind)
{
    switch (kind) {
    case Kind::feed: return QStringLiteral("feed");
    case Kind::reel: return QStringLiteral("reel");
    case Kind::carousel: return QStringLiteral("carousel");
    case Kind::unknown: break;
    }
    return QStringLiteral("unknown");
}

QString InstagramFeedItem::rawValue(Media::Kind kind)
{
    return kind == Media::Kind::video ? QStringLiteral("video") : QStringLiteral("image");
}

InstagramFeedItem::Media InstagramFeedItem::Media::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    Media m;
    const auto url = safeHTTPSURL(Json::optString(o, L("url")));
    if (!url)
        corrupted("url", QStringLiteral("Instagram media url must be https"));
    m.url = *url;
    m.thumbnailURL = safeHTTPSURL(Json::optString(o, L("thumbnailUrl")));
    if (const auto kind = Json::optString(o, L("kind"))) {
        if (*kind == QLatin1String("image"))
            m.kind = Kind::image;
        else if (*kind == QLatin1String("video"))
            m.kind = Kind::video;
        else
            corrupted("kind", QStringLiteral("Cannot initialize Kind from invalid String value %1").arg(*kind));
    }
    return m;
}

InstagramFeedItem InstagramFeedItem::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    InstagramFeedItem item;

    const QString id = Json::string(o, L("id")).trimmed();
    if (id.isEmpty())
        corrupted("id", QStringLiteral("Instagram media id must not be empty"));
    item.id = Text::prefixGraphemes(id, maxIdLength);

    item.caption = Text::prefixGraphemes(Json::optString(o, L("caption")).value_or(QString()), maxCaptionLength);
    item.postedAt = cut(Json::optString(o, L("postedAt")), maxPostedAtLength);

    if (const auto count = Json::optInteger(o, L("mediaCount")))
        item.mediaCount = std::clamp<qint64>(*count, 1, maxMedia);

    const auto kind = Json::optString(o, L("kind"));
    if (kind == QLatin1String("feed"))
        item.kind = Kind::feed;
    else if (kind == QLatin1String("reel"))
        item.kind = Kind::reel;
    else if (kind == QLatin1String("carousel"))
        item.kind = Kind::carousel;
    else
        item.kind = Kind::unknown;

    // Media are read one by one: a bad medium is dropped, and an unreadable list gives none.
    const QJsonValue media = o.value(L("media"));
    if (media.isArray()) {
        const QJsonArray array = media.toArray();
        for (const QJsonValue &entry : array) {
            try {
                item.media.push_back(Media::fromJson(entry));
            } catch (const ServiceDecodingError &) {
                continue;
            }
            if (item.media.size() == maxMedia)
                break;
        }
    }

    item.previewURL = safeHTTPSURL(Json::optString(o, L("previewUrl")));
    item.platformURL = safeInstagramURL(Json::optString(o, L("platformUrl")));
    item.sharedToFeed = Json::optBoolean(o, L("sharedToFeed"));
    return item;
}

std::optional<QUrl> InstagramFeedItem::tileURL() const
{
    if (previewURL)
        return previewURL;
    if (media.isEmpty())
        return std::nullopt;
    const Media &first = media.first();
    if (first.kind == Media::Kind::image) {
        QString path = first.url.path();
        // As a file name is read from a URL: a closing slash does not end the name.
        while (path.endsWith(QLatin1Char('/')))
            path.chop(1);
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QString last = path.mid(slash + 1);
        const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
        const QString ext = dot > 0 ? last.mid(dot + 1).toLower() : QString();
        static const QStringList videoExtensions{QStringLiteral("mp4"), QStringLiteral("mov"), QStringLiteral("m4v"),
                                                 QStringLiteral("webm")};
        if (!videoExtensions.contains(ext))
            return first.url;
    }
    return first.thumbnailURL;
}

QString InstagramFeedResponse::rawValue(Status status)
{
    switch (status) {
    case Status::synced: return QStringLiteral("synced");
    case Status::disconnected: return QStringLiteral("disconnected");
    case Status::notConfigured: return QStringLiteral("not_configured");
    case Status::unsupportedProvider: return QStringLiteral("unsupported_provider");
    case Status::unavailable: return QStringLiteral("unavailable");
    case Status::unknown: break;
    }
    return QStringLiteral("unknown");
}

InstagramFeedResponse InstagramFeedResponse::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    InstagramFeedResponse r;
    // Every item is read, so one bad item fails the page even past the ones kept.
    if (auto items = Json::optList<InstagramFeedItem>(o, L("items"))) {
        if (items->size() > maxItems)
            items->resize(maxItems);
        r.items = std::move(*items);
    }
    const auto status = Json::optString(o, L("status"));
    r.status = Status::unknown;
    for (auto s : {Status::synced, Status::disconnected, Status::notConfigured, Status::unsupportedProvider,
                   Status::unavailable}) {
        if (status == rawValue(s))
            r.status = s;
    }
    r.provider = cut(Json::optString(o, L("provider")), 80);
    r.cursor = cut(Json::optString(o, L("cursor")), 200);
    r.hasMore = Json::optBoolean(o, L("hasMore")).value_or(false);
    return r;
}

// ---- Plan drafts

namespace {
// Reads one tolerant field: any failure gives the default.
template <typename F, typename T>
T tolerant(F &&read, T fallback)
{
    try {
        return read();
    } catch (const ServiceDecodingError &) {
        return fallback;
    }
}
} // namespace

PlanDraft PlanDraft::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    PlanDraft d;
    d.id = Json::integer(o, L("id"));
    d.title = tolerant([&] { return Json::string(o, L("title")); }, QString());
    d.caption = tolerant([&] { return Json::string(o, L("caption")); }, QString());
    d.hashtags = tolerant([&] { return Json::string(o, L("hashtags")); }, QString());
    d.format = tolerant([&] { return Json::string(o, L("format")); }, QStringLiteral("post"));
    d.scheduledAt = tolerant([&] { return Json::string(o, L("scheduledAt")); }, QString());
    d.gridSlot = tolerant([&] { return Json::optInteger(o, L("gridSlot")); }, std::optional<qint64>());
    d.hiddenFromGrid = tolerant([&] { return Json::boolean(o, L("hiddenFromGrid")); }, false);
    d.mediaId = tolerant([&] { return Json::optString(o, L("mediaId")); }, std::optional<QString>());
    d.posterMediaId = tolerant([&] { return Json::optString(o, L("posterMediaId")); }, std::optional<QString>());
    d.preview = InstagramFeedItem::safeHTTPSURL(
        tolerant([&] { return Json::optString(o, L("preview")); }, std::optional<QString>()));
    // Every member read above stays out ("preview" is never written back); the rest goes back as it came.
    d.others = o;
    for (const char *key : {"id", "title", "caption", "hashtags", "format", "scheduledAt", "gridSlot", "hiddenFromGrid",
                            "mediaId", "posterMediaId", "preview"})
        d.others.remove(L(key));
    return d;
}

QJsonObject PlanDraft::toJson() const
{
    QJsonObject o = others;
    o.insert(L("id"), id);
    o.insert(L("title"), title);
    o.insert(L("caption"), caption);
    o.insert(L("hashtags"), hashtags);
    o.insert(L("format"), format);
    o.insert(L("scheduledAt"), scheduledAt);
    Json::putOptional(o, L("gridSlot"), gridSlot);
    o.insert(L("hiddenFromGrid"), hiddenFromGrid);
    Json::putOptional(o, L("mediaId"), mediaId);
    Json::putOptional(o, L("posterMediaId"), posterMediaId);
    return o;
}

// ---- Publications

Publication Publication::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    Publication p;
    p.id = Json::string(o, L("id"));
    p.status = Json::string(o, L("status"));
    p.scheduledAt = Json::optInteger(o, L("scheduledAt"));
    p.publishedAt = Json::optInteger(o, L("publishedAt"));
    if (const auto text = Json::optString(o, L("platformUrl"))) {
        const QUrl url(*text, QUrl::StrictMode);
        if (text->isEmpty() || !url.isValid())
            corrupted("platformUrl", QStringLiteral("Invalid URL string."));
        p.platformUrl = url;
    }
    p.externalId = Json::optString(o, L("externalId"));
    p.error = Json::optString(o, L("error"));
    p.caption = Json::optString(o, L("caption"));
    p.format = Json::optString(o, L("format"));
    p.isDraft = Json::optBoolean(o, L("isDraft"));
    return p;
}

QJsonObject Publication::toJson() const
{
    QJsonObject o{{L("id"), id}, {L("status"), status}};
    Json::putOptional(o, L("scheduledAt"), scheduledAt);
    Json::putOptional(o, L("publishedAt"), publishedAt);
    if (platformUrl)
        o.insert(L("platformUrl"), platformUrl->toString(QUrl::FullyEncoded));
    Json::putOptional(o, L("externalId"), externalId);
    Json::putOptional(o, L("error"), error);
    Json::putOptional(o, L("caption"), caption);
    Json::putOptional(o, L("format"), format);
    Json::putOptional(o, L("isDraft"), isDraft);
    return o;
}

// ---- Hashing

namespace {
size_t hashOpt(size_t seed, const std::optional<QString> &v) { return v ? qHash(*v, seed) : qHash(0, seed); }
} // namespace

size_t qHash(const AssistantReply::Action &a, size_t seed)
{
    size_t h = qHashMulti(seed, a.id, a.label);
    for (const auto *v : {&a.format, &a.title, &a.caption, &a.hashtags, &a.theme})
        h = hashOpt(h, *v);
    return h;
}

size_t qHash(const AssistantThreadSummary &s, size_t seed)
{
    return qHashMulti(seed, s.id, s.title, s.createdAt, s.updatedAt, s.messageCount, s.preview);
}

size_t qHash(const PlanDraft &d, size_t seed)
{
    size_t h = qHashMulti(seed, d.id, d.title, d.caption, d.hashtags, d.format, d.scheduledAt);
    h = qHashMulti(h, d.gridSlot.value_or(-1), d.gridSlot.has_value(), d.hiddenFromGrid);
    h = hashOpt(h, d.mediaId);
    h = hashOpt(h, d.posterMediaId);
    h = qHash(d.others, h);
    return qHash(d.preview.value_or(QUrl()), h);
}

} // namespace ZephylWire
