#include "StandinServer.h"

#include <QHostAddress>
#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUuid>

namespace Standin {

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    case QHttpServerRequest::Method::Connect: return "CONNECT";
    case QHttpServerRequest::Method::Trace: return "TRACE";
    default: return "UNKNOWN";
    }
}

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 413: return "Payload Too Large";
    case 422: return "Unprocessable Entity";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

QJsonObject Seen::json() const { return QJsonDocument::fromJson(body).object(); }

Answer Answer::json(int status, const QJsonObject &object)
{
    return Answer{status, QJsonDocument(object).toJson(QJsonDocument::Compact), "application/json"};
}

Answer Answer::error(int status, const QString &code) { return json(status, QJsonObject{{"code", code}}); }

QString State::newToken(const QString &prefix)
{
    ++counter;
    return QStringLiteral("%1-%2-%3").arg(prefix).arg(counter).arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
}

const State::Account *State::accountByUserId(const QString &userId) const
{
    for (const auto &account : accounts) {
        if (account.userId == userId)
            return &account;
    }
    return nullptr;
}

void State::revokeFamily(const QString &family)
{
    for (auto it = refreshTokens.begin(); it != refreshTokens.end();) {
        if (it->family == family)
            it = refreshTokens.erase(it);
        else
            ++it;
    }
    revokeAccess(family);
}

void State::revokeAccess(const QString &family)
{
    for (auto it = accessFamilies.begin(); it != accessFamilies.end();) {
        if (it.value() == family) {
            accessTokens.remove(it.key());
            it = accessFamilies.erase(it);
        } else {
            ++it;
        }
    }
}

Server::Server(QObject *parent) : QAbstractHttpServer(parent)
{
    addServiceAuthRoutes(*this);
    addProviderRoutes(*this);
    addOperationRoutes(*this);
    addWebAppRoutes(*this);
    registerAdminRoutes();
}

Server::~Server() = default;

quint16 Server::start(quint16 port)
{
    m_port = listen(QHostAddress::LocalHost, port);
    return m_port;
}

QString Server::origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

QString Server::providerURL() const { return m_providerURL.value_or(origin()); }

void Server::route(const QByteArray &method, const QString &path, Handler handler)
{
    m_routes[method].insert(path, std::move(handler));
}

void Server::routePrefix(const QByteArray &method, const QString &prefix, Handler handler)
{
    m_prefixRoutes[method].push_back({prefix, std::move(handler)});
}

void Server::addAccount(const QString &email, const QString &password, const QString &fullName)
{
    State::Account account;
    account.userId = m_state.newToken(QStringLiteral("user"));
    account.email = email.toLower();
    account.password = password;
    account.fullName = fullName;
    m_state.accounts.insert(account.email, account);
}

void Server::expireAccessTokens()
{
    m_state.accessTokens.clear();
    m_state.accessFamilies.clear();
}

void Server::forgetSessions()
{
    expireAccessTokens();
    m_state.refreshTokens.clear();
}

QList<Seen> Server::seen(const QString &path) const
{
    if (path.isEmpty())
        return m_seen;
    QList<Seen> out;
    for (const Seen &s : m_seen) {
        if (s.path == path)
            out.push_back(s);
    }
    return out;
}

std::optional<Fault> Server::takeFault(const Seen &seen)
{
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if ((!it->path.isEmpty() && it->path != seen.path) || (!it->method.isEmpty() && it->method != seen.method))
            continue;
        Fault fault = *it;
        if (it->times > 0 && --it->times == 0)
            m_faults.erase(it);
        return fault;
    }
    return std::nullopt;
}

Answer Server::dispatch(const Seen &seen)
{
    const auto byMethod = m_routes.constFind(seen.method);
    if (byMethod != m_routes.constEnd()) {
        const auto handler = byMethod->constFind(seen.path);
        if (handler != byMethod->constEnd())
            return (*handler)(seen);
    }
    for (const auto &[prefix, handler] : m_prefixRoutes.value(seen.method)) {
        if (seen.path.startsWith(prefix) && seen.path.size() > prefix.size())
            return handler(seen);
    }
    if (m_trailingSlashes && seen.path.size() > 1 && seen.path.endsWith(QLatin1Char('/'))) {
        Seen unslashed = seen;
        unslashed.path.chop(1);
        return dispatch(unslashed);
    }
    return Answer::error(404, QStringLiteral("not_found"));
}

void Server::write(QTcpSocket *socket, const Answer &answer, bool cut)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    // A cut answer promises its whole body, sends the first half of it and then
    // loses the connection, as a server or a network failing mid-answer.
    const QByteArray body = cut && answer.body.isEmpty() ? QByteArray("{\"user\":") : answer.body;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reason(answer.status) + "\r\n";
    if (!body.isEmpty())
        out += "Content-Type: " + answer.contentType + "\r\n";
    for (const auto &[name, value] : answer.headers)
        out += name + ": " + value + "\r\n";
    // A 204 has no body, and real servers send no length for it.
    if (answer.status != 204)
        out += "Content-Length: " + QByteArray::number(cut ? body.size() * 2 + 64 : body.size()) + "\r\n";
    out += "Cache-Control: no-store\r\n\r\n";
    out += cut ? body.left(std::max<qsizetype>(1, body.size() / 2)) : body;
    socket->write(out);
    if (!cut)
        return;
    socket->flush();
    QPointer<QTcpSocket> guarded(socket);
    QTimer::singleShot(0, socket, [guarded] {
        if (guarded)
            guarded->abort();
    });
}

