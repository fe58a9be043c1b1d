#include "app/CareTimer.h"

#include "app/AppModel.h"

CareTimer::CareTimer(AppModel &model, Clock &clock, std::function<double()> idleSeconds,
                     std::function<void()> beforeTick)
    : m_model(&model), m_clock(&clock), m_idleSeconds(std::move(idleSeconds)), m_beforeTick(std::move(beforeTick))
{
    m_timer = m_clock->every(kInterval, [this] { tick(); });
    tick(); // the first tick does not wait a minute
}

void CareTimer::tick()
{
    if (m_beforeTick)
        m_beforeTick();
    m_model->careTick(m_idleSeconds ? m_idleSeconds() : 0.0, m_clock->now());
}
