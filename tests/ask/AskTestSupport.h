#pragma once

// The ask panel over the scripted service and a described desktop.

#include "app/FlowTestSupport.h"

#include "ask/AskPanelBridge.h"
#include "companion/CompanionDesktop.h"

#include <QCoreApplication>
#include <QEvent>

namespace asktest {

// Screens and a pointer as the test states them, in the cat's y-up points.
class FakeDesktop final : public CompanionDesktop {
public:
    std::vector<CompanionScreen> list;
    std::optional<QPointF> at;

    std::vector<CompanionScreen> screens() const override { return list; }
    std::optional<QPointF> pointer() const override { return at; }
    double secondsSinceInput() const override { return 0; }
    std::vector<WindowInfo> windows(const std::set<quint32> &, double) const override { return {}; }
};

// Posted work (deferred deletions, size reports, scrolls) run to the end.
inline void settle()
{
    for (int i = 0; i < 6; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

inline CatChatLine line(bool mine, const QString &text, QList<AskAction> actions = {},
                        CatLook look = CatLook::neutral)
{
    return CatChatLine{QUuid::createUuid(), mine, text, look, std::move(actions)};
}

} // namespace asktest
