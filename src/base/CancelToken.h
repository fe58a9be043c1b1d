#pragma once

#include <atomic>
#include <memory>

// Co-operative cancellation: the owner of a flow keeps the source, the flow keeps
// a token and checks it after every co_await. A default token is never cancelled.
class CancelToken {
public:
    CancelToken() = default;

    bool isCancelled() const { return m_flag && m_flag->load(std::memory_order_relaxed); }
    explicit operator bool() const { return isCancelled(); }

private:
    friend class CancelSource;
    explicit CancelToken(std::shared_ptr<std::atomic<bool>> flag) : m_flag(std::move(flag)) {}
    std::shared_ptr<std::atomic<bool>> m_flag;
};

class CancelSource {
public:
    CancelSource() : m_flag(std::make_shared<std::atomic<bool>>(false)) {}

    CancelToken token() const { return CancelToken(m_flag); }
    void cancel() { m_flag->store(true, std::memory_order_relaxed); }
    bool isCancelled() const { return m_flag->load(std::memory_order_relaxed); }
    // Cancels the current flow and starts a fresh token for the next one.
    CancelToken renew()
    {
        cancel();
        m_flag = std::make_shared<std::atomic<bool>>(false);
        return token();
    }

private:
    std::shared_ptr<std::atomic<bool>> m_flag;
};
