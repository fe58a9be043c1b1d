#include "services/KeychainStore.h"

#include "base/FileRead.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

namespace {

using Status = SecretBackend::Status;
constexpr int kAccessDenied = 4; // QKeychain::AccessDenied
constexpr int kOtherError = 7;   // QKeychain::OtherError

std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

// ---- File

FileSecretBackend::FileSecretBackend(QString path) : m_path(std::move(path)) {}

QString FileSecretBackend::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/zephyl-kitty/credentials.json");
}

namespace {
constexpr auto kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr qint64 kLargestFile = 1024 * 1024;

// The file's contents; an absent file is an empty object. nullopt: unreadable.
std::optional<QJsonObject> loadFile(const QString &path)
{
    // Stored sessions take a few kilobytes: a device, a pipe or a far larger file is none of ours.
    const FileRead::Result read = FileRead::whole(path, kLargestFile, true);
    if (read.kind == FileRead::Result::Kind::absent)
        return QJsonObject();
    if (read.kind != FileRead::Result::Kind::read)
        return std::nullopt;
    // Someone widened the permissions: narrowed again, on the file itself and
    // never on what a link points at.
    QFile file(path);
    if (!QFileInfo(path).isSymLink() &&
        (file.permissions() & ~(kOwnerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser)) != 0)
        file.setPermissions(kOwnerOnly);
    const QJsonDocument doc = QJsonDocument::fromJson(read.bytes);
    return doc.isObject() ? doc.object() : QJsonObject();
}

bool saveFile(const QString &path, const QJsonObject &contents)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    QFile::setPermissions(info.absolutePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (!file.setPermissions(kOwnerOnly))
        return false;
    file.write(QJsonDocument(contents).toJson(QJsonDocument::Compact));
    return file.commit();
}
} // namespace

QCoro::Task<SecretBackend::Result> FileSecretBackend::read(QString service, QString account)
{
    const auto contents = loadFile(m_path);
    if (!contents)
        co_return Result{Status::unavailable, kOtherError, {}};
    const QJsonValue value = contents->value(service).toObject().value(account);
    if (!value.isString())
        co_return Result{Status::notFound, 1, {}};
    co_return Result{Status::ok, 0, QByteArray::fromBase64(value.toString().toLatin1())};
}

QCoro::Task<SecretBackend::Result> FileSecretBackend::write(QString service, QString account, QByteArray data)
{
    auto contents = loadFile(m_path);
    if (!contents)
        co_return Result{Status::failed, kOtherError, {}};
    QJsonObject items = contents->value(service).toObject();
    items.insert(account, QString::fromLatin1(data.toBase64()));
    contents->insert(service, items);
    if (!saveFile(m_path, *contents))
        co_return Result{Status::failed, kOtherError, {}};
    co_return Result{};
}

QCoro::Task<SecretBackend::Result> FileSecretBackend::remove(QString service, QString account)
{
    auto contents = loadFile(m_path);
    if (!contents)
        co_return Result{Status::failed, kOtherError, {}};
    QJsonObject items = contents->value(service).toObject();
    if (!items.contains(account))
        co_return Result{Status::notFound, 1, {}};
    items.remove(account);
    if (items.isEmpty())
        contents->remove(service);
    else
        contents->insert(service, items);
    if (!saveFile(m_path, *contents))
        co_return Result{Status::failed, kOtherError, {}};
    co_return Result{};
}

// ---- Memory

QCoro::Task<SecretBackend::Result> MemorySecretBackend::read(QString service, QString account)
{
    if (!answering)
        co_return Result{Status::unavailable, 5, {}};
    const auto it = items.constFind(service + QLatin1Char('/') + account);
    if (it == items.constEnd())
        co_return Result{Status::notFound, 1, {}};
    co_return Result{Status::ok, 0, *it};
}

QCoro::Task<SecretBackend::Result> MemorySecretBackend::write(QString service, QString account, QByteArray data)
{
    if (!answering)
        co_return Result{Status::unavailable, 5, {}};
    if (refuseWrites != 0) {
        if (refuseWrites > 0)
            --refuseWrites;
        co_return Result{Status::failed, kAccessDenied, {}};
    }
    ++writes;
    items.insert(service + QLatin1Char('/') + account, data);
    co_return Result{};
}

QCoro::Task<SecretBackend::Result> MemorySecretBackend::remove(QString service, QString account)
{
    if (!answering)
        co_return Result{Status::unavailable, 5, {}};
    if (items.remove(service + QLatin1Char('/') + account) == 0)
        co_return Result{Status::notFound, 1, {}};
    co_return Result{};
}

std::optional<QString> MemorySecretBackend::text(const QString &service, const QString &account) const
{
    const auto it = items.constFind(service + QLatin1Char('/') + account);
    if (it == items.constEnd())
        return std::nullopt;
    return QString::fromUtf8(*it);
}

// ---- Store

KeychainStore::KeychainStore(std::unique_ptr<SecretBackend> primary, std::unique_ptr<SecretBackend> fallback)
    : m_primary(std::move(primary)), m_fallback(std::move(fallback))
{
}

KeychainStore &KeychainStore::shared()
{
    static KeychainStore store(makeQtKeychainBackend(),
                               std::make_unique<FileSecretBackend>(FileSecretBackend::defaultPath()));
    return store;
}

std::unique_ptr<KeychainStore> KeychainStore::inMemory()
{
    return std::make_unique<KeychainStore>(std::make_unique<MemorySecretBackend>(),
                                           std::make_unique<MemorySecretBackend>());
}

QCoro::Task<std::optional<QString>> KeychainStore::value(QString account)
{
    for (SecretBackend *place : {m_primary.get(), m_fallback.get()}) {
        const auto result = co_await place->read(service, account);
        if (result.status == Status::ok)
            co_return strictUtf8(result.data);
    }
    co_return std::nullopt;
}

QCoro::Task<> KeychainStore::store(QString account, QString text)
{
    const QByteArray data = text.toUtf8();
    const auto first = co_await m_primary->write(service, account, data);
    if (first.status == Status::ok) {
        // The secret service has the new value: drop any older copy in the file.
        co_await m_fallback->remove(service, account);
        co_return;
    }
    if (first.status != Status::unavailable)
        throw KeychainError(first.code);
    const auto second = co_await m_fallback->write(service, account, data);
    if (second.status != Status::ok)
        throw KeychainError(second.code);
    // Should the secret service answer again later, its older copy must not win the read.
    co_await m_primary->remove(service, account);
}

QCoro::Task<> KeychainStore::remove(QString account)
{
    co_await m_primary->remove(service, account);
    co_await m_fallback->remove(service, account);
}
