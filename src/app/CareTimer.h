#pragma once

#include "base/Clock.h"

#include <functional>
#include <memory>

class AppModel;

// The coordinator's care timer: a care tick at once, then every 60 s, for as
// long as the timer lives. Each tick first calls `beforeTick` (the coordinator
// tells the companion whether the cat is hungry), then AppModel::careTick with
// the user's idle seconds and the clock's time.
class CareTimer {
public:
    static constexpr std::chrono::seconds kInterval{60};

    CareTimer(AppModel &model, Clock &clock, std::function<double()> idleSeconds,
              std::function<void()> beforeTick = {});

private:
    void tick();

    AppModel *m_model;
    Clock *m_clock;
    std::function<double()> m_idleSeconds;
    std::function<void()> m_beforeTick;
    std::unique_ptr<Clock::Timer> m_timer;
};
