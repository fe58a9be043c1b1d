#include "design/AppearanceService.h"

#include "design/PortalColorScheme.h"

#include <QWidget>

AppearanceService::AppearanceService(std::unique_ptr<ColorSchemeSource> source, QObject *parent) : QObject(parent)
{
    setSource(source ? std::move(source) : std::make_unique<PortalColorScheme>());
}

AppearanceService::~AppearanceService() = default;

AppearanceService &AppearanceService::shared()
{
    static AppearanceService *service = new AppearanceService();
    return *service;
}

void AppearanceService::setTheme(AppTheme theme)
{
    m_theme = theme;
    reevaluate();
}

void AppearanceService::setSource(std::unique_ptr<ColorSchemeSource> source)
{
    m_source = std::move(source);
    if (m_source)
        connect(m_source.get(), &ColorSchemeSource::changed, this, &AppearanceService::reevaluate);
    if (m_evaluated)
        reevaluate();
}

Appearance AppearanceService::compute() const
{
    switch (m_theme) {
    case AppTheme::light: return Appearance::light;
    case AppTheme::dark: return Appearance::dark;
    case AppTheme::system: break;
    }
    // The desktop is asked only while the setting follows it.
    const auto scheme = m_source ? m_source->colorScheme() : std::nullopt;
    return scheme == 1u ? Appearance::dark : Appearance::light;
}

Appearance AppearanceService::appearance() const
{
    if (!m_evaluated) {
        m_appearance = compute();
        m_evaluated = true;
    }
    return m_appearance;
}

void AppearanceService::reevaluate()
{
    const bool wasEvaluated = m_evaluated;
    const Appearance next = compute();
    m_evaluated = true;
    // Before anyone asked there is no old value to change from.
    if (!wasEvaluated || next == m_appearance) {
        m_appearance = next;
        return;
    }
    m_appearance = next;
    Q_EMIT appearanceChanged(next);
}

void AppearanceService::repaintOnChange(QWidget *widget)
{
    connect(&shared(), &AppearanceService::appearanceChanged, widget, [widget] { widget->update(); });
}
