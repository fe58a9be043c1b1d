#pragma once

#include <QString>

#include <exception>

// Failures of a WebTransport's road through the embedded page (the web
// workspace throws them; the wording of errors reads them): the page shows
// nothing of the service, or its answer had another shape.
class WebTransportError final : public std::exception {
public:
    enum class Kind {
        notReady,  // no page, or a page not on the service's host; nothing was sent
        malformed, // the script's result was not {status: whole number, body: text}
    };
    explicit WebTransportError(Kind kind) : m_kind(kind) {}
    Kind kind() const { return m_kind; }
    bool operator==(const WebTransportError &other) const { return m_kind == other.m_kind; }
    const char *what() const noexcept override
    {
        return m_kind == Kind::notReady ? "web transport not ready" : "web transport answer malformed";
    }

private:
    Kind m_kind;
};

// The fetch inside the page failed (no connection, the page went away while
// it ran): the engine's own message, passed on unchanged.
class WebScriptError final : public std::exception {
public:
    explicit WebScriptError(QString message) : m_message(std::move(message)), m_what(m_message.toUtf8()) {}
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    QByteArray m_what;
};
