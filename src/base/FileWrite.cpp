#include "base/FileWrite.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

FileWriteError FileWriteError::fromErrno(int error, QString folder)
{
    const bool full = error == ENOSPC || error == EDQUOT;
    return {full ? Reason::diskFull : Reason::notWritable, std::move(folder)};
}

namespace FileWrite {

int replace(const QString &path, const QByteArray &bytes, bool durable)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + QByteArrayLiteral(".XXXXXX");
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    for (qsizetype done = 0; done < bytes.size() && !error;) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n >= 0)
            done += n;
        else if (errno != EINTR)
            error = errno;
    }
    if (!error && durable && ::fsync(fd) != 0)
        error = errno;
    // Some file systems report a write that did not fit only when the file is closed.
    if (::close(fd) != 0 && !error && errno != EINTR)
        error = errno;
    if (!error && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error)
        ::unlink(temporary.constData());
    return error;
}

int makeFolder(const QString &path)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(path).toStdString()), error);
    return error.value();
}

int makeOwnFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) == 0 || errno == EEXIST)
        return 0;
    if (errno != ENOENT)
        return errno;
    if (const int error = makeFolder(QFileInfo(path).path()))
        return error;
    return ::mkdir(name.constData(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

int restrictFolder(const QString &path)
{
    struct stat status;
    const QByteArray name = QFile::encodeName(path);
    if (::lstat(name.constData(), &status) != 0)
        return errno == ENOENT ? 0 : errno;
    // A link is not followed: what it points at is not this folder.
    if (!S_ISDIR(status.st_mode) || (status.st_mode & 07777) == 0700)
        return 0;
    return ::chmod(name.constData(), 0700) == 0 ? 0 : errno;
}

int remove(const QString &path)
{
    if (::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT)
        return 0;
    return errno;
}

} // namespace FileWrite
