// The assistant conversation of the native workspace: threads kept by the
// service, one message at a time, and the actions offered under replies.
#include "app/AppModel.h"

#include "app/ServiceClient.h"

void AppModel::apply(const ZephylWire::AssistantThreadStore &store)
{
    setThreads(store.threads);
    // The conversation a message went to stays open until its reply is stored.
    if (m_assistantBusy)
        return;
    setActiveThreadID(store.activeThreadId);
    QList<ChatMessage> messages;
    if (store.activeThread) {
        for (const auto &stored : store.activeThread->messages) {
            ChatMessage m;
            m.id = stored.id;
            m.author = stored.role == QLatin1String("user") ? ChatMessage::Author::user : ChatMessage::Author::assistant;
            m.text = stored.content;
            m.createdAt = stored.createdAt;
            m.attachments = stored.attachments.value_or(QList<ChatAttachmentSummary>());
            m.actions = stored.actions.value_or(QList<ZephylWire::AssistantReply::Action>());
            messages.append(std::move(m));
        }
    }
    setMessages(std::move(messages));
}

QCoro::Task<> AppModel::selectThread(QString id)
{
    if (m_activeThreadID == id)
        co_return;
    // A reply on its way belongs to the open conversation.
    if (m_assistantBusy)
        co_return;
    const FlowGuard guard = flowGuard();
    std::optional<ZephylWire::AssistantThreadStore> store;
    std::exception_ptr error;
    try {
        store = co_await m_api->selectAssistantThread(std::move(id));
    } catch (...) {
        error = std::current_exception();
    }
    if (!guard.alive())
        co_return;
    if (store)
        apply(*store);
    else
        show(error);
}

QCoro::Task<std::optional<ChatMessage>> AppModel::send(QString text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || m_assistantBusy)
        co_return std::nullopt;
    setAssistantBusy(true);
    const FlowGuard guard = flowGuard();
    // The conversation as it stands: the reply and its save go to this one.
    const std::optional<QString> thread = m_activeThreadID;
    const QList<ChatMessage> history = m_messages;
    const ChatMessage question = ChatMessage::fromUser(trimmed, clock());
    setMessages(history + QList<ChatMessage>{question});

    std::optional<ZephylWire::AssistantReply> reply;
    std::exception_ptr error;
    try {
        const ServiceClient::Persona persona = ServiceClient::Persona::standard();
        reply = co_await m_api->assistant(trimmed, history, persona);
    } catch (...) {
        error = std::current_exception();
    }
    if (!guard.alive())
        co_return std::nullopt;
    if (!reply) {
        QList<ChatMessage> withdrawn = m_messages;
        withdrawn.removeIf([&](const ChatMessage &m) { return m.id == question.id; });
        setMessages(std::move(withdrawn));
        show(error);
        setAssistantBusy(false);
        co_return std::nullopt;
    }

    serviceAnswered();
    const ChatMessage answer = ChatMessage::fromAssistant(reply->message, reply->actions, clock());
    QList<ChatMessage> conversation = m_messages;
    conversation.append(answer);
    setMessages(conversation);

    std::optional<ZephylWire::AssistantThreadStore> saved;
    try {
        const std::optional<QString> noTitle;
        saved = co_await m_api->saveAssistantThread(thread, noTitle, conversation);
    } catch (...) {
        // Not stored on the service; the exchange stays on screen.
    }
    if (!guard.alive())
        co_return answer;
    if (saved) {
        setThreads(saved->threads);
        if (m_activeThreadID == thread)
            setActiveThreadID(saved->activeThreadId);
    }
    setAssistantBusy(false);
    co_return answer;
}

void AppModel::showSurface(Surface surface)
{
    setSurface(surface);
    raise(AppEvent::wantsWorkspace(surface));
}

void AppModel::performAction(const ZephylWire::AssistantReply::Action &action)
{
    const QString &id = action.id;
    if (id == QLatin1String("open_planner")) {
        showSurface(Surface::plan);
    } else if (id == QLatin1String("open_studio") || id == QLatin1String("preview_grid")) {
        showSurface(Surface::grid);
    } else if (id == QLatin1String("open_insights")) {
        showSurface(Surface::summary);
    } else if (id == QLatin1String("open_profile") || id == QLatin1String("set_language")) {
        showSurface(Surface::profile);
    } else if (id == QLatin1String("open_composer")) {
        openComposer(std::nullopt);
    } else if (id == QLatin1String("draft_post")) {
        ComposerPrefill prefill;
        if (action.format)
            prefill.format = PublishFormats::fromPlanValue(*action.format);
        prefill.title = action.title.value_or(QString());
        prefill.caption = action.caption.value_or(QString());
        prefill.hashtags = action.hashtags.value_or(QString());
        openComposer(prefill);
    } else if (id == QLatin1String("set_theme")) {
        const QString theme = action.theme.value_or(QString()).toLower();
        setTheme(theme == QLatin1String("dark")    ? AppTheme::dark
                 : theme == QLatin1String("light") ? AppTheme::light
                                                   : AppTheme::system);
    }
}
