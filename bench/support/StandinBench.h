#pragma once

// Pieces shared by the benchmarks that run the client against the stand-in in
// a child process: the child itself, the client's memory figures, and waiting
// for a task outside any coroutine.

#include "Certificate.h"
#include "StandinServer.h"

#include "services/KeychainStore.h"
#include "services/ZephylAPI.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QFile>
#include <QProcess>
#include <QSslConfiguration>

#include <cstdio>
#include <exception>
#include <functional>
#include <optional>

#include "support/ProcStatus.h"

namespace benchsupport {

// Resets the peak to the current resident size (Linux 4.0 and later).
inline void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

template <typename T>
T await(QCoro::Task<T> &&task)
{
    std::exception_ptr error;
    std::optional<T> value;
    auto wrap = [](QCoro::Task<T> t, std::exception_ptr &err, std::optional<T> &out) -> QCoro::Task<> {
        try {
            out = co_await std::move(t);
        } catch (...) {
            err = std::current_exception();
        }
    };
    QCoro::waitFor(wrap(std::move(task), error, value));
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

// The account the benchmarks sign in with.
inline const QString email = QStringLiteral("bench@example.com");
inline const QString password = QStringLiteral("bench-bench-bench");

// In the child: runs the stand-in with the account, set up further by
// `prepare`, and tells the parent the port it listens on.
inline int serve(const std::function<void(Standin::Server &)> &prepare = {})
{
    Standin::Server server;
    server.addAccount(email, password);
    if (!server.start())
        return 1;
    if (prepare)
        prepare(server);
    std::printf("%u\n", server.port());
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// This program started again with --serve (where it runs the stand-in and
// announces its port), and the client signed in to it, trusting its https host
// (where direct uploads go). Stops the child when it goes.
class StandinChild {
public:
    // False when the stand-in did not start.
    bool start()
    {
        m_child.setProgram(QCoreApplication::applicationFilePath());
        m_child.setArguments({QStringLiteral("--serve")});
        m_child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_child.start();
        if (!m_child.waitForReadyRead(10'000)) {
            std::fprintf(stderr, "the stand-in did not start\n");
            return false;
        }
        port = quint16(m_child.readLine().trimmed().toUInt());
        Standin::trustCertificate();
        ZephylAPI::Setup setup;
        setup.baseURL = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
        setup.keychain = m_keychain.get();
        api = std::make_unique<ZephylAPI>(setup);
        await(api->signInWithEmail(email, password));
        return true;
    }
    ~StandinChild()
    {
        api.reset();
        m_child.kill(); // our own child
        m_child.waitForFinished();
    }

    quint16 port = 0;
    std::unique_ptr<ZephylAPI> api;

private:
    QProcess m_child;
    std::unique_ptr<KeychainStore> m_keychain = KeychainStore::inMemory();
};

} // namespace benchsupport
