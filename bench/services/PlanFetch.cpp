// Signs in to a stand-in with the demo account and reads the plan once: run
// under a tool that reports the process's peak memory, against a stand-in
// started with --plan-megabytes, to see what a large plan answer costs.
//
//   zephyl-standin --plan-megabytes 50 --port-file /tmp/port &
//   plan_fetch http://127.0.0.1:$(cat /tmp/port)

#include "services/KeychainStore.h"
#include "services/ZephylAPI.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QTextStream>

#include <exception>

namespace {

QCoro::Task<int> fetch(ZephylAPI &api)
{
    try {
        co_await api.signInWithEmail(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"));
        const auto drafts = co_await api.planDrafts();
        QTextStream(stdout) << drafts.size() << " drafts\n";
        co_return 0;
    } catch (const std::exception &e) {
        QTextStream(stderr) << "plan_fetch: " << e.what() << "\n";
        co_return 1;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: plan_fetch ORIGIN\n";
        return 2;
    }
    auto keychain = KeychainStore::inMemory();
    ZephylAPI api(ZephylAPI::Setup{QUrl(QString::fromLocal8Bit(argv[1])), nullptr, nullptr, keychain.get()});
    return QCoro::waitFor(fetch(api));
}
