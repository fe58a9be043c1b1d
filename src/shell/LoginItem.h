#pragma once

#include <QString>

// Opening at login through an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/<id>.desktop, that starts this executable.
class LoginItem {
public:
    enum class Status {
        notRegistered, // no entry, or an entry the user switched off
        enabled,       // an entry that starts this executable
        notFound,      // an entry that starts something else (an older copy elsewhere)
    };

    // `executable` empty: the running executable.
    explicit LoginItem(QString id = QStringLiteral("zephyl-kitty"), QString executable = {});

    // Writes the entry; false when it cannot be written (the reason in `lastError`).
    bool registerItem();
    // Removes the entry; true when none is left.
    bool unregisterItem();
    Status status() const;

    QString entryPath() const;
    QString lastError() const { return m_error; }

    // The entry's text, for an executable path (quoted as desktop entries want).
    static QByteArray entryText(const QString &executable);

private:
    QString m_id;
    QString m_executable;
    QString m_error;
};

// What start-up and the companion settings ask of the login item: register or
// unregister once, remembering that start-up already tried.
namespace Home {
// The application runs from an installed copy (a prefix with its bundle beside
// the executable), not from a build tree.
bool isInstalled();
// Registers or unregisters the login item; true on success. Sets
// "zephyl.mac.login.settled" first, so start-up does not try twice.
bool setOpensAtLogin(bool on, LoginItem &item);
bool setOpensAtLogin(bool on);
} // namespace Home
