#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The archive of an update: a tar archive (any compression libarchive reads) of
// an installation prefix holding only bin/zephyl-kitty and share/zephyl-kitty/,
// signed with Ed25519 over its bytes.
namespace UpdateArchive {

inline constexpr qint64 kMaximumArchiveBytes = qint64(1) << 30;

// The archive's bytes, read once. Checking and unpacking the same bytes in
// memory means a file changed between the check and the install is never
// unpacked. None when the file cannot be read or is larger than the maximum.
std::optional<QByteArray> load(const QString &archivePath);

// The signature checks out against `publicKey` (32 bytes).
bool verify(const QByteArray &bytes, const QByteArray &signature, const QByteArray &publicKey);
bool verify(const QString &archivePath, const QByteArray &signature, const QByteArray &publicKey);

// What the archive says of itself (share/zephyl-kitty/info.json).
struct Manifest {
    QString build;
    QString version;
};

// Reads every entry without writing anything: only regular files and folders
// under the two allowed places, no absolute or climbing paths, no links or
// devices, within size limits, with the executable and the info file present.
std::optional<Manifest> inspect(const QByteArray &bytes, QString *why = nullptr);
std::optional<Manifest> inspect(const QString &archivePath, QString *why = nullptr);

// Writes the entries under `destination`, an empty folder; call inspect() first.
bool extract(const QByteArray &bytes, const QString &destination, QString *why = nullptr);
bool extract(const QString &archivePath, const QString &destination, QString *why = nullptr);

} // namespace UpdateArchive

// Where the running application is installed and whether it may update itself.
namespace UpdateInstaller {

enum class Kind {
    selfUpdating, // a prefix this user can write, with this executable and its bundle
    packaged,     // the system's package manager owns it, or the user cannot write it
    notInstalled, // a build tree or an unknown layout
};

// The prefix of the running executable: the folder above its bin folder.
QString runningPrefix();
Kind kind(const QString &prefix);

// Reads the archive once, checks those bytes again and puts their contents into
// `prefix`: the bundle folder is swapped whole, then the executable is replaced
// by a rename.
bool install(const QString &archivePath, const QByteArray &signature, const QByteArray &publicKey,
             const QString &expectedBuild, const QString &prefix, QString *why = nullptr);

} // namespace UpdateInstaller
