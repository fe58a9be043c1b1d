#pragma once

#include "services/ChatAttachmentSummary.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// The service's JSON shapes. Each model decodes with fromJson (throwing
// ServiceDecodingError: a required field missing, null or mistyped fails the
// whole value) and, where the app sends it back, encodes with toJson (absent
// optionals leave their key out). They are spelled through ZephylAPI, e.g.
// ZephylAPI::PlanDraft; this namespace only keeps the header light.
namespace ZephylWire {

struct User {
    QString userId;
    QString email;
    std::optional<QString> displayName;
    QString role;

    static User fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
    bool operator==(const User &) const = default;
};

struct AuthSession {
    QString accessToken;
    QString refreshToken;
    qint64 expiresIn = 0;
    User user;
    std::optional<bool> mayHaveAnotherAccount;

    static AuthSession fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
    bool operator==(const AuthSession &) const = default;
};

struct AssistantReply {
    struct Action {
        QString id;
        QString label;
        std::optional<QString> format;
        std::optional<QString> title;
        std::optional<QString> caption;
        std::optional<QString> hashtags;
        std::optional<QString> theme;

        static Action fromJson(const QJsonValue &value);
        QJsonObject toJson() const;
        bool operator==(const Action &) const = default;
    };

    QString message;
    QList<Action> actions; // required, may be empty

    static AssistantReply fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
    bool operator==(const AssistantReply &) const = default;
};

struct AssistantThreadSummary {
    QString id;
    QString title;
    qint64 createdAt = 0; // ms since 1970
    qint64 updatedAt = 0;
    qint64 messageCount = 0;
    QString preview;

    static AssistantThreadSummary fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
    bool operator==(const AssistantThreadSummary &) const = default;
};

struct AssistantStoredMessage {
    QString id;
    QString role; // "user" or "assistant"
    QString content;
    qint64 createdAt = 0;
    std::optional<QList<AssistantReply::Action>> actions;
    std::optional<QList<ChatAttachmentSummary>> attachments;

    static AssistantStoredMessage fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
    bool operator==(const AssistantStoredMessage &) const = default;
};

struct AssistantThread {
    QString id;
    QString title;
    QList<AssistantStoredMessage> messages;
    qint64 createdAt = 0;
    qint64 updatedAt = 0;

    static AssistantThread fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
    bool operator==(const AssistantThread &) const = default;
};

struct AssistantThreadStore {
    qint64 version = 0;
    std::optional<QString> activeThreadId;
    std::optional<AssistantThread> activeThread;
    QList<AssistantThreadSummary> threads;
    QString status;

    static AssistantThreadStore fromJson(const QJsonValue &value);
    bool operator==(const AssistantThreadStore &) const = default;
};

struct InstagramProfile {
    QString userId;
    QString username;
    std::optional<QString> name;
    std::optional<QString> accountType;
    std::optional<QString> profilePictureUrl; // kept as text
    std::optional<QString> biography;
    std::optional<QString> website;

    static InstagramProfile fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
    bool operator==(const InstagramProfile &) const = default;
};

// One published item of the connected account's feed. Decoding cleans what the
// service sends: lengths are cut, counts clamped, unsafe links dropped, bad
// media skipped.
struct InstagramFeedItem {
    enum class Kind { feed, reel, carousel, unknown };

    struct Media {
        enum class Kind { image, video };

        QUrl url; // always https with a host
        std::optional<QUrl> thumbnailURL;
        Kind kind = Kind::image;

        static Media fromJson(const QJsonValue &value);
        QString identity() const { return url.toString(QUrl::FullyEncoded); }
        bool operator==(const Media &) const = default;
    };

    QString id;
    QString caption;
    std::optional<QString> postedAt;
    std::optional<QUrl> platformURL;
    std::optional<QUrl> previewURL;
    QList<Media> media;
    qint64 mediaCount = 1;
    Kind kind = Kind::unknown;
    std::optional<bool> sharedToFeed;

    static constexpr qsizetype maxIdLength = 180;
    static constexpr qsizetype maxCaptionLength = 2200;
    static constexpr qsizetype maxPostedAtLength = 80;
    static constexpr qsizetype maxMedia = 20;

