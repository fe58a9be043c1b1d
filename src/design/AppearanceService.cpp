#include "design/AppearanceService.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QWidget>

namespace {
const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kColorSchemeKey = QStringLiteral("color-scheme");
// A portal that answers at all answers in milliseconds; never hold up the start.
constexpr int kCallTimeoutMs = 500;

// Read wraps the value in one more variant than ReadOne; unwrap until a number.
std::optional<quint32> schemeFrom(QVariant value)
{
    for (int depth = 0; depth < 3 && value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>();
         ++depth)
        value = qvariant_cast<QDBusVariant>(value).variant();
    bool ok = false;
    const uint number = value.toUInt(&ok);
    if (!ok || value.userType() == QMetaType::QString)
        return std::nullopt;
    return number;
}

std::optional<quint32> call(const QDBusConnection &bus, const QString &method)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kSettingsInterface, method);
    message << kAppearanceNamespace << kColorSchemeKey;
    const QDBusMessage reply = bus.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return schemeFrom(reply.arguments().constFirst());
}
} // namespace

PortalColorScheme::PortalColorScheme(QObject *parent) : ColorSchemeSource(parent) {}

void PortalColorScheme::connectOnce()
{
    if (m_connected)
        return;
    m_connected = true;
    QDBusConnection::sessionBus().connect(kPortalService, kPortalPath, kSettingsInterface,
                                          QStringLiteral("SettingChanged"), this,
                                          SLOT(onSettingChanged(QString, QString, QDBusVariant)));
}

std::optional<quint32> PortalColorScheme::colorScheme()
{
    if (m_asked)
        return m_value;
    m_asked = true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return m_value;
    connectOnce();
    m_value = call(bus, QStringLiteral("ReadOne"));
    if (!m_value)
        m_value = call(bus, QStringLiteral("Read")); // portals before version 2
    return m_value;
}

void PortalColorScheme::onSettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value)
{
    if (nameSpace != kAppearanceNamespace || key != kColorSchemeKey)
        return;
    const auto scheme = schemeFrom(QVariant::fromValue(value));
    if (scheme == m_value)
        return;
    m_value = scheme;
    Q_EMIT changed();
}

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
