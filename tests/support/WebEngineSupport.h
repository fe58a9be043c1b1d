#pragma once

#include "support/TestSupport.h"

#include <QVariant>
#include <QWebEnginePage>

#include <chrono>

namespace zktest {

// Runs a script in the page's main world and waits for its result.
inline QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant &v) {
        result = v;
        done = true;
    });
    spinUntil([&] { return done; }, std::chrono::seconds(10));
    return result;
}

} // namespace zktest
