#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <optional>

class QDBusServiceWatcher;

// The desktop's own file chooser, asked through the session bus's
// org.freedesktop.portal.FileChooser: one OpenFile request, answered later by
// the Response of its request object. The call returns at once; what the user
// chose arrives as `answered`.
class PortalFileChooser final : public QObject {
    Q_OBJECT
public:
    struct Request {
        // The window it opens over, as the portal names windows ("x11:1a00003");
        // empty for none.
        QString parentWindow;
        QString title;
        // The confirming button's word; empty leaves the desktop's own.
        QString acceptLabel;
        bool multiple = false;
        bool directory = false;
        // One filter: its name and its glob patterns. None without patterns.
        QString filterName;
        QStringList patterns;
        // Where it opens; the portal takes it from its version 4 on.
        QString folder;
    };

    static constexpr const char *kService = "org.freedesktop.portal.Desktop";
    static constexpr const char *kPath = "/org/freedesktop/portal/desktop";
    static constexpr const char *kInterface = "org.freedesktop.portal.FileChooser";

    explicit PortalFileChooser(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // The version of the chooser interface the bus's portal offers, none where
    // no portal offers one (no portal, or one without a chooser). Blocks for
    // one round trip, starting the portal where the bus starts it on demand.
    std::optional<uint> version();

    // Asks the portal to show its chooser; false where it could not be asked
    // (then nothing is emitted). Once per object.
    bool open(const Request &request);

Q_SIGNALS:
    // The user's answer: the chosen files in the chooser's order, empty when
    // the user cancelled, the request failed or the portal went away.
    void answered(const QList<QUrl> &files);

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap &results);

private:
    void listen(const QString &requestPath);
    void stopListening();
    void finish(const QList<QUrl> &files);

    QDBusConnection m_bus;
    std::optional<uint> m_version;
    QString m_listening;
    QDBusServiceWatcher *m_watcher = nullptr;
    bool m_started = false;
    bool m_finished = false;
};
