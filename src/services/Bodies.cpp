#include "services/Bodies.h"

#include "services/Json.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace ZephylWire {

namespace {
constexpr auto L = [](const char *s) { return QLatin1StringView(s); };
}

SupabaseConfig SupabaseConfig::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    return {Json::string(o, L("supabaseUrl")), Json::string(o, L("supabaseAnonKey"))};
}

QJsonObject PasswordGrantRequest::toJson() const
{
    return QJsonObject{{L("email"), email}, {L("password"), password}};
}

PasswordGrantResponse PasswordGrantResponse::fromJson(const QJsonValue &value)
{
    return {Json::string(Json::object(value), L("access_token"))};
}

QJsonObject SignUpRequest::Metadata::toJson() const
{
    return QJsonObject{{L("locale"), locale}, {L("full_name"), fullName}};
}

QJsonObject SignUpRequest::toJson() const
{
    return QJsonObject{{L("email"), email}, {L("password"), password}, {L("data"), data.toJson()}};
}

SignUpResponse::Identity SignUpResponse::Identity::fromJson(const QJsonValue &value)
{
    return {Json::optString(Json::object(value), L("id"))};
}

SignUpResponse SignUpResponse::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    SignUpResponse r;
    r.accessToken = Json::optString(o, L("access_token"));
    r.identities = Json::optList<Identity>(o, L("identities"));
    std::optional<QList<Identity>> inner;
    if (const auto user = Json::optObjectAt(o, L("user")))
        inner = Json::at(L("user"), [&] { return Json::optList<Identity>(*user, L("identities")); });
    if (!r.identities)
        r.identities = inner;
    return r;
}

QJsonObject RecoverRequest::toJson() const { return QJsonObject{{L("email"), email}}; }

QJsonObject SupabaseExchangeRequest::toJson() const
{
    return QJsonObject{{L("accessToken"), accessToken}, {L("deviceLabel"), deviceLabel}};
}

QJsonObject RefreshRequest::toJson() const
{
    return QJsonObject{{L("refreshToken"), refreshToken}, {L("deviceLabel"), deviceLabel}};
}

QJsonObject LogoutRequest::toJson() const { return QJsonObject{{L("refreshToken"), refreshToken}}; }

CurrentUserResponse CurrentUserResponse::fromJson(const QJsonValue &value)
{
    const QJsonObject o = Json::object(value);
    return {Json::field<User>(o, L("user"))};
}

std::optional<QString> ErrorResponse::codeIn(const QByteArray &body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonValue code = doc.object().value(L("code"));
    if (!code.isString())
        return std::nullopt;
    return code.toString();
}

EmptyResponse EmptyResponse::fromJson(const QJsonValue &value)
{
    return {Json::boolean(Json::object(value), L("ok"))};
}

QJsonObject EmptyResponse::toJson() const { return QJsonObject{{L("ok"), ok}}; }

} // namespace ZephylWire
