#pragma once

#include "services/ChatAttachmentSummary.h"
#include "services/WireModels.h"

#include <QList>
#include <QString>

#include <optional>

class Clock;

// One message of an assistant conversation as the application holds it.
struct ChatMessage {
    enum class Author { user, assistant };

    QString id;
    Author author = Author::user;
    QString text;
    qint64 createdAt = 0; // milliseconds since 1970
    QList<ChatAttachmentSummary> attachments;
    QList<ZephylWire::AssistantReply::Action> actions;

    static QString rawValue(Author author);
    static std::optional<Author> authorFromRaw(const QString &raw);

    // A fresh user's message: new UUID, now, no attachments and no actions.
    static ChatMessage fromUser(const QString &text, const Clock &clock);
    // The assistant's reply with the actions it proposed.
    static ChatMessage fromAssistant(const QString &text, QList<ZephylWire::AssistantReply::Action> actions,
                                     const Clock &clock);

    bool operator==(const ChatMessage &) const = default;
};

size_t qHash(const ChatMessage &m, size_t seed = 0);
