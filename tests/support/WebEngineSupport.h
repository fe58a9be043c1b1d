#pragma once

#include "support/TestSupport.h"

#include <QVariant>
#include <QWebEnginePage>

#include <chrono>
#include <memory>

namespace zktest {

// Runs a script in the page's main world and waits for its result. An answer
// that comes after the wait gave up lands in storage of its own, not in this
// call's finished frame.
inline QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    struct Answer {
        QVariant result;
        bool done = false;
    };
    const auto answer = std::make_shared<Answer>();
    page->runJavaScript(script, [answer](const QVariant &v) {
        answer->result = v;
        answer->done = true;
    });
    spinUntil([&] { return answer->done; }, std::chrono::seconds(10));
    return answer->result;
}

} // namespace zktest
