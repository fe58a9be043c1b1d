#pragma once

#include "design/AppearanceService.h"

#include <QDBusMessage>

// The desktop's preference read from org.freedesktop.portal.Settings over the
// session bus. Asks once, on first use, then follows SettingChanged.
class PortalColorScheme final : public ColorSchemeSource {
    Q_OBJECT
public:
    explicit PortalColorScheme(QObject *parent = nullptr);
    std::optional<quint32> colorScheme() override;

private Q_SLOTS:
    void onSettingChanged(const QDBusMessage &message);

private:
    void connectOnce();

    bool m_asked = false;
    bool m_connected = false;
    std::optional<quint32> m_value;
};
