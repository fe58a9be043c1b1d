#include "services/WireModels.h"

#include "services/Json.h"

#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

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

// This application's readings of members another client wrote in another
// type: as text, a number's digits or a list's words; as a date, a number of
// milliseconds since 1970 (seconds, when too small to be those); as a place,
// a whole number written as text; as a switch, a word that says yes.

QString numberText(const QJsonValue &v)
{
    return Json::isInteger(v) ? QString::number(v.toInteger())
                              : QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
}

std::optional<QString> textOf(const QJsonValue &v)
{
    if (v.isString())
        return v.toString();
    if (v.isDouble())
        return numberText(v);
    if (!v.isArray())
        return std::nullopt;
    QStringList words;
    for (const QJsonValue &item : v.toArray()) {
        if (item.isString() || item.isDouble())
            words << (item.isString() ? item.toString() : numberText(item));
    }
    return words.isEmpty() ? std::nullopt : std::optional(words.join(QLatin1Char(' ')));
}

QString dateOf(const QJsonValue &v)
{
    if (v.isString())
        return v.toString();
    if (!v.isDouble() || !std::isfinite(v.toDouble()))
        return {};
    const double n = v.toDouble();
    const double ms = std::fabs(n) < 1e11 ? n * 1000 : n;
    if (std::fabs(ms) > 8.64e15)
        return {};
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(qint64(std::floor(ms / 1000)) * 1000, QTimeZone::utc());
    if (!at.isValid() || at.date().year() < 1 || at.date().year() > 9999)
        return {};
    return at.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

std::optional<qint64> slotOf(const QJsonValue &v)
{
    if (Json::isInteger(v))
        return v.toInteger();
    bool ok = false;
    const qint64 n = v.isString() ? v.toString().trimmed().toLongLong(&ok) : 0;
    return ok ? std::optional(n) : std::nullopt;
}

bool switchOf(const QJsonValue &v)
{
    if (v.isBool())
        return v.toBool();
    if (v.isDouble())
        return v.toDouble() != 0;
    static const QStringList yes = {QStringLiteral("true"), QStringLiteral("yes"), QStringLiteral("y"),
                                    QStringLiteral("on"), QStringLiteral("1")};
    return v.isString() && yes.contains(v.toString().trimmed(), Qt::CaseInsensitive);
}

std::optional<QString> mediaOf(const QJsonValue &v)
{
    if (v.isString())
        return v.toString();
    if (v.isDouble())
        return numberText(v);
    return std::nullopt;
}

// Every member the draft reads, "preview" (never written back) last.
constexpr const char *kDraftMembers[] = {"caption",       "format", "gridSlot",    "hashtags", "hiddenFromGrid", "id",
                                         "mediaId",       "posterMediaId",         "scheduledAt", "title", "preview"};

} // namespace

PlanDraft PlanDraft::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    PlanDraft d;
    d.id = Json::integer(o, L("id"));
    qsizetype read = 1;
    const auto member = [&](const char *key) -> QJsonValue {
        const auto it = o.constFind(L(key));
        if (it == o.constEnd())
            return QJsonValue::Undefined;
        ++read;
        return *it;
    };
    // A member of its own type is the field. One of another type is kept as
    // it came, and the field holds its reading; a null optional member is absent.
    const auto text = [&](const char *key, QString &field, const QString &fallback) {
        const QJsonValue v = member(key);
        if (v.isString()) {
            field = v.toString();
        } else if (!v.isUndefined()) {
            field = textOf(v).value_or(fallback);
            d.asWritten.insert(L(key), v);
        }
    };
    text("title", d.title, QString());
    text("caption", d.caption, QString());
    text("hashtags", d.hashtags, QString());
    text("format", d.format, QStringLiteral("post"));
    if (const QJsonValue v = member("scheduledAt"); v.isString()) {
        d.scheduledAt = v.toString();
    } else if (!v.isUndefined()) {
        d.scheduledAt = dateOf(v);
        d.asWritten.insert(L("scheduledAt"), v);
    }
    if (const QJsonValue v = member("gridSlot"); Json::isInteger(v)) {
        d.gridSlot = v.toInteger();
    } else if (!v.isUndefined() && !v.isNull()) {
        d.gridSlot = slotOf(v);
        d.asWritten.insert(L("gridSlot"), v);
    }
    if (const QJsonValue v = member("hiddenFromGrid"); v.isBool()) {
        d.hiddenFromGrid = v.toBool();
    } else if (!v.isUndefined()) {
        d.hiddenFromGrid = switchOf(v);
        d.asWritten.insert(L("hiddenFromGrid"), v);
    }
    const auto media = [&](const char *key, std::optional<QString> &field) {
        const QJsonValue v = member(key);
        if (v.isString()) {
            field = v.toString();
        } else if (!v.isUndefined() && !v.isNull()) {
            field = mediaOf(v);
            d.asWritten.insert(L(key), v);
        }
    };
    media("mediaId", d.mediaId);
    media("posterMediaId", d.posterMediaId);
    if (const QJsonValue v = member("preview"); v.isString())
        d.preview = InstagramFeedItem::safeHTTPSURL(v.toString());
    // The rest goes back as it came.
    if (read < o.size()) {
        for (auto it = o.constBegin(); it != o.constEnd(); ++it) {
            if (std::none_of(std::begin(kDraftMembers), std::end(kDraftMembers),
                             [&](const char *known) { return it.key() == QLatin1StringView(known); }))
                d.others.insert(it.key(), it.value());
        }
    }
    return d;
}

