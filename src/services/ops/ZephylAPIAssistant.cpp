// The assistant and the thread store.

#include "services/ZephylAPI_p.h"

#include "services/ChatModels.h"

namespace {
const QString kAssistantPath = QStringLiteral("/api/assistant");
const QString kThreadPath = QStringLiteral("/api/assistant/thread");
// Every thread operation answers with the whole store, conversations included.
constexpr qint64 kStoreLimit = HttpCall::AnswerLimit::collection;
} // namespace

Async::Lock &ZephylAPI::threadOperations()
{
    if (!m_threadLock)
        m_threadLock = std::make_unique<Async::Lock>(this);
    return *m_threadLock;
}

QCoro::Task<ZephylAPI::AssistantReply> ZephylAPI::assistant(QString message, QList<ChatMessage> history,
                                                            Persona persona)
{
    const QJsonObject body =
        AssistantBodies::assistantRequest(message, history, persona, AssistantBodies::currentLocale());
    co_return co_await authenticated<AssistantReply>(kAssistantPath, QByteArray("POST"), body);
}

QCoro::Task<ZephylAPI::AssistantThreadStore> ZephylAPI::assistantThreadStore()
{
    auto turn = co_await threadOperations().acquire();
    co_return co_await authenticated<AssistantThreadStore>(kThreadPath, QByteArray("GET"), std::nullopt, kStoreLimit);
}

QCoro::Task<ZephylAPI::AssistantThreadStore> ZephylAPI::createAssistantThread(std::optional<QString> title)
{
    auto turn = co_await threadOperations().acquire();
    co_return co_await authenticated<AssistantThreadStore>(kThreadPath, QByteArray("POST"),
                                                           AssistantBodies::createThreadRequest(title), kStoreLimit);
}

QCoro::Task<ZephylAPI::AssistantThreadStore> ZephylAPI::selectAssistantThread(QString id)
{
    auto turn = co_await threadOperations().acquire();
    co_return co_await authenticated<AssistantThreadStore>(kThreadPath, QByteArray("PATCH"),
                                                           AssistantBodies::selectThreadRequest(id), kStoreLimit);
}

QCoro::Task<ZephylAPI::AssistantThreadStore> ZephylAPI::saveAssistantThread(std::optional<QString> id,
                                                                            std::optional<QString> title,
                                                                            QList<ChatMessage> messages)
{
    auto turn = co_await threadOperations().acquire();
    co_return co_await authenticated<AssistantThreadStore>(kThreadPath, QByteArray("PUT"),
                                                           AssistantBodies::saveThreadRequest(id, title, messages), kStoreLimit);
}

QCoro::Task<ZephylAPI::AssistantThreadStore> ZephylAPI::deleteAssistantThread(QString id)
{
    // The DELETE names no thread: it removes the active one. Holding the turn
    // across both requests keeps any other thread operation of this client from
    // changing the active thread in between.
    auto turn = co_await threadOperations().acquire();
    const AssistantThreadStore selected =
        co_await authenticated<AssistantThreadStore>(kThreadPath, QByteArray("PATCH"), AssistantBodies::selectThreadRequest(id), kStoreLimit);
    if (selected.activeThreadId != id)
        throw APIError::rejected(QStringLiteral("assistant_thread_not_active"));
    co_return co_await authenticated<AssistantThreadStore>(kThreadPath, QByteArray("DELETE"), std::nullopt, kStoreLimit);
}
