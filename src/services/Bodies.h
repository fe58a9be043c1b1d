#pragma once

#include "services/WireModels.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The small envelopes of the session calls and the two answers the request core
// reads itself. They never leave the client. Request envelopes only encode,
// answer envelopes only decode (EmptyResponse does both).
namespace ZephylWire {

struct SupabaseConfig {
    QString supabaseUrl;
    QString supabaseAnonKey;
    static SupabaseConfig fromJson(const QJsonValue &value);
};

struct PasswordGrantRequest {
    QString email;
    QString password;
    QJsonObject toJson() const;
};

struct PasswordGrantResponse {
    QString accessToken; // "access_token"
    static PasswordGrantResponse fromJson(const QJsonValue &value);
};

struct SignUpRequest {
    struct Metadata {
        QString locale;
        QString fullName; // "full_name"
        QJsonObject toJson() const;
    };
    QString email;
    QString password;
    Metadata data;
    QJsonObject toJson() const;
};

struct SignUpResponse {
    struct Identity {
        std::optional<QString> id;
        static Identity fromJson(const QJsonValue &value);
    };
    std::optional<QString> accessToken;
    // The top-level list, else the one inside "user".
    std::optional<QList<Identity>> identities;
    static SignUpResponse fromJson(const QJsonValue &value);
};

struct RecoverRequest {
    QString email;
    QJsonObject toJson() const;
};

struct SupabaseExchangeRequest {
    QString accessToken;
    QString deviceLabel;
    QJsonObject toJson() const;
};

struct RefreshRequest {
    QString refreshToken;
    QString deviceLabel;
    QJsonObject toJson() const;
};

struct LogoutRequest {
    QString refreshToken;
    QJsonObject toJson() const;
};

struct CurrentUserResponse {
    User user;
    static CurrentUserResponse fromJson(const QJsonValue &value);
};

// The body of a refused call. Read tolerantly: no code rather than an error.
struct ErrorResponse {
    QString code;
    static std::optional<QString> codeIn(const QByteArray &body);
};

struct EmptyResponse {
    bool ok = true;
    static EmptyResponse fromJson(const QJsonValue &value);
    QJsonObject toJson() const;
};

} // namespace ZephylWire
