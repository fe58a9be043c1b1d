#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// A file of the application's own (the settings, a record) that could not be
// written: in which folder, and why as the user can act on it.
class FileWriteError final : public std::exception {
public:
    enum class Reason : quint8 {
        diskFull,    // no room left (or the user's quota is spent)
        notWritable, // read-only, not ours to write, or any other refusal
    };

    FileWriteError(Reason reason, QString folder) : m_reason(reason), m_folder(std::move(folder)) {}
    // From the system's error number of the failed call.
    static FileWriteError fromErrno(int error, QString folder);

    Reason reason() const { return m_reason; }
    const QString &folder() const { return m_folder; }
    const char *what() const noexcept override
    {
        return m_reason == Reason::diskFull ? "disk full" : "folder not writable";
    }
    friend bool operator==(const FileWriteError &a, const FileWriteError &b)
    {
        return a.m_reason == b.m_reason && a.m_folder == b.m_folder;
    }

private:
    Reason m_reason;
    QString m_folder;
};

namespace FileWrite {

// Writes the file anew: a reader finds the old bytes or the new ones, never a
// mixture (written beside it, then renamed over it). `durable` also waits for
// the disk before the rename. 0 when written, else the system's error number;
// nothing of the attempt is left behind.
int replace(const QString &path, const QByteArray &bytes, bool durable);
// The folder and those above it; 0 when it exists, else the error number.
int makeFolder(const QString &path);
// The same, the folder itself made for its owner alone (0700); those above it
// as makeFolder makes them. An existing folder is left as it is.
int makeOwnFolder(const QString &path);
// Makes an existing folder its owner's alone (0700); 0 when it is (or is not there).
int restrictFolder(const QString &path);
// Removes the file; 0 when it is gone (or never was), else the error number.
int remove(const QString &path);

} // namespace FileWrite
