#pragma once

#include "services/KeychainStore.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QNetworkCookie>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

// The page's session cookie, kept the moment the engine's store reports it.
// The engine writes its own cookie file in batches half a minute apart, so a
// process killed right after the user signed in on the page would come back
// signed out; the kept copy is given back to the engine before the first page
// loads. It is a credential: it lives only in an owner-only place, is never
// logged, and goes as soon as the store drops it (the page's sign-out, expiry).
class SessionCookieKeep final : public QObject {
    Q_OBJECT
public:
    // Keeps only the session cookie of `host`, in `place`.
    SessionCookieKeep(std::unique_ptr<SecretBackend> place, QString host, QObject *parent = nullptr);

    // What the engine's cookie store reported.
    void added(const QNetworkCookie &cookie);
    void removed(const QNetworkCookie &cookie);

    // The kept cookie while it is a live session of the host, as the engine
    // takes it back from the host's origin: a host-only cookie carries no domain.
    QCoro::Task<std::optional<QNetworkCookie>> load();

private:
    void want(std::optional<QByteArray> raw);
    QCoro::Task<> writeOut();

    std::unique_ptr<SecretBackend> m_place;
    QString m_host;
    // What the place should hold (none: nothing), once known.
    std::optional<QByteArray> m_wanted;
    bool m_known = false;
    bool m_dirty = false;
    bool m_writing = false;
};
