#include "services/ChatModels.h"

#include "base/Clock.h"
#include "services/Json.h"

#include <QHash>
#include <QUuid>

QString ChatAttachmentSummary::rawValue(Kind kind)
{
    return kind == Kind::image ? QStringLiteral("image") : QStringLiteral("file");
}

std::optional<ChatAttachmentSummary::Kind> ChatAttachmentSummary::kindFromRaw(const QString &raw)
{
    if (raw == QLatin1String("image"))
        return Kind::image;
    if (raw == QLatin1String("file"))
        return Kind::file;
    return std::nullopt;
}

ChatAttachmentSummary ChatAttachmentSummary::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    ChatAttachmentSummary a;
    a.id = Json::string(o, QLatin1String("id"));
    a.name = Json::string(o, QLatin1String("name"));
    a.mimeType = Json::string(o, QLatin1String("mimeType"));
    const QString kind = Json::string(o, QLatin1String("kind"));
    const auto parsed = kindFromRaw(kind);
    if (!parsed)
        throw ServiceDecodingError(ServiceDecodingError::Kind::dataCorrupted, QStringLiteral("kind"),
                                   QStringLiteral("Cannot initialize Kind from invalid String value %1").arg(kind));
    a.kind = *parsed;
    a.size = Json::integer(o, QLatin1String("size"));
    return a;
}

QJsonObject ChatAttachmentSummary::toJson() const
{
    return QJsonObject{{QLatin1String("id"), id},
                       {QLatin1String("name"), name},
                       {QLatin1String("mimeType"), mimeType},
                       {QLatin1String("kind"), rawValue(kind)},
                       {QLatin1String("size"), size}};
}

size_t qHash(const ChatAttachmentSummary &a, size_t seed)
{
    return qHashMulti(seed, a.id, a.name, a.mimeType, int(a.kind), a.size);
}

QString ChatMessage::rawValue(Author author)
{
    return author == Author::user ? QStringLiteral("user") : QStringLiteral("assistant");
}

std::optional<ChatMessage::Author> ChatMessage::authorFromRaw(const QString &raw)
{
    if (raw == QLatin1String("user"))
        return Author::user;
    if (raw == QLatin1String("assistant"))
        return Author::assistant;
    return std::nullopt;
}

namespace {
ChatMessage make(ChatMessage::Author author, const QString &text, const Clock &clock)
{
    ChatMessage m;
    m.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    m.author = author;
    m.text = text;
    m.createdAt = clock.now().toMSecsSinceEpoch();
    return m;
}
} // namespace

ChatMessage ChatMessage::fromUser(const QString &text, const Clock &clock) { return make(Author::user, text, clock); }

ChatMessage ChatMessage::fromAssistant(const QString &text, QList<ZephylWire::AssistantReply::Action> actions,
                                       const Clock &clock)
{
    ChatMessage m = make(Author::assistant, text, clock);
    m.actions = std::move(actions);
    return m;
}

size_t qHash(const ChatMessage &m, size_t seed)
{
    size_t h = qHashMulti(seed, m.id, int(m.author), m.text, m.createdAt);
    for (const auto &a : m.attachments)
        h = qHash(a, h);
    for (const auto &a : m.actions)
        h = qHash(a, h);
    return h;
}
