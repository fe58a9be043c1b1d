#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace zktest {

namespace detail {

void Waiter::finish()
{
    done = true;
    if (loop)
        loop->quit();
}

bool waitUntilDone(Waiter &waiter, std::chrono::milliseconds limit)
{
    if (waiter.done)
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(limit);
    waiter.loop = &loop;
    loop.exec();
    waiter.loop = nullptr;
    return waiter.done;
}

void gaveUp(const char *what, std::chrono::milliseconds limit, const std::source_location &where)
{
    const std::string message = "gave up after " + QString::number(limit.count() / 1000.0).toStdString() +
                                " s waiting for " + (what ? std::string(what) : std::string("the task awaited here"));
    ADD_FAILURE_AT(where.file_name(), int(where.line())) << message;
    throw GaveUp(message);
}

} // namespace detail

int runTool(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(20000))
        return -1;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(5000);
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    QDeadlineTimer deadline(limit);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

double referenceEaseOut(double x)
{
    // x(s) = 3(1 - s)s² × 0.58 + s³ rises with s: bisect for it, then read y(s).
    double lo = 0, hi = 1;
    for (int i = 0; i < 60; ++i) {
        const double s = (lo + hi) / 2;
        (3 * (1 - s) * s * s * 0.58 + s * s * s < x ? lo : hi) = s;
    }
    const double s = (lo + hi) / 2;
    return 3 * (1 - s) * s * s + s * s * s;
}

QString tempDir()
{
    static QTemporaryDir dir;
    return dir.path();
}

namespace {

// This thread's own mount namespace, private, so no mount of the test reaches
// the machine's; made once.
bool privateMounts()
{
    static const bool made = ::unshare(CLONE_NEWNS) == 0 &&
                             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return made;
}

QByteArray filler(const QString &mount) { return QFile::encodeName(mount + QStringLiteral("/.filler")); }

} // namespace

PrivateMount::PrivateMount(int kib)
{
    static int made = 0;
    const QString point = tempDir() + QStringLiteral("/mount-%1").arg(++made);
    const QByteArray options = "size=" + QByteArray::number(kib) + "k";
    if (privateMounts() && QDir().mkpath(point) &&
        ::mount("tmpfs", QFile::encodeName(point).constData(), "tmpfs", 0, options.constData()) == 0)
        m_path = point;
}

PrivateMount::~PrivateMount()
{
    if (!m_path.isEmpty())
        ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
}

bool PrivateMount::setReadOnly(bool readOnly)
{
    const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return !m_path.isEmpty() && ::mount(nullptr, QFile::encodeName(m_path).constData(), nullptr, flags, nullptr) == 0;
}

bool PrivateMount::fill()
{
    const int fd = ::open(filler(m_path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    static const char block[512] = {};
    ssize_t n = 0;
    while ((n = ::write(fd, block, sizeof block)) > 0) {
    }
    const bool full = n < 0 && errno == ENOSPC;
    ::close(fd);
    return full;
}

bool PrivateMount::unfill() { return ::unlink(filler(m_path).constData()) == 0; }

} // namespace zktest
