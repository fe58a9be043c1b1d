#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class DefaultsStore;

// Small records that belong to one account each (the unsent text, the kept
// plan, the ask conversation), one file per record and account, beside the
// settings file and apart from it: writing one record rewrites only its own few
// bytes, never the settings. Accounts are keyed by their lower-cased e-mail
// address; the records of the last few accounts are kept, older ones dropped.
// Every write replaces the file whole (a kill mid-way leaves the old record or
// the new one, never a mixture).
class RecordStore : public QObject {
    Q_OBJECT
public:
    static constexpr int kAccountsKept = 5;
    // Longer folder names are refused by some file systems (255 bytes on most, fewer on some).
    static constexpr int kLongestFolderName = 128;

    // An empty directory keeps everything in memory (tests).
    explicit RecordStore(QString directory = {}, QObject *parent = nullptr);

    // The records that go with the settings store: "records/" beside its file,
    // or in memory for an in-memory store. Made once per store, kept as its child.
    static RecordStore &of(DefaultsStore &defaults);

    // The record's bytes; none when there is none (or the owner is empty).
    std::optional<QByteArray> read(const QString &name, const QString &owner) const;
    // Replaces the record; false when it could not be written. Nothing for an empty owner.
    bool write(const QString &name, const QString &owner, const QByteArray &bytes);
    void remove(const QString &name, const QString &owner);

    // The accounts that have records, the most recently written first.
    QStringList owners() const { return m_owners; }
    QString directory() const { return m_directory; }

    // A stored record that cannot be read counts as absent; only the log says so.
    static void unreadable(const QString &name, const QString &owner);

    // Writes the file anew: a reader finds the old bytes or the new ones, never a mixture.
    static bool replaceFile(const QString &path, const QByteArray &bytes);

    // The folder name of an owner: readable, and never a path of its own.
    static QString folderName(const QString &owner);

private:
    void loadOwners();
    void touch(const QString &owner);
    void writeOwners();
    QString path(const QString &name, const QString &owner) const;

    QString m_directory;
    QStringList m_owners;
    // In memory: owner → name → bytes.
    QHash<QString, QHash<QString, QByteArray>> m_memory;
};
