#pragma once

#include "base/FileWrite.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

class DefaultsStore;

// Small records that belong to one account each (the unsent text, the kept
// plan, the ask conversation), one file per record and account, beside the
// settings file and apart from it: writing one record rewrites only its own few
// bytes, never the settings. Accounts are keyed by their e-mail address
// (ownerKey). A record stays until its owner empties or removes it: no number
// of other accounts ever pushes one out, since it may hold what the user wrote
// and the service never received.
//
// Every write replaces the file whole (a kill mid-way leaves the old record or
// the new one, never a mixture). A write that fails (a full disk, a read-only
// folder) keeps the new bytes here, where reads find them, and is tried again
// with the next write or removal; its older file is removed when it can be, so
// a restart never brings back what the user has since changed.
class RecordStore : public QObject {
    Q_OBJECT
public:
    // Longer folder names are refused by some file systems (255 bytes on most, fewer on some).
    static constexpr int kLongestFolderName = 128;

    // An empty directory keeps everything in memory (tests). The directory and
    // each account's folder in it are the owner's alone (0700): made so, and
    // set so here when an earlier run left them open.
    explicit RecordStore(QString directory = {}, QObject *parent = nullptr);
    // A last try for what could not be written yet.
    ~RecordStore() override;

    // The records that go with the settings store: "records/" beside its file,
    // or in memory for an in-memory store. Made once per store, kept as its child.
    static RecordStore &of(DefaultsStore &defaults);

    // The record's bytes; none when there is none (or the owner is empty).
    std::optional<QByteArray> read(const QString &name, const QString &owner) const;
    // Replaces the record; false when it could not be written (it is kept here
    // and tried again). Nothing, and false, for an empty owner.
    bool write(const QString &name, const QString &owner, const QByteArray &bytes);
    // False when the file could not be removed (tried again like a write).
    bool remove(const QString &name, const QString &owner);
    // The record exists and its last bytes are written: a restart finds them.
    bool holds(const QString &name, const QString &owner) const;

    // Why the writes waiting here could not be made; none while nothing waits.
    const std::optional<FileWriteError> &writeProblem() const { return m_problem; }
    // Tries the waiting writes now (they are also tried with every write).
    void writeAgain();

    // The accounts that have records.
    QStringList owners() const;
    QString directory() const { return m_directory; }

    // A stored record that cannot be read counts as absent; only the log says so.
    static void unreadable(const QString &name, const QString &owner);

    // The key an e-mail address is kept under: only the letters A to Z are
    // lower-cased. Addresses the service gives in another case are the same
    // account; a letter beyond them is never folded into one, as Unicode's
    // lower-casing folds the Kelvin sign into "k", so no address can borrow
    // another's records.
    static QString ownerKey(const QString &address);
    // The folder name of an owner: readable, and never a path of its own.
    static QString folderName(const QString &owner);

Q_SIGNALS:
    // A write failed where none was failing, all waiting ones got written, or
    // what waits changed (writeProblem, holds).
    void writesChanged();

private:
    using Key = std::pair<QString, QString>; // owner key, record name
    QString path(const QString &name, const QString &owner) const;
    // Tries every waiting write and removal, the removals first (they free
    // room); tells when the trouble or what waits differs from `before`.
    void flush(const QSet<Key> &before);
    QSet<Key> waitingKeys() const;
    // 0 when the file on disk now says what `bytes` says (none: no file).
    int store(const Key &key, const std::optional<QByteArray> &bytes);

    QString m_directory;
    // In memory: owner → name → bytes.
    QHash<QString, QHash<QString, QByteArray>> m_memory;
    // Not yet on disk: the bytes, or none for a removal.
    QHash<Key, std::optional<QByteArray>> m_waiting;
    std::optional<FileWriteError> m_problem;
};
