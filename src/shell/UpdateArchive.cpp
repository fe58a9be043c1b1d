#include "shell/UpdateArchive.h"

#include "base/FileRead.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>
#include <sodium.h>

#include <cstdio>
#include <functional>
#include <memory>

namespace UpdateArchive {

namespace {
constexpr int kMaximumEntries = 20000;
constexpr qint64 kMaximumUnpacked = qint64(2) << 30;
constexpr qint64 kMaximumInfo = 64 * 1024;
const QString kExecutable = QStringLiteral("bin/zephyl-kitty");
const QString kBundle = QStringLiteral("share/zephyl-kitty");
const QString kInfo = QStringLiteral("share/zephyl-kitty/info.json");

void say(QString *why, const QString &text)
{
    if (why)
        *why = text;
}

struct Reader {
    archive *handle = archive_read_new();
    ~Reader() { archive_read_free(handle); }
};

// The entry's path made relative and checked; empty when it may not be written.
QString allowedPath(const archive_entry *entry, bool isDir)
{
    const char *raw = archive_entry_pathname_utf8(const_cast<archive_entry *>(entry));
    if (!raw)
        raw = archive_entry_pathname(const_cast<archive_entry *>(entry));
    if (!raw)
        return {};
    QString path = QString::fromUtf8(raw);
    while (path.startsWith(QStringLiteral("./")))
        path = path.mid(2);
    if (isDir && path.endsWith(u'/'))
        path.chop(1);
    if (path.isEmpty() || path.startsWith(u'/') || path.size() > 1024)
        return {};
    for (const QString &part : path.split(u'/')) {
        if (part.isEmpty() || part == QStringLiteral(".") || part == QStringLiteral(".."))
            return {};
        for (const QChar c : part)
            if (c.category() == QChar::Other_Control || c == u'\\')
                return {};
    }
    if (isDir)
        return (path == QStringLiteral("bin") || path == QStringLiteral("share") || path == kBundle ||
                path.startsWith(kBundle + u'/'))
                   ? path
                   : QString();
    return (path == kExecutable || path.startsWith(kBundle + u'/')) ? path : QString();
}

// Walks every entry; `visit` gets the checked path and reads the data itself when it wants.
bool walk(const QByteArray &archiveBytes, QString *why,
          const std::function<bool(const QString &path, bool isDir, archive_entry *entry, archive *handle)> &visit)
{
    Reader reader;
    archive_read_support_filter_gzip(reader.handle);
    archive_read_support_filter_xz(reader.handle);
    archive_read_support_filter_zstd(reader.handle);
    archive_read_support_format_tar(reader.handle);
    if (archive_read_open_memory(reader.handle, archiveBytes.constData(), size_t(archiveBytes.size())) != ARCHIVE_OK) {
        say(why, QStringLiteral("the archive cannot be read"));
        return false;
    }
    int count = 0;
    qint64 total = 0;
    archive_entry *entry = nullptr;
    while (true) {
        const int status = archive_read_next_header(reader.handle, &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
            say(why, QStringLiteral("the archive is damaged"));
            return false;
        }
        if (++count > kMaximumEntries) {
            say(why, QStringLiteral("the archive holds too many entries"));
            return false;
        }
        const auto type = archive_entry_filetype(entry);
        const bool isDir = type == AE_IFDIR;
        if ((type != AE_IFREG && !isDir) || archive_entry_hardlink(entry) || archive_entry_symlink(entry)) {
            say(why, QStringLiteral("the archive holds a link or a special file"));
            return false;
        }
        const QString path = allowedPath(entry, isDir);
        if (path.isEmpty()) {
            say(why, QStringLiteral("the archive holds a path outside the application"));
            return false;
        }
        const qint64 size = archive_entry_size(entry);
        total += std::max<qint64>(0, size);
        if (size < 0 || total > kMaximumUnpacked) {
            say(why, QStringLiteral("the archive unpacks too large"));
            return false;
        }
        if (!visit(path, isDir, entry, reader.handle)) {
            if (why && why->isEmpty())
                say(why, QStringLiteral("an entry could not be handled"));
            return false;
        }
    }
    return true;
}

// Reads the current entry's data, at most `limit` bytes (more fails).
std::optional<QByteArray> readData(archive *handle, qint64 limit, const std::function<bool(const char *, qsizetype)> &sink = {})
{
    QByteArray out;
    char buffer[64 * 1024];
    qint64 seen = 0;
    while (true) {
        const la_ssize_t n = archive_read_data(handle, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0)
            return std::nullopt;
        seen += n;
        if (seen > limit)
            return std::nullopt;
        if (sink) {
            if (!sink(buffer, n))
                return std::nullopt;
        } else {
            out.append(buffer, n);
        }
    }
    return out;
}
} // namespace

std::optional<QByteArray> load(const QString &archivePath)
{
    // A pipe or a device where the archive was kept is none, never waited on.
    FileRead::Result file = FileRead::whole(archivePath, kMaximumArchiveBytes, true);
    if (file.kind != FileRead::Result::Kind::read || file.bytes.isEmpty())
        return std::nullopt;
    return std::move(file.bytes);
}

bool verify(const QByteArray &bytes, const QByteArray &signature, const QByteArray &publicKey)
{
    if (signature.size() != crypto_sign_BYTES || publicKey.size() != crypto_sign_PUBLICKEYBYTES || bytes.isEmpty() ||
        sodium_init() < 0)
        return false;
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                       reinterpret_cast<const unsigned char *>(bytes.constData()),
                                       quint64(bytes.size()),
                                       reinterpret_cast<const unsigned char *>(publicKey.constData())) == 0;
}

