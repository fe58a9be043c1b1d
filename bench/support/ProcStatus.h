#pragma once

#include <QByteArray>
#include <QFile>

namespace benchsupport {

// A field of /proc/self/status ("VmRSS:", "VmHWM:"), in KiB.
inline qint64 status(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace benchsupport
