#include "services/ops/AssistantBodies.h"

#include "design/AppLanguage.h"
#include "design/L10n.h"
#include "services/ChatModels.h"
#include "services/Json.h"

#include <QJsonArray>

namespace AssistantBodies {

namespace {

QString role(ChatMessage::Author author)
{
    return author == ChatMessage::Author::assistant ? QStringLiteral("assistant") : QStringLiteral("user");
}

} // namespace

const QStringList &capabilities()
{
    static const QStringList ids{QStringLiteral("open_planner"), QStringLiteral("open_studio"),
                                 QStringLiteral("open_composer"), QStringLiteral("preview_grid"),
                                 QStringLiteral("open_insights"), QStringLiteral("open_profile"),
                                 QStringLiteral("draft_post"),    QStringLiteral("set_theme"),
                                 QStringLiteral("set_language")};
    return ids;
}

QString currentLocale()
{
    return AppLanguages::rawValue(L10n::effectiveLanguage());
}

QJsonObject assistantRequest(const QString &message, const QList<ChatMessage> &history, const Persona &persona,
                             const QString &locale)
{
    QJsonArray recent;
    for (qsizetype i = std::max<qsizetype>(0, history.size() - historyLimit); i < history.size(); ++i) {
        const ChatMessage &m = history.at(i);
        recent.append(QJsonObject{{QStringLiteral("role"), role(m.author)}, {QStringLiteral("content"), m.text}});
    }
    QJsonObject body{
        {QStringLiteral("message"), message},
        {QStringLiteral("history"), recent},
        {QStringLiteral("locale"), locale},
        {QStringLiteral("capabilities"), QJsonArray::fromStringList(capabilities())},
        {QStringLiteral("attachments"), QJsonArray()},
    };
    if (persona.kind == Persona::Kind::kitty) {
        body.insert(QStringLiteral("persona"), QStringLiteral("kitty"));
        if (!persona.name.isEmpty())
            body.insert(QStringLiteral("catName"), persona.name);
    }
    return body;
}

QJsonObject createThreadRequest(const std::optional<QString> &title)
{
    QJsonObject body;
    if (title)
        body.insert(QStringLiteral("title"), *title);
    return body;
}

QJsonObject selectThreadRequest(const QString &id)
{
    return QJsonObject{{QStringLiteral("activeThreadId"), id}};
}

QJsonObject saveThreadRequest(const std::optional<QString> &id, const std::optional<QString> &title,
                              const QList<ChatMessage> &messages)
{
    QJsonArray stored;
    for (const ChatMessage &m : messages) {
        QJsonObject o{{QStringLiteral("id"), m.id},
                      {QStringLiteral("role"), role(m.author)},
                      {QStringLiteral("content"), m.text},
                      {QStringLiteral("createdAt"), QJsonValue(qint64(m.createdAt))}};
        if (!m.actions.isEmpty())
            o.insert(QStringLiteral("actions"), Json::toArray(m.actions));
        if (!m.attachments.isEmpty())
            o.insert(QStringLiteral("attachments"), Json::toArray(m.attachments));
        stored.append(o);
    }
    QJsonObject body{{QStringLiteral("messages"), stored}};
    if (id)
        body.insert(QStringLiteral("threadId"), *id);
    if (title)
        body.insert(QStringLiteral("title"), *title);
    return body;
}

} // namespace AssistantBodies