bool verify(const QString &archivePath, const QByteArray &signature, const QByteArray &publicKey)
{
    const auto bytes = load(archivePath);
    return bytes && verify(*bytes, signature, publicKey);
}

std::optional<Manifest> inspect(const QString &archivePath, QString *why)
{
    const auto bytes = load(archivePath);
    if (!bytes) {
        say(why, QStringLiteral("the archive cannot be read"));
        return std::nullopt;
    }
    return inspect(*bytes, why);
}

bool extract(const QString &archivePath, const QString &destination, QString *why)
{
    const auto bytes = load(archivePath);
    if (!bytes) {
        say(why, QStringLiteral("the archive cannot be read"));
        return false;
    }
    return extract(*bytes, destination, why);
}

std::optional<Manifest> inspect(const QByteArray &bytes, QString *why)
{
    bool executable = false;
    std::optional<QByteArray> info;
    const bool ok = walk(bytes, why, [&](const QString &path, bool, archive_entry *entry, archive *handle) {
        if (path == kExecutable)
            executable = archive_entry_size(entry) > 0;
        if (path == kInfo) {
            info = readData(handle, kMaximumInfo);
            return info.has_value();
        }
        return true;
    });
    if (!ok)
        return std::nullopt;
    if (!executable || !info) {
        say(why, QStringLiteral("the archive lacks the executable or its info file"));
        return std::nullopt;
    }
    const QJsonObject object = QJsonDocument::fromJson(*info).object();
    const QString build = object.value(QStringLiteral("build")).toString();
    const QString version = object.value(QStringLiteral("version")).toString();
    if (build.isEmpty() || version.isEmpty()) {
        say(why, QStringLiteral("the archive's info file names no build"));
        return std::nullopt;
    }
    return Manifest{build, version};
}

bool extract(const QByteArray &bytes, const QString &destination, QString *why)
{
    const QDir root(destination);
    return walk(bytes, why, [&](const QString &path, bool isDir, archive_entry *entry, archive *handle) {
        const QString target = root.filePath(path);
        if (isDir)
            return QDir().mkpath(target);
        if (!QDir().mkpath(QFileInfo(target).absolutePath()))
            return false;
        QFile file(target);
        // NewOnly: a path given twice in the archive is refused, not overwritten.
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return false;
        const auto written = readData(handle, kMaximumUnpacked, [&file](const char *data, qsizetype n) {
            return file.write(data, n) == n;
        });
        if (!written)
            return false;
        const bool runnable = archive_entry_perm(entry) & 0111;
        QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        if (runnable)
            permissions |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        return file.setPermissions(permissions);
    });
}

} // namespace UpdateArchive

