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

// An answer an operation reads nothing from: a success without a body (204)
// is its success. Such a type says so with `static constexpr bool nothingNeeded = true`.
template <typename T>
concept NothingNeeded = std::is_same_v<T, ZephylWire::EmptyResponse> || requires { T::nothingNeeded; };

template <typename T>
T ZephylAPI::checkAnswer(int status, QByteArray body)
{
    refuseUnlessSuccess(status, body);
    if constexpr (NothingNeeded<T>) {
        if (body.isEmpty())
            return T{};
    }
    const QJsonObject object = Json::parseObject(body);
    body = QByteArray();
    return T::fromJson(object);
}

template <typename T>
QCoro::Task<T> ZephylAPI::send(RequestSpec spec, Async::Abort *abort, Sent *sent)
{
    HttpCall::Response answer = co_await sendRaw(std::move(spec), abort, sent);
    co_return checkAnswer<T>(answer.status, std::move(answer.body));
}

template <typename T>
QCoro::Task<T> ZephylAPI::withOneRenewal(std::function<QCoro::Task<T>(Sent &)> attempt, bool evenWithPage)
{
    Sent first;
    try {
        co_return co_await attempt(first);
    } catch (const APIError &error) {
        if (error.kind() != APIError::Kind::unauthorized || (m_web && !evenWithPage))
            throw;
    }
    co_await renewAfterRefusal(first);
    // The repeat is final: a second refusal reaches the caller.
    Sent again;
    co_return co_await attempt(again);
}

template <typename T>
QCoro::Task<T> ZephylAPI::authenticated(QString path, QByteArray method, std::optional<QJsonObject> body,
                                        qint64 answerLimit, std::function<void()> wentOut)
{
    RequestSpec spec(path, method, body, true);
    spec.answerLimit = answerLimit;
    spec.wentOut = std::move(wentOut);
    std::function<QCoro::Task<T>(Sent &)> attempt = [this, spec](Sent &sent) { return send<T>(spec, nullptr, &sent); };
    co_return co_await withOneRenewal<T>(std::move(attempt), false);
}
