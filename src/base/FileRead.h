#pragma once

#include <QByteArray>
#include <QString>

// Files of the application's own that the user (or anything running as the
// user) can replace: the settings, the kept records, the stored session. Each
// is read whole, so what stands there is looked at first: a device or a pipe
// (a link to /dev/zero) would be read for ever, and a file larger than any the
// application writes is not one of its own.
namespace FileRead {

// The largest such file: a kept plan holds up to three of the service's plans,
// each at most 96 MiB as the service sends it.
inline constexpr qint64 kLargest = 320LL * 1024 * 1024;

struct Result {
    enum class Kind : quint8 {
        read,
        absent,  // no file there
        refused, // not a plain file, larger than asked, a link where none is taken, or unreadable
    };
    Kind kind = Kind::absent;
    QByteArray bytes;
};

// The file's bytes when it is a plain file of at most `largest` bytes, reached
// through a symbolic link only when `throughLinks`. Never waits on what it refuses.
Result whole(const QString &path, qint64 largest, bool throughLinks);

} // namespace FileRead
