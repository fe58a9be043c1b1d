#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <unistd.h>

namespace benchsupport {

// A field of a /proc status file ("VmRSS:", "voluntary_ctxt_switches:"): of
// this process, or of any process or thread by its path.
inline qint64 status(const char *field, const QString &path = QStringLiteral("/proc/self/status"))
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// The same for process `pid`, or for its thread `tid`.
inline qint64 status(const char *field, qint64 pid, qint64 tid = 0)
{
    return status(field, tid ? QStringLiteral("/proc/%1/task/%2/status").arg(pid).arg(tid)
                             : QStringLiteral("/proc/%1/status").arg(pid));
}

inline qint64 parentOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The name may hold spaces and parentheses; the fields follow its last ')'.
    const qsizetype close = text.lastIndexOf(')');
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() : -1;
}

// Every living process descended from `root`, the root not included.
inline QList<qint64> descendants(qint64 root = getpid())
{
    QList<qint64> all;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (ok)
            all << pid;
    }
    QList<qint64> family{root};
    for (bool grew = true; grew;) {
        grew = false;
        for (qint64 pid : all) {
            if (!family.contains(pid) && family.contains(parentOf(pid))) {
                family << pid;
                grew = true;
            }
        }
    }
    family.removeFirst();
    return family;
}

// CPU time a process's living threads have run, in nanoseconds: the
// scheduler's own account, far finer than the clock ticks of /proc/PID/stat.
inline qint64 cpuNanoseconds(qint64 pid)
{
    qint64 total = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks + u'/' + tid + QStringLiteral("/schedstat"));
        if (f.open(QIODevice::ReadOnly))
            total += f.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

// The kind of an engine process from its command line ("renderer", "gpu-process",
// "zygote", "utility"); "browser" for one without a type.
inline QString processKind(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("gone");
    // The engine rewrites its processes' titles: the arguments may come as one
    // line split by spaces rather than by NULs.
    QByteArray line = f.readAll();
    line.replace('\0', ' ');
    for (const QByteArray &arg : line.split(' ')) {
        if (arg.startsWith("--type="))
            return QString::fromLatin1(arg.mid(7));
    }
    return QStringLiteral("browser");
}

} // namespace benchsupport
