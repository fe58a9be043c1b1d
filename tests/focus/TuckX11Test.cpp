// Tucking windows away on a real X server under openbox: the model over the
// desktop's window source sends the cat to another application's feed windows
// and has the window manager minimise each, on the cat's arrival or when the
// visit runs out.

#include "app/AppModel.h"
#include "base/Clock.h"
#include "base/DefaultsStore.h"
#include "design/L10n.h"
#include "focus/FocusGuard.h"
#include "focus/X11WindowSource.h"
#include "platform/X11.h"
#include "platform/X11WindowList.h"
#include "support/TestSupport.h"
#include "support/WindowHelperProcess.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

std::optional<X11::ClientWindow> clientWindow(uint32_t id)
{
    for (const auto &w : X11::readClientWindows()) {
        if (w.id == id)
            return w;
    }
    return std::nullopt;
}

bool hiddenOnScreen(uint64_t id)
{
    return zktest::spinUntil([&] {
        const auto w = clientWindow(uint32_t(id));
        return w && w->hidden();
    });
}

} // namespace

TEST(TuckOnX11, AnotherApplicationsFeedWindowsAreVisitedAndMinimised)
{
    zktest::WindowHelperProcess other;
    ASSERT_TRUE(other.start(QStringLiteral(ZK_WINDOW_HELPER),
                            {QStringLiteral("Instagram — Firefox"), QStringLiteral("Release notes"),
                             QStringLiteral("YouTube: Shorts")}));
    L10n::setPreference(AppLanguage::en);
    DefaultsStore store;
    FakeClock clock;
    X11WindowSource source;
    AppModel::Environment env;
    env.defaults = &store;
    env.clock = &clock;
    env.windows = &source;
    env.selectedVariantID = [] { return QStringLiteral("drawn"); };
    AppModel m(env);
    QList<AppEvent> events;
    m.setEvents([&](const AppEvent &e) { events.append(e); });

    m.tuckAwayDistractions();
    EXPECT_TRUE(m.accessibilityTrusted());
    // Only the helper's windows can be distractions on this display; the notes are not one.
    ASSERT_EQ(m.distractions().size(), 2u);
    const DistractingWindow first = m.distractions()[0];
    const DistractingWindow second = m.distractions()[1];
    for (const auto &w : {first, second}) {
        // The cat is sent to the decorated window, in desktop points.
        const auto onScreen = clientWindow(uint32_t(w.element));
        ASSERT_TRUE(onScreen && w.frame);
        EXPECT_EQ(*w.frame, X11::toDesktopPoints(onScreen->outerFrame()));
    }
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0], AppEvent::visitWindow(*first.frame));

    // The cat arrives: the window goes to the task bar, the other stays.
    m.tuckVisitArrived(CompanionGoal::visit(AppModel::visitLedge(*first.frame)));
    EXPECT_TRUE(hiddenOnScreen(first.element));
    EXPECT_FALSE(clientWindow(uint32_t(second.element))->hidden());

    // The next visit runs out: minimised all the same.
    clock.advance(AppModel::kTuckPacing);
    EXPECT_EQ(events.back(), AppEvent::visitWindow(*second.frame));
    clock.advance(AppModel::kTuckVisitLimit);
    EXPECT_TRUE(hiddenOnScreen(second.element));
    clock.advance(AppModel::kTuckPacing);
    EXPECT_EQ(events.back(), AppEvent::say(QStringLiteral("Feeds are tucked away. Back to it.")));
    EXPECT_TRUE(m.distractions().empty());

    // The notes window was left as it was, and a new scan finds nothing to tuck.
    const auto notes = clientWindow(other.shown[1].id);
    ASSERT_TRUE(notes);
    EXPECT_TRUE(notes->viewable && !notes->hidden());
    m.tuckAwayDistractions();
    EXPECT_TRUE(m.distractions().empty());
    // An id no X window can have is not sent at all.
    EXPECT_FALSE(source.minimize(uint64_t(1) << 40));
    L10n::setPreference(AppLanguage::system);
}
