#include "base/RecordStore.h"

#include "base/DefaultsStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTemporaryFile>

#include <filesystem>
#include <QUrl>

namespace {
const QString kOwnersFile = QStringLiteral("accounts.json");
} // namespace

RecordStore::RecordStore(QString directory, QObject *parent) : QObject(parent), m_directory(std::move(directory))
{
    loadOwners();
}

RecordStore &RecordStore::of(DefaultsStore &defaults)
{
    if (auto *existing = defaults.findChild<RecordStore *>(QString(), Qt::FindDirectChildrenOnly))
        return *existing;
    const QString settings = defaults.filePath();
    const QString directory =
        settings.isEmpty() ? QString() : QFileInfo(settings).absolutePath() + QStringLiteral("/records");
    return *new RecordStore(directory, &defaults);
}

void RecordStore::unreadable(const QString &name, const QString &owner)
{
    // Neither the record nor the address goes to the log, only that one was passed over.
    Q_UNUSED(owner);
    qWarning("A stored %s record could not be read; it counts as absent.", qPrintable(name));
}

QString RecordStore::folderName(const QString &owner)
{
    // Dots too, so "." and ".." name no folder of their own; '/' and NUL are always encoded.
    const QString lowered = owner.toLower();
    const QByteArray encoded = QUrl::toPercentEncoding(lowered, "@", ".");
    if (encoded.size() <= kLongestFolderName)
        return QString::fromLatin1(encoded);
    // Too long for a file name: named by its digest, after a '#' that no encoded
    // address holds, so no address can name this folder as its own.
    return u'#' + QString::fromLatin1(QCryptographicHash::hash(lowered.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString RecordStore::path(const QString &name, const QString &owner) const
{
    return m_directory + u'/' + folderName(owner) + u'/' + name + QStringLiteral(".json");
}

void RecordStore::loadOwners()
{
    if (m_directory.isEmpty())
        return;
    QFile file(m_directory + u'/' + kOwnersFile);
    if (file.open(QIODevice::ReadOnly)) {
        const QJsonArray list = QJsonDocument::fromJson(file.readAll()).array();
        // Taken as the list is written, whatever was put there: lower-cased, and
        // no more than are kept, so the account that writes next is never
        // mistaken for an older one and its records dropped.
        for (const QJsonValue &v : list) {
            const QString owner = v.toString().toLower();
            if (!owner.isEmpty() && !m_owners.contains(owner) && m_owners.size() < kAccountsKept)
                m_owners << owner;
        }
    }
    // Folders the list does not name (it was lost or damaged) still belong to someone.
    const auto folders = QDir(m_directory).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &folder : folders) {
        const QString owner = QUrl::fromPercentEncoding(folder.toLatin1());
        if (folderName(owner) == folder && !m_owners.contains(owner))
            m_owners << owner;
    }
}

void RecordStore::writeOwners()
{
    if (m_directory.isEmpty())
        return;
    QDir().mkpath(m_directory);
    QSaveFile file(m_directory + u'/' + kOwnersFile);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(QJsonArray::fromStringList(m_owners)).toJson(QJsonDocument::Compact));
        file.commit();
    }
}

void RecordStore::touch(const QString &owner)
{
    // Most keystrokes come from the account written last: the list stays as it is.
    if (!m_owners.isEmpty() && m_owners.front() == owner)
        return;
    m_owners.removeAll(owner);
    m_owners.prepend(owner);
    while (m_owners.size() > kAccountsKept) {
        const QString gone = m_owners.takeLast();
        m_memory.remove(gone);
        if (!m_directory.isEmpty())
            QDir(m_directory + u'/' + folderName(gone)).removeRecursively();
    }
    writeOwners();
}

std::optional<QByteArray> RecordStore::read(const QString &name, const QString &owner) const
{
    if (owner.isEmpty())
        return std::nullopt;
    const QString key = owner.toLower();
    if (m_directory.isEmpty()) {
        const auto records = m_memory.constFind(key);
        if (records == m_memory.cend() || !records->contains(name))
            return std::nullopt;
        return records->value(name);
    }
    QFile file(path(name, key));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool RecordStore::write(const QString &name, const QString &owner, const QByteArray &bytes)
{
    if (owner.isEmpty())
        return false;
    const QString key = owner.toLower();
    touch(key);
    if (m_directory.isEmpty()) {
        m_memory[key].insert(name, bytes);
        return true;
    }
    const QString target = path(name, key);
    QDir().mkpath(QFileInfo(target).absolutePath());
    return replaceFile(target, bytes);
}

bool RecordStore::replaceFile(const QString &target, const QByteArray &bytes)
{
    // Replaced whole or not at all: written beside it, then renamed over it. No
    // sync to the disk on every keystroke (that would cost the typing
    // milliseconds): a killed process leaves what it wrote with the system, and
    // a rename over a file is flushed with its contents by the file systems in use.
    QTemporaryFile file(target + QStringLiteral(".XXXXXX"));
    file.setAutoRemove(false);
    if (!file.open())
        return false;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    const QString temporary = file.fileName();
    file.close();
    std::error_code error;
    if (written)
        std::filesystem::rename(temporary.toStdString(), target.toStdString(), error);
    if (!written || error) {
        QFile::remove(temporary);
        return false;
    }
    return true;
}

void RecordStore::remove(const QString &name, const QString &owner)
{
    if (owner.isEmpty())
        return;
    const QString key = owner.toLower();
    if (m_directory.isEmpty()) {
        if (auto records = m_memory.find(key); records != m_memory.end())
            records->remove(name);
        return;
    }
    QFile::remove(path(name, key));
}