    static InstagramFeedItem fromJson(const QJsonValue &value);
    // The picture a grid tile shows for the item.
    std::optional<QUrl> tileURL() const;
    bool operator==(const InstagramFeedItem &) const = default;

    // An https URL with a host, else nothing.
    static std::optional<QUrl> safeHTTPSURL(const std::optional<QString> &text);
    // As above, and on Instagram's own web site (bare or www), else nothing.
    static std::optional<QUrl> safeInstagramURL(const std::optional<QString> &text);
    static QString rawValue(Kind kind);
    static QString rawValue(Media::Kind kind);
};

struct InstagramFeedResponse {
    enum class Status { synced, disconnected, notConfigured, unsupportedProvider, unavailable, unknown };

    QList<InstagramFeedItem> items;
    Status status = Status::unknown;
    std::optional<QString> provider;
    std::optional<QString> cursor;
    bool hasMore = false;

    static constexpr qsizetype maxItems = 50;

    static InstagramFeedResponse fromJson(const QJsonValue &value);
    static QString rawValue(Status status);
    bool operator==(const InstagramFeedResponse &) const = default;
};

// One planned post. Only "id" is required. A member this application reads
// that another client wrote in another type (hashtags as a list, gridSlot as
// "4") is read as well as it can be (or takes its default) and goes back as
// it came until the field is changed here.
struct PlanDraft {
    qint64 id = 0;
    QString title;
    QString caption;
    QString hashtags;
    QString format = QStringLiteral("post");
    QString scheduledAt; // ISO 8601, or "" for no date
    std::optional<qint64> gridSlot;
    bool hiddenFromGrid = false;
    std::optional<QString> mediaId;
    std::optional<QString> posterMediaId;
    std::optional<QUrl> preview; // read only; never written back
    // The members this application does not read (written by other clients),
    // as they came: written back with the draft, so a whole-list write keeps them.
    QJsonObject others;
    // The members above that another client wrote in a type this application
    // does not expect, as they came (null included; a null optional member is
    // simply absent); the fields hold this application's reading of them.
    QJsonObject asWritten;
    // A draft that cannot be told apart from the others (its "id" is not a
    // whole number): the whole of it as it came, written back as it is and
    // never edited here (its title above is read for naming it). Undefined for
    // every other draft.
    QJsonValue unreadable = QJsonValue::Undefined;

    static PlanDraft fromJson(const QJsonValue &value);
    // One draft of the service's list: as fromJson, but one whose id cannot be
    // read is kept whole as `unreadable` rather than failing the list.
    static PlanDraft fromListJson(const QJsonValue &value);
    // As the service gets it: each member of `asWritten` as it came while its
    // field still holds the reading of it, else the field.
    QJsonObject toJson() const;
    // The same, or an unreadable draft as it came.
    QJsonValue toListJson() const { return readable() ? QJsonValue(toJson()) : unreadable; }
    // Every field in its own type, as the records on this computer keep it
    // (asWritten apart).
    QJsonObject toTypedJson() const;
    // The member `key` of `asWritten` while its field still holds the reading
    // of it (it goes back as it came); undefined otherwise.
    QJsonValue keptAsWritten(QLatin1StringView key) const;
    // Those members, as keptAsWritten gives them.
    QJsonObject keptAsWritten() const;
    bool readable() const { return unreadable.isUndefined(); }
    // Every field; of `asWritten` only what goes back as it came.
    bool operator==(const PlanDraft &other) const;
};

struct Publication {
    QString id;
    QString status;
    std::optional<qint64> scheduledAt; // ms since 1970
    std::optional<qint64> publishedAt;
    std::optional<QUrl> platformUrl;
    std::optional<QString> externalId;
    std::optional<QString> error;
    std::optional<QString> caption;
    std::optional<QString> format;
    std::optional<bool> isDraft;

    static Publication fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
    bool operator==(const Publication &) const = default;
};

size_t qHash(const AssistantReply::Action &a, size_t seed = 0);
size_t qHash(const AssistantThreadSummary &s, size_t seed = 0);
size_t qHash(const PlanDraft &d, size_t seed = 0);

} // namespace ZephylWire
