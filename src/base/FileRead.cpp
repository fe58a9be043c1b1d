#include "base/FileRead.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileRead {

Result whole(const QString &path, qint64 largest, bool throughLinks)
{
    const QByteArray name = QFile::encodeName(path);
    // Not blocking: opening a pipe for reading would wait for a writer.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (throughLinks ? 0 : O_NOFOLLOW);
    int fd = -1;
    do {
        fd = ::open(name.constData(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return {errno == ENOENT || errno == ENOTDIR ? Result::Kind::absent : Result::Kind::refused, {}};
    Result result{Result::Kind::refused, {}};
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= largest) {
        // One byte more than it holds: a file that grew meanwhile is refused too.
        QByteArray bytes(qsizetype(status.st_size) + 1, Qt::Uninitialized);
        qsizetype done = 0;
        bool failed = false;
        while (!failed && done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else if (n == 0)
                break;
            else if (errno != EINTR)
                failed = true;
        }
        if (!failed && done < bytes.size()) {
            bytes.truncate(done);
            result = {Result::Kind::read, std::move(bytes)};
        }
    }
    ::close(fd);
    return result;
}

} // namespace FileRead
