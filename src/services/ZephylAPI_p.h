#pragma once

// The request core's templates, for the files that implement ZephylAPI's operations.
//
// A GCC 12 pitfall for every coroutine here: an aggregate built with braces as a
// temporary inside a co_await expression (`co_await f(Body{a, b}.toJson())`)
// has its members destroyed twice. Build such values in a named local first.

#include "services/AsyncSupport.h"
#include "services/Json.h"
#include "services/ZephylAPI.h"

#include <type_traits>

template <typename T>
T ZephylAPI::checkAnswer(int status, const QByteArray &body)
{
    refuseUnlessSuccess(status, body);
    if constexpr (std::is_same_v<T, EmptyResponse>) {
        if (body.isEmpty())
            return EmptyResponse{true};
    }
    return T::fromJson(Json::parseObject(body));
}

template <typename T>
QCoro::Task<T> ZephylAPI::send(RequestSpec spec, Async::Abort *abort)
{
    const HttpCall::Response answer = co_await sendRaw(std::move(spec), abort);
    co_return checkAnswer<T>(answer.status, answer.body);
}

template <typename T>
QCoro::Task<T> ZephylAPI::authenticated(QString path, QByteArray method, std::optional<QJsonObject> body)
{
    const RequestSpec spec(path, method, body, true);
    const std::optional<QString> tokenUsed = m_accessToken;
    try {
        co_return co_await send<T>(spec);
    } catch (const APIError &error) {
        if (error.kind() != APIError::Kind::unauthorized || m_web)
            throw;
    }
    // Another call may have renewed the session while this one was refused:
    // then its new token is used as it is, without renewing again.
    if (!m_accessToken || m_accessToken == tokenUsed)
        co_await refreshSession();
    // The repeat is final: a second refusal reaches the caller.
    co_return co_await send<T>(spec);
}