PlanDraft PlanDraft::fromListJson(const QJsonValue &value)
{
    if (value.isObject() && Json::isInteger(value.toObject().value(L("id"))))
        return fromJson(value);
    PlanDraft d;
    d.unreadable = value;
    d.title = textOf(value.toObject().value(L("title"))).value_or(QString());
    return d;
}

QJsonValue PlanDraft::keptAsWritten(QLatin1StringView key) const
{
    if (asWritten.isEmpty())
        return QJsonValue::Undefined;
    const auto it = asWritten.constFind(key);
    if (it == asWritten.constEnd())
        return QJsonValue::Undefined;
    const QJsonValue v = *it;
    bool reads = false;
    if (key == L("title"))
        reads = textOf(v).value_or(QString()) == title;
    else if (key == L("caption"))
        reads = textOf(v).value_or(QString()) == caption;
    else if (key == L("hashtags"))
        reads = textOf(v).value_or(QString()) == hashtags;
    else if (key == L("format"))
        reads = textOf(v).value_or(QStringLiteral("post")) == format;
    else if (key == L("scheduledAt"))
        reads = dateOf(v) == scheduledAt;
    else if (key == L("gridSlot"))
        reads = slotOf(v) == gridSlot;
    else if (key == L("hiddenFromGrid"))
        reads = switchOf(v) == hiddenFromGrid;
    else if (key == L("mediaId"))
        reads = mediaOf(v) == mediaId;
    else if (key == L("posterMediaId"))
        reads = mediaOf(v) == posterMediaId;
    return reads ? v : QJsonValue(QJsonValue::Undefined);
}

QJsonObject PlanDraft::keptAsWritten() const
{
    QJsonObject out;
    for (auto it = asWritten.constBegin(); it != asWritten.constEnd(); ++it) {
        if (const QJsonValue v = keptAsWritten(QLatin1StringView(it.key().toLatin1())); !v.isUndefined())
            out.insert(it.key(), v);
    }
    return out;
}

namespace {

// The draft's members, in their keys' order (so each lands at the end of the
// object); those kept as another client wrote them, as it did.
QJsonObject draftJson(const PlanDraft &d, bool asCame)
{
    QJsonObject o = d.others;
    const bool kept = asCame && !d.asWritten.isEmpty();
    const auto put = [&](const char *key, const QJsonValue &own) {
        const QJsonValue came = kept ? d.keptAsWritten(L(key)) : QJsonValue(QJsonValue::Undefined);
        if (!came.isUndefined())
            o.insert(L(key), came);
        else if (!own.isUndefined())
            o.insert(L(key), own);
    };
    const auto optional = [](const auto &field) {
        return field ? QJsonValue(*field) : QJsonValue(QJsonValue::Undefined);
    };
    put("caption", d.caption);
    put("format", d.format);
    put("gridSlot", optional(d.gridSlot));
    put("hashtags", d.hashtags);
    put("hiddenFromGrid", d.hiddenFromGrid);
    o.insert(L("id"), d.id);
    put("mediaId", optional(d.mediaId));
    put("posterMediaId", optional(d.posterMediaId));
    put("scheduledAt", d.scheduledAt);
    put("title", d.title);
    return o;
}

} // namespace

QJsonObject PlanDraft::toJson() const { return readable() ? draftJson(*this, true) : unreadable.toObject(); }

QJsonObject PlanDraft::toTypedJson() const { return draftJson(*this, false); }

bool PlanDraft::operator==(const PlanDraft &o) const
{
    return id == o.id && title == o.title && caption == o.caption && hashtags == o.hashtags && format == o.format &&
           scheduledAt == o.scheduledAt && gridSlot == o.gridSlot && hiddenFromGrid == o.hiddenFromGrid &&
           mediaId == o.mediaId && posterMediaId == o.posterMediaId && preview == o.preview && others == o.others &&
           unreadable == o.unreadable &&
           ((asWritten.isEmpty() && o.asWritten.isEmpty()) || keptAsWritten() == o.keptAsWritten());
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
    if (!d.asWritten.isEmpty())
        h = qHash(d.keptAsWritten(), h);
    if (!d.readable())
        h = qHash(d.unreadable, h);
    return qHash(d.preview.value_or(QUrl()), h);
}

} // namespace ZephylWire
