#pragma once

#include <QProcess>
#include <QRect>
#include <QStringList>

#include <vector>

namespace zktest {

// The window helper (tests/support/WindowHelper.cpp) as a running process:
// windows of another application, with the frames the window manager gave them.
class WindowHelperProcess {
public:
    struct Shown {
        uint32_t id = 0;
        QRect frame; // root pixels, decorations included
    };

    // Starts the helper and waits until every window is framed (up to `limitMs`).
    bool start(const QString &program, const QStringList &titles, int limitMs = 60000)
    {
        m_process.setProgram(program);
        m_process.setArguments(titles);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(limitMs))
            return false;
        QByteArray out;
        while (!out.contains("ready\n")) {
            if (!m_process.waitForReadyRead(limitMs))
                return false;
            out += m_process.readAll();
        }
        for (const QByteArray &line : out.split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() == 5)
                shown.push_back({f[0].toUInt(), QRect(f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt())});
        }
        return shown.size() == size_t(titles.size());
    }
    ~WindowHelperProcess()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    qint64 pid() const { return m_process.processId(); }

    std::vector<Shown> shown;

private:
    QProcess m_process;
};

} // namespace zktest
