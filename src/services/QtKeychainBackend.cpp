#include "services/KeychainStore.h"

#include <QCoro/QCoroSignal>
#include <qt6keychain/keychain.h>

namespace {

using Status = SecretBackend::Status;

Status classify(QKeychain::Error error)
{
    switch (error) {
    case QKeychain::NoError: return Status::ok;
    case QKeychain::EntryNotFound: return Status::notFound;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
    case QKeychain::OtherError:
        // No secret service on the bus, no bus at all, or a keyring that cannot be unlocked.
        return Status::unavailable;
    case QKeychain::CouldNotDeleteEntry:
    case QKeychain::AccessDeniedByUser:
    case QKeychain::AccessDenied:
        return Status::failed;
    }
    return Status::failed;
}

template <typename Job>
QCoro::Task<SecretBackend::Result> run(Job &job)
{
    job.setAutoDelete(false);
    // Some backends finish inside start(); only wait for a signal still to come.
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &job, [&finished] { finished = true; });
    job.start();
    if (!finished)
        co_await qCoro(&job, &QKeychain::Job::finished);
    co_return SecretBackend::Result{classify(job.error()), int(job.error()), {}};
}

class QtKeychainBackend final : public SecretBackend {
public:
    QCoro::Task<Result> read(QString service, QString account) override
    {
        QKeychain::ReadPasswordJob job(service);
        job.setKey(account);
        auto result = co_await run(job);
        if (result.status == Status::ok)
            result.data = job.binaryData();
        co_return result;
    }

    QCoro::Task<Result> write(QString service, QString account, QByteArray data) override
    {
        QKeychain::WritePasswordJob job(service);
        job.setKey(account);
        job.setBinaryData(data);
        co_return co_await run(job);
    }

    QCoro::Task<Result> remove(QString service, QString account) override
    {
        QKeychain::DeletePasswordJob job(service);
        job.setKey(account);
        co_return co_await run(job);
    }
};

} // namespace

std::unique_ptr<SecretBackend> makeQtKeychainBackend() { return std::make_unique<QtKeychainBackend>(); }
