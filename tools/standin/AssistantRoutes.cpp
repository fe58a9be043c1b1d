// The assistant with canned replies, and a real thread store per user.

#include "OperationRoutes.h"

#include <QUuid>

namespace Standin {

namespace {

Answer unauthorized() { return Answer::error(401, QStringLiteral("unauthorized")); }

QJsonObject threadJson(const Operations::Thread &t)
{
    return QJsonObject{{"id", t.id},
                       {"title", t.title},
                       {"messages", t.messages},
                       {"createdAt", QJsonValue(t.createdAt)},
                       {"updatedAt", QJsonValue(t.updatedAt)}};
}

QJsonObject summaryJson(const Operations::Thread &t)
{
    QString preview;
    if (!t.messages.isEmpty())
        preview = t.messages.last().toObject().value("content").toString().left(120);
    return QJsonObject{{"id", t.id},
                       {"title", t.title},
                       {"createdAt", QJsonValue(t.createdAt)},
                       {"updatedAt", QJsonValue(t.updatedAt)},
                       {"messageCount", t.messages.size()},
                       {"preview", preview}};
}

QJsonObject storeJson(const Operations::ThreadStore &store)
{
    QJsonArray summaries;
    QJsonObject body{{"version", QJsonValue(store.version)}, {"status", "ready"}};
    for (const auto &t : store.threads) {
        summaries.append(summaryJson(t));
        if (t.id == store.activeThreadId) {
            body.insert("activeThreadId", t.id);
            body.insert("activeThread", threadJson(t));
        }
    }
    body.insert("threads", summaries);
    return body;
}

Operations::Thread *find(Operations::ThreadStore &store, const QString &id)
{
    for (auto &t : store.threads) {
        if (t.id == id)
            return &t;
    }
    return nullptr;
}

Operations::Thread &newThread(Operations &ops, Operations::ThreadStore &store, const QString &title)
{
    Operations::Thread t;
    t.id = QStringLiteral("thread-") + QUuid::createUuid().toString(QUuid::Id128).left(10);
    t.title = title.isEmpty() ? QStringLiteral("New conversation") : title;
    t.createdAt = t.updatedAt = ops.now();
    store.threads.prepend(t);
    store.activeThreadId = t.id;
    return store.threads.first();
}

// A few canned answers keyed by words of the question, with the actions the
// application knows how to run.
QJsonObject reply(const QJsonObject &request)
{
    const QString message = request.value("message").toString().toLower();
    const bool kitty = request.value("persona").toString() == QLatin1String("kitty");
    const QString name = request.value("catName").toString();
    QJsonArray actions;
    QString text;
    if (message.contains("plan")) {
        text = QStringLiteral("Your week has room on Wednesday and Friday. Shall I open the plan?");
        actions.append(QJsonObject{{"id", "open_planner"}, {"label", "Open the plan"}});
    } else if (message.contains("post") || message.contains("caption")) {
        text = QStringLiteral("Here is a draft: a behind-the-scenes reel with a short question in the caption.");
        actions.append(QJsonObject{{"id", "draft_post"},
                                   {"label", "Use this draft"},
                                   {"format", "reel"},
                                   {"title", "Behind the scenes"},
                                   {"caption", "How do you start your mornings?"},
                                   {"hashtags", "#behindthescenes #morning"}});
    } else if (message.contains("dark")) {
        text = QStringLiteral("Switching to the dark theme.");
        actions.append(QJsonObject{{"id", "set_theme"}, {"label", "Dark theme"}, {"theme", "dark"}});
    } else {
        text = QStringLiteral("Post when your audience is awake: your best hours are 18:00 to 21:00.");
    }
    if (kitty)
        text = (name.isEmpty() ? QStringLiteral("Meow. ") : name + QStringLiteral(" here. ")) + text;
    return QJsonObject{{"message", text}, {"actions", actions}};
}

} // namespace

void addAssistantRoutes(Server &server, Operations &ops)
{
    server.route("POST", "/api/assistant", [&ops](const Seen &seen) {
        if (!ops.userFor(seen))
            return unauthorized();
        const QJsonObject request = seen.json();
        if (!request.value("message").isString() || !request.value("history").isArray() ||
            !request.value("capabilities").isArray())
            return Answer::error(400, QStringLiteral("invalid_request"));
        return Answer::json(200, reply(request));
    });

    server.route("GET", "/api/assistant/thread", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        return Answer::json(200, storeJson(ops.threadStores[*user]));
    });

    server.route("POST", "/api/assistant/thread", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        auto &store = ops.threadStores[*user];
        newThread(ops, store, seen.json().value("title").toString());
        ++store.version;
        return Answer::json(200, storeJson(store));
    });

    server.route("PATCH", "/api/assistant/thread", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        auto &store = ops.threadStores[*user];
        const QString id = seen.json().value("activeThreadId").toString();
        if (!find(store, id))
            return Answer::error(404, QStringLiteral("thread_not_found"));
        store.activeThreadId = id;
        ++store.version;
        return Answer::json(200, storeJson(store));
    });

    server.route("PUT", "/api/assistant/thread", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        auto &store = ops.threadStores[*user];
        const QJsonObject body = seen.json();
        if (!body.value("messages").isArray())
            return Answer::error(400, QStringLiteral("invalid_request"));
        Operations::Thread *thread = body.contains("threadId") ? find(store, body.value("threadId").toString())
                                                               : find(store, store.activeThreadId);
        if (!thread && body.contains("threadId"))
            return Answer::error(404, QStringLiteral("thread_not_found"));
        if (!thread)
            thread = &newThread(ops, store, body.value("title").toString());
        if (body.value("title").isString())
            thread->title = body.value("title").toString();
        thread->messages = body.value("messages").toArray();
        thread->updatedAt = ops.now();
        store.activeThreadId = thread->id;
        ++store.version;
        return Answer::json(200, storeJson(store));
    });

    // Deletes the active thread; the next one (if any) becomes active.
    server.route("DELETE", "/api/assistant/thread", [&ops](const Seen &seen) {
        const auto user = ops.userFor(seen);
        if (!user)
            return unauthorized();
        auto &store = ops.threadStores[*user];
        store.threads.removeIf([&](const Operations::Thread &t) { return t.id == store.activeThreadId; });
        store.activeThreadId = store.threads.isEmpty() ? QString() : store.threads.first().id;
        ++store.version;
        return Answer::json(200, storeJson(store));
    });
}

} // namespace Standin