namespace UpdateInstaller {

QString runningPrefix() { return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/..")); }

Kind kind(const QString &prefix)
{
    const QString bundle = prefix + QStringLiteral("/share/zephyl-kitty");
    const QString executable = prefix + QStringLiteral("/bin/zephyl-kitty");
#ifdef ZK_BUILD_BUNDLE_DIR
    if (QDir::cleanPath(bundle) == QDir::cleanPath(QStringLiteral(ZK_BUILD_BUNDLE_DIR)))
        return Kind::notInstalled;
#endif
    if (!QFileInfo(bundle).isDir() || !QFileInfo(executable).isFile())
        return Kind::notInstalled;
    // The system's prefix belongs to its package manager, whoever may write it.
    if (QDir::cleanPath(prefix) == QStringLiteral("/usr"))
        return Kind::packaged;
    for (const QString &path : {prefix + QStringLiteral("/bin"), prefix + QStringLiteral("/share"), bundle, executable})
        if (!QFileInfo(path).isWritable())
            return Kind::packaged;
    return Kind::selfUpdating;
}

bool install(const QString &archivePath, const QByteArray &signature, const QByteArray &publicKey,
             const QString &expectedBuild, const QString &prefix, QString *why)
{
    using namespace UpdateArchive;
    // One read: the bytes checked here are the bytes unpacked below.
    const auto bytes = load(archivePath);
    if (!bytes || !verify(*bytes, signature, publicKey)) {
        say(why, QStringLiteral("the archive's signature does not verify"));
        return false;
    }
    const auto manifest = inspect(*bytes, why);
    if (!manifest)
        return false;
    if (manifest->build != expectedBuild) {
        say(why, QStringLiteral("the archive holds another build than offered"));
        return false;
    }
    // Unpacked beside its destination, so every move below is a rename.
    QTemporaryDir work(prefix + QStringLiteral("/.zephyl-kitty-update-XXXXXX"));
    if (!work.isValid() || !extract(*bytes, work.path(), why)) {
        if (why && why->isEmpty())
            say(why, QStringLiteral("the archive could not be unpacked"));
        return false;
    }
    const QString bundle = prefix + QStringLiteral("/share/zephyl-kitty");
    const QString oldBundle = work.path() + QStringLiteral("/previous-bundle");
    const QString executable = prefix + QStringLiteral("/bin/zephyl-kitty");
    QDir().mkpath(prefix + QStringLiteral("/share"));
    QDir().mkpath(prefix + QStringLiteral("/bin"));
    const bool hadBundle = QFileInfo::exists(bundle);
    if (hadBundle && !QFile::rename(bundle, oldBundle)) {
        say(why, QStringLiteral("the installed bundle cannot be moved aside"));
        return false;
    }
    if (!QFile::rename(work.path() + QStringLiteral("/share/zephyl-kitty"), bundle)) {
        if (hadBundle)
            QFile::rename(oldBundle, bundle);
        say(why, QStringLiteral("the new bundle cannot be put in place"));
        return false;
    }
    // rename(2) replaces the executable in one step; the running process keeps its old file.
    if (::rename(QFile::encodeName(work.path() + QStringLiteral("/bin/zephyl-kitty")).constData(),
                 QFile::encodeName(executable).constData()) != 0) {
        QDir(bundle).removeRecursively();
        if (hadBundle)
            QFile::rename(oldBundle, bundle);
        say(why, QStringLiteral("the new executable cannot be put in place"));
        return false;
    }
    return true; // the work folder, with the previous bundle in it, goes with `work`
}

} // namespace UpdateInstaller
