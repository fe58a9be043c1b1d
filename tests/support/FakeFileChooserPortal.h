#pragma once

// A desktop portal with a file chooser on the test's own session bus, run on
// its own connection and thread as another process would: it takes OpenFile,
// names the request, and answers with the request's Response when the test says
// (or at once, given an answer beforehand). It keeps what it was asked.

#include "support/TestSupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QThread>

#include <atomic>
#include <optional>

namespace zktest {

class FakeFileChooserPortal final : public QThread {
public:
    static constexpr const char *kConnection = "zk-fake-file-chooser";

    // What one OpenFile carried. Filters as "name: kind pattern, kind pattern".
    struct Asked {
        QString parentWindow;
        QString title;
        QVariantMap options;
        QStringList filters;
    };
    struct Answer {
        uint response = 0;
        QStringList uris;
    };

    ~FakeFileChooserPortal() override { stop(); }

    // Registers the portal; false where the bus or the name could not be had.
    bool begin()
    {
        start();
        return spinUntil([this] { return m_ready.load(); }) && m_registered;
    }
    void stop()
    {
        if (!isRunning())
            return;
        quit();
        wait();
        QDBusConnection::disconnectFromBus(QLatin1String(kConnection));
    }

    // Refuses OpenFile, as a portal whose chooser fails does.
    std::atomic<bool> refuseOpen{false};
    // False: a portal with no chooser, as one without a backend for it is.
    // Held by a case that wants Qt's chooser, so that the session bus never
    // starts a portal of the machine's, which would open the desktop's instead.
    std::atomic<bool> offersChooser{true};
    // The interface's version, as its property tells.
    std::atomic<uint> version{3};

    // Given before the call: the answer goes out right after the request is named.
    void answerAtOnce(const Answer &answer)
    {
        QMutexLocker lock(&m_mutex);
        m_atOnce = answer;
    }
    // The requests asked so far.
    QList<Asked> asked() const
    {
        QMutexLocker lock(&m_mutex);
        return m_asked;
    }
    // Answers the latest request.
    void answer(const Answer &answer)
    {
        QMetaObject::invokeMethod(
            m_object, [this, answer] { respond(answer); }, Qt::QueuedConnection);
    }

protected:
    void run() override
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QLatin1String(kConnection));
        Object object(this);
        m_object = &object;
        m_registered = bus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), &object) &&
                       bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
        m_ready = true;
        exec();
        bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
        m_object = nullptr;
    }

private:
    class Object final : public QDBusVirtualObject {
    public:
        explicit Object(FakeFileChooserPortal *owner) : m_owner(owner) {}
        QString introspect(const QString &) const override { return {}; }
        bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
        {
            return m_owner->handle(message, connection);
        }

    private:
        FakeFileChooserPortal *m_owner;
    };

    static QStringList filtersOf(const QVariant &value)
    {
        QStringList out;
        const QDBusArgument argument = value.value<QDBusArgument>();
        argument.beginArray();
        while (!argument.atEnd()) {
            QString name;
            QStringList entries;
            argument.beginStructure();
            argument >> name;
            argument.beginArray();
            while (!argument.atEnd()) {
                uint kind = 0;
                QString pattern;
                argument.beginStructure();
                argument >> kind >> pattern;
                argument.endStructure();
                entries << QString::number(kind) + u' ' + pattern;
            }
            argument.endArray();
            argument.endStructure();
            out << name + QStringLiteral(": ") + entries.join(QStringLiteral(", "));
        }
        argument.endArray();
        return out;
    }

    bool handle(const QDBusMessage &message, const QDBusConnection &connection)
    {
        const QString interface = message.interface();
        const QList<QVariant> args = message.arguments();
        if (!offersChooser) {
            connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                                     QStringLiteral("No such interface")));
            return true;
        }
        if (interface == QLatin1String("org.freedesktop.DBus.Properties") && message.member() == QLatin1String("Get") &&
            args.size() == 2 && args.at(0).toString() == QLatin1String("org.freedesktop.portal.FileChooser") &&
            args.at(1).toString() == QLatin1String("version")) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(version.load())))));
            return true;
        }
        if (interface != QLatin1String("org.freedesktop.portal.FileChooser") || message.member() != QLatin1String("OpenFile") ||
            args.size() != 3)
            return false;
        if (refuseOpen) {
            connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.Failed"),
                                                     QStringLiteral("no chooser today")));
            return true;
        }
        Asked asked{args.at(0).toString(), args.at(1).toString(), {}, {}};
        const QDBusArgument map = args.at(2).value<QDBusArgument>();
        map >> asked.options;
        if (asked.options.contains(QStringLiteral("filters")))
            asked.filters = filtersOf(asked.options.value(QStringLiteral("filters")));
        // The request is named after the caller and its token, as the portal does.
        QString sender = message.service().mid(1);
        sender.replace(u'.', u'_');
        m_handle = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                       .arg(sender, asked.options.value(QStringLiteral("handle_token")).toString());
        std::optional<Answer> atOnce;
        {
            QMutexLocker lock(&m_mutex);
            m_asked << asked;
            atOnce = std::exchange(m_atOnce, std::nullopt);
        }
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(m_handle))));
        if (atOnce)
            respond(*atOnce);
        return true;
    }

    void respond(const Answer &answer)
    {
        QDBusMessage signal = QDBusMessage::createSignal(m_handle, QStringLiteral("org.freedesktop.portal.Request"),
                                                         QStringLiteral("Response"));
        QVariantMap results;
        if (answer.response == 0)
            results.insert(QStringLiteral("uris"), answer.uris);
        signal << answer.response << results;
        QDBusConnection(QLatin1String(kConnection)).send(signal);
    }

    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_registered{false};
    QObject *m_object = nullptr;
    QString m_handle;
    mutable QMutex m_mutex;
    QList<Asked> m_asked;
    std::optional<Answer> m_atOnce;
};

// The bus's portal name held by a portal with no chooser while it lives: Qt's
// chooser opens, whatever portal the machine would start on demand.
class NoDesktopChooser {
public:
    NoDesktopChooser()
    {
        m_portal.offersChooser = false;
        m_held = m_portal.begin();
    }
    bool held() const { return m_held; }

private:
    FakeFileChooserPortal m_portal;
    bool m_held = false;
};

} // namespace zktest
