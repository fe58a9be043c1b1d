#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace zktest {

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

} // namespace zktest
