#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct ChatMessage;

// The bodies the assistant and its threads are sent.
namespace AssistantBodies {

// Who the assistant speaks as: the desktop cat, by name, or itself.
struct Persona {
    enum class Kind { kitty, standard };
    Kind kind = Kind::standard;
    QString name;

    static Persona kitty(QString name) { return {Kind::kitty, std::move(name)}; }
    static Persona standard() { return {Kind::standard, {}}; }
    bool operator==(const Persona &) const = default;
};

// How many earlier messages travel with a question.
inline constexpr qsizetype historyLimit = 16;

// The ids of the reply actions the application can carry out, in this order.
const QStringList &capabilities();

// The assistant request: the message, the last 16 messages of the history
// (oldest first, role and text only), the effective language, the capabilities,
// no attachments and the persona.
QJsonObject assistantRequest(const QString &message, const QList<ChatMessage> &history, const Persona &persona,
                             const QString &locale);
// The effective language's raw value, never "system".
QString currentLocale();

QJsonObject createThreadRequest(const std::optional<QString> &title);
QJsonObject selectThreadRequest(const QString &id);
// Every message, in order and with no limit; empty actions and attachments are left out.
QJsonObject saveThreadRequest(const std::optional<QString> &id, const std::optional<QString> &title,
                              const QList<ChatMessage> &messages);

} // namespace AssistantBodies
