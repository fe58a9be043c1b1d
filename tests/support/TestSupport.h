#pragma once

#include <QCoro/QCoroTask>
#include <QTemporaryDir>

#include <chrono>
#include <functional>

namespace zktest {

// Runs the Qt event loop until the task finishes (real time, bounded by `limit`)
// and returns its result.
template <typename T>
T run(QCoro::Task<T> &&task)
{
    return QCoro::waitFor(std::move(task));
}

// Spins the event loop until `done` holds or `limit` passes; false on time-out.
bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(10));

// A private folder that lives for the test.
QString tempDir();

} // namespace zktest
