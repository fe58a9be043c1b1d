#include "platform/PortalFileChooser.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QRandomGenerator>

namespace {
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
// A portal that answers at all answers at once; one started on demand takes a
// moment more. The chooser itself is open for as long as the user takes.
constexpr int kCallTimeoutMs = 3000;

// One filter entry: a glob pattern (0) or a MIME type (1).
struct FilterEntry {
    uint kind = 0;
    QString value;
};
struct Filter {
    QString name;
    QList<FilterEntry> entries;
};

QDBusArgument &operator<<(QDBusArgument &argument, const FilterEntry &entry)
{
    argument.beginStructure();
    argument << entry.kind << entry.value;
    argument.endStructure();
    return argument;
}
const QDBusArgument &operator>>(const QDBusArgument &argument, FilterEntry &entry)
{
    argument.beginStructure();
    argument >> entry.kind >> entry.value;
    argument.endStructure();
    return argument;
}
QDBusArgument &operator<<(QDBusArgument &argument, const Filter &filter)
{
    argument.beginStructure();
    argument << filter.name << filter.entries;
    argument.endStructure();
    return argument;
}
const QDBusArgument &operator>>(const QDBusArgument &argument, Filter &filter)
{
    argument.beginStructure();
    argument >> filter.name >> filter.entries;
    argument.endStructure();
    return argument;
}
} // namespace

Q_DECLARE_METATYPE(FilterEntry)
Q_DECLARE_METATYPE(Filter)

PortalFileChooser::PortalFileChooser(QDBusConnection bus, QObject *parent) : QObject(parent), m_bus(std::move(bus)) {}

std::optional<uint> PortalFileChooser::version()
{
    if (m_version || !m_bus.isConnected())
        return m_version;
    QDBusMessage get = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QLatin1String(kInterface) << QStringLiteral("version");
    const QDBusMessage reply = m_bus.call(get, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant value = qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant();
    bool ok = false;
    const uint number = value.toUInt(&ok);
    if (ok && number > 0)
        m_version = number;
    return m_version;
}

bool PortalFileChooser::open(const Request &request)
{
    if (m_started || !version())
        return false;
    if (request.directory && *m_version < 3)
        return false; // folders came in version 3
    m_started = true;
    qDBusRegisterMetaType<FilterEntry>();
    qDBusRegisterMetaType<QList<FilterEntry>>();
    qDBusRegisterMetaType<Filter>();
    qDBusRegisterMetaType<QList<Filter>>();

    // The request's object is named after this connection and a token of ours:
    // listen there before asking, so that no quick answer is missed.
    const QString token = QStringLiteral("zk%1").arg(QRandomGenerator::global()->generate());
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString expected = QStringLiteral("%1/request/%2/%3").arg(QLatin1String(kPath), sender, token);
    listen(expected);

    QVariantMap options{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("modal"), true},
                        {QStringLiteral("multiple"), request.multiple}};
    if (request.directory)
        options.insert(QStringLiteral("directory"), true);
    if (!request.acceptLabel.isEmpty())
        options.insert(QStringLiteral("accept_label"), request.acceptLabel);
    if (!request.patterns.isEmpty()) {
        Filter filter{request.filterName, {}};
        for (const QString &pattern : request.patterns)
            filter.entries.append({0, pattern});
        options.insert(QStringLiteral("filters"), QVariant::fromValue(QList<Filter>{filter}));
        options.insert(QStringLiteral("current_filter"), QVariant::fromValue(filter));
    }
    if (!request.folder.isEmpty() && *m_version >= 4) {
        // A path as bytes, closed by a zero byte.
        QByteArray folder = request.folder.toLocal8Bit();
        folder.append('\0');
        options.insert(QStringLiteral("current_folder"), folder);
    }

    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                       QLatin1String(kInterface), QStringLiteral("OpenFile"));
    call << request.parentWindow << request.title << options;
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        stopListening();
        return false;
    }
    // Portals before 0.9 name the request themselves.
    const QString handle = qvariant_cast<QDBusObjectPath>(reply.arguments().constFirst()).path();
    if (!handle.isEmpty() && handle != expected) {
        stopListening();
        listen(handle);
    }
    // A portal that goes away answers no more: nothing is chosen.
    m_watcher = new QDBusServiceWatcher(QLatin1String(kService), m_bus, QDBusServiceWatcher::WatchForUnregistration,
                                        this);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] { finish({}); });
    return true;
}

void PortalFileChooser::listen(const QString &requestPath)
{
    m_listening = requestPath;
    m_bus.connect(QLatin1String(kService), requestPath, kRequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap)));
}

void PortalFileChooser::stopListening()
{
    if (!m_listening.isEmpty())
        m_bus.disconnect(QLatin1String(kService), m_listening, kRequestInterface, QStringLiteral("Response"), this,
                         SLOT(onResponse(uint, QVariantMap)));
    m_listening.clear();
}

void PortalFileChooser::onResponse(uint response, const QVariantMap &results)
{
    // 0: chosen; 1: cancelled; 2: ended some other way.
    QList<QUrl> files;
    if (response == 0) {
        for (const QString &uri : results.value(QStringLiteral("uris")).toStringList()) {
            const QUrl url = QUrl::fromEncoded(uri.toUtf8(), QUrl::StrictMode);
            // The portal hands over local files; anything else could not be read.
            if (url.isValid() && url.isLocalFile())
                files.append(url);
        }
    }
    finish(files);
}

void PortalFileChooser::finish(const QList<QUrl> &files)
{
    if (m_finished)
        return;
    m_finished = true;
    stopListening();
    Q_EMIT answered(files);
}
