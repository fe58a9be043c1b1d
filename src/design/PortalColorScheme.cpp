#include "design/PortalColorScheme.h"

#include <QDBusConnection>
#include <QDBusVariant>

#include <cstdint>

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
    // The portal sends an unsigned 32-bit number; anything else is no answer.
    switch (value.typeId()) {
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return value.toUInt();
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        const qlonglong number = value.toLongLong();
        if (number >= 0 && number <= qlonglong(UINT32_MAX))
            return quint32(number);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
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
    // The slot takes the whole message: a QDBusVariant parameter can fail to
    // connect before QtDBus has registered its types.
    QDBusConnection::sessionBus().connect(kPortalService, kPortalPath, kSettingsInterface,
                                          QStringLiteral("SettingChanged"), QStringLiteral("ssv"), this,
                                          SLOT(onSettingChanged(QDBusMessage)));
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

void PortalColorScheme::onSettingChanged(const QDBusMessage &message)
{
    const QVariantList args = message.arguments();
    if (args.size() != 3 || args.at(0).toString() != kAppearanceNamespace || args.at(1).toString() != kColorSchemeKey)
        return;
    const auto scheme = schemeFrom(args.at(2));
    if (scheme == m_value)
        return;
    m_value = scheme;
    Q_EMIT changed();
}