bool Server::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    Seen seen;
    seen.method = methodName(request.method());
    seen.path = request.url().path();
    seen.query = request.query();
    for (const auto &[name, value] : request.headers())
        seen.headers.insert(name.toLower(), value);
    seen.body = request.body();
    if (!seen.path.startsWith(QLatin1String("/__standin/")))
        m_seen.push_back(seen);
    for (const auto &adapter : m_adapters)
        adapter(seen);

    const auto fault = seen.path.startsWith(QLatin1String("/__standin/")) ? std::nullopt : takeFault(seen);
    QPointer<QTcpSocket> guarded(socket);
    if (!fault) {
        const Answer answer = dispatch(seen);
        switch (answer.delivery) {
        case Answer::Delivery::normal:
            write(socket, answer);
            break;
        case Answer::Delivery::drop:
            write(socket, answer, true);
            break;
        case Answer::Delivery::hang:
            // Kept open and unanswered; the client's own time-out ends it.
            m_hung.push_back({guarded, seen});
            break;
        }
        return true;
    }
    switch (fault->kind) {
    case Fault::Kind::slow: {
        m_slow.push_back({guarded, seen});
        auto answer = [self = QPointer<Server>(this), guarded, seen] {
            if (!self)
                return;
            self->m_slow.removeIf([&](const auto &entry) { return entry.first == guarded; });
            write(guarded, self->dispatch(seen));
        };
        if (m_scheduler)
            m_scheduler(fault->delayMs, std::move(answer));
        else
            QTimer::singleShot(fault->delayMs, this, std::move(answer));
        break;
    }
    case Fault::Kind::unauthorized:
        write(socket, fault->code ? Answer::error(401, *fault->code) : Answer{401, {}, {}});
        break;
    case Fault::Kind::serverError:
        write(socket, fault->code ? Answer::error(fault->status, *fault->code)
                                  : Answer{fault->status, "<html><body>Something went wrong</body></html>",
                                           "text/html"});
        break;
    case Fault::Kind::malformed:
        write(socket, Answer{200, "{\"user\": {\"userId\": ", "application/json"});
        break;
    case Fault::Kind::drop:
        write(socket, dispatch(seen), true);
        break;
    case Fault::Kind::noContent: {
        Answer answer = dispatch(seen);
        if (answer.status >= 200 && answer.status <= 299)
            answer = Answer{204, {}, {}};
        write(socket, answer);
        break;
    }
    case Fault::Kind::cutHead:
        // Broken off before the head ends: no reader can take any of it for an
        // answer, whereas a browser may show the first half of a body as a page.
        if (socket && socket->state() == QAbstractSocket::ConnectedState) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/ht");
            socket->flush();
            QTimer::singleShot(0, socket, [guarded] {
                if (guarded)
                    guarded->abort();
            });
        }
        break;
    case Fault::Kind::hang:
        m_held.push_back({guarded, seen});
        break;
    case Fault::Kind::redirect: {
        Answer moved{fault->status, "<html><body>Moved</body></html>", "text/html"};
        moved.headers.push_back({"Location", fault->location.toUtf8()});
        write(socket, moved);
        break;
    }
    }
    return true;
}

void Server::releaseHeld(const QString &path)
{
    QList<std::pair<QPointer<QTcpSocket>, Seen>> released;
    for (auto it = m_held.begin(); it != m_held.end();) {
        if (path.isEmpty() || it->second.path == path) {
            released.push_back(std::move(*it));
            it = m_held.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto &[socket, seen] : released)
        write(socket, dispatch(seen));
}

QList<Seen> Server::withheld() const
{
    QList<Seen> out;
    for (const auto *list : {&m_held, &m_hung, &m_slow}) {
        for (const auto &[socket, seen] : *list) {
            if (socket && socket->state() == QAbstractSocket::ConnectedState)
                out.push_back(seen);
        }
    }
    return out;
}

void Server::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    write(socket, Answer::error(404, QStringLiteral("not_found")));
}

// Switches over HTTP, for a stand-in started as its own process.
void Server::registerAdminRoutes()
{
    route("POST", QStringLiteral("/__standin/faults"), [this](const Seen &seen) {
        const QJsonObject o = seen.json();
        static const QHash<QString, Fault::Kind> kinds{{"slow", Fault::Kind::slow},
                                                       {"unauthorized", Fault::Kind::unauthorized},
                                                       {"serverError", Fault::Kind::serverError},
                                                       {"malformed", Fault::Kind::malformed},
                                                       {"drop", Fault::Kind::drop},
                                                       {"cutHead", Fault::Kind::cutHead},
                                                       {"noContent", Fault::Kind::noContent},
                                                       {"hang", Fault::Kind::hang},
                                                       {"redirect", Fault::Kind::redirect}};
        const QString kind = o.value("kind").toString();
        if (!kinds.contains(kind))
            return Answer::error(400, QStringLiteral("unknown_fault"));
        Fault fault;
        fault.kind = kinds.value(kind);
        fault.path = o.value("path").toString();
        fault.status = o.value("status").toInt(500);
        if (o.value("code").isString())
            fault.code = o.value("code").toString();
        fault.delayMs = o.value("delayMs").toInt(0);
        fault.times = o.value("times").toInt(-1);
        fault.location = o.value("location").toString();
        fault.method = o.value("method").toString().toLatin1();
        addFault(fault);
        return Answer::json(200, QJsonObject{{"ok", true}});
    });
    route("DELETE", QStringLiteral("/__standin/faults"), [this](const Seen &) {
        clearFaults();
        return Answer::json(200, QJsonObject{{"ok", true}});
    });
    route("POST", QStringLiteral("/__standin/expire-access-tokens"), [this](const Seen &) {
        expireAccessTokens();
        return Answer::json(200, QJsonObject{{"ok", true}});
    });
    route("POST", QStringLiteral("/__standin/forget-sessions"), [this](const Seen &) {
        forgetSessions();
        return Answer::json(200, QJsonObject{{"ok", true}});
    });
}

} // namespace Standin
