#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QHash>
#include <QString>

#include <exception>
#include <memory>
#include <optional>

// Where the service session outlives the process: three items ("access-token",
// "refresh-token", "user-id") under one service name. The first place is the
// desktop's secret service (Secret Service or KWallet, through QtKeychain);
// the second is an owner-only file under $XDG_DATA_HOME, used only while no
// secret service answers. Reading asks the first place, then the second.
//
// Every call is a coroutine (the secret service answers over D-Bus); callers
// that must not interleave (storing a session, signing out) serialise themselves.

// One place to keep secrets.
class SecretBackend {
public:
    enum class Status {
        ok,
        notFound,    // no such item
        unavailable, // nothing answers here (no secret service, no D-Bus, locked without prompt)
        failed,      // it answered and refused (access denied, write failed)
    };
    struct Result {
        Status status = Status::ok;
        int code = 0; // the backend's own code, kept for KeychainError
        QByteArray data;
    };

    virtual ~SecretBackend() = default;
    virtual QCoro::Task<Result> read(QString service, QString account) = 0;
    // Adds or replaces the item.
    virtual QCoro::Task<Result> write(QString service, QString account, QByteArray data) = 0;
    virtual QCoro::Task<Result> remove(QString service, QString account) = 0;
};

// The desktop's secret service through QtKeychain.
std::unique_ptr<SecretBackend> makeQtKeychainBackend();

// A JSON file readable only by its owner (0600, in a 0700 folder), written atomically.
class FileSecretBackend final : public SecretBackend {
public:
    explicit FileSecretBackend(QString path);
    // $XDG_DATA_HOME/zephyl-kitty/credentials.json
    static QString defaultPath();
    QString path() const { return m_path; }

    QCoro::Task<Result> read(QString service, QString account) override;
    QCoro::Task<Result> write(QString service, QString account, QByteArray data) override;
    QCoro::Task<Result> remove(QString service, QString account) override;

private:
    QString m_path;
};

// In memory, for tests: can be told not to answer or to refuse writes.
class MemorySecretBackend final : public SecretBackend {
public:
    bool answering = true;
    // Refuse the next `refuseWrites` writes (with code 4, access denied); -1: all.
    int refuseWrites = 0;
    int writes = 0;
    QHash<QString, QByteArray> items; // keyed by "service/account"

    QCoro::Task<Result> read(QString service, QString account) override;
    QCoro::Task<Result> write(QString service, QString account, QByteArray data) override;
    QCoro::Task<Result> remove(QString service, QString account) override;
    std::optional<QString> text(const QString &service, const QString &account) const;
};

class KeychainStore {
public:
    // A refused write: the backend's status code of the last attempt.
    class KeychainError final : public std::exception {
    public:
        explicit KeychainError(int status) : m_status(status) {}
        int status() const { return m_status; }
        const char *what() const noexcept override { return "the keychain refused to store an item"; }

    private:
        int m_status;
    };

    static inline const QString service = QStringLiteral("app.sorvane.creator.mac");
    static inline const QString accessTokenAccount = QStringLiteral("access-token");
    static inline const QString refreshTokenAccount = QStringLiteral("refresh-token");
    static inline const QString userIdAccount = QStringLiteral("user-id");

    KeychainStore(std::unique_ptr<SecretBackend> primary, std::unique_ptr<SecretBackend> fallback);
    // The secret service first, the owner-only file second.
    static KeychainStore &shared();
    // Two in-memory backends, for tests.
    static std::unique_ptr<KeychainStore> inMemory();

    SecretBackend &primary() { return *m_primary; }
    SecretBackend &fallback() { return *m_fallback; }

    // The stored text, or nothing; never throws. An item that is not valid UTF-8
    // counts as absent, without asking the second place.
    QCoro::Task<std::optional<QString>> value(QString account);
    // Writes the new value first and only then removes stale copies, so a failed
    // write never loses what was stored. Throws KeychainError when neither place
    // takes it.
    QCoro::Task<> store(QString account, QString text);
    // Removes the item from both places; failures are ignored.
    QCoro::Task<> remove(QString account);

private:
    std::unique_ptr<SecretBackend> m_primary;
    std::unique_ptr<SecretBackend> m_fallback;
};
