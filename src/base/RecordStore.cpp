#include "base/RecordStore.h"

#include "base/DefaultsStore.h"
#include "base/FileRead.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <cerrno>

RecordStore::RecordStore(QString directory, QObject *parent) : QObject(parent), m_directory(std::move(directory))
{
    if (m_directory.isEmpty())
        return;
    // The folders are named after the accounts' addresses: no other local user
    // may list them. Those an earlier version left open are closed now.
    FileWrite::restrictFolder(m_directory);
    const auto folders = QDir(m_directory).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden);
    for (const QString &folder : folders)
        FileWrite::restrictFolder(m_directory + u'/' + folder);
}

RecordStore::~RecordStore()
{
    // Nobody listens any more; what can be written now still is.
    if (!m_waiting.isEmpty()) {
        blockSignals(true);
        flush(waitingKeys());
    }
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

QString RecordStore::ownerKey(const QString &address)
{
    QString key = address;
    for (QChar &c : key) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return key;
}

QString RecordStore::folderName(const QString &owner)
{
    // Dots too, so "." and ".." name no folder of their own; '/' and NUL are always encoded.
    const QString key = ownerKey(owner);
    const QByteArray encoded = QUrl::toPercentEncoding(key, "@", ".");
    if (encoded.size() <= kLongestFolderName)
        return QString::fromLatin1(encoded);
    // Too long for a file name: named by its digest, after a '#' that no encoded
    // address holds, so no address can name this folder as its own.
    return u'#' + QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString RecordStore::path(const QString &name, const QString &owner) const
{
    return m_directory + u'/' + folderName(owner) + u'/' + name + QStringLiteral(".json");
}

QStringList RecordStore::owners() const
{
    QStringList out;
    if (m_directory.isEmpty()) {
        for (auto it = m_memory.cbegin(); it != m_memory.cend(); ++it) {
            if (!it->isEmpty())
                out << it.key();
        }
        out.sort();
        return out;
    }
    const auto folders = QDir(m_directory).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &folder : folders) {
        const QString owner = QUrl::fromPercentEncoding(folder.toLatin1());
        if (folderName(owner) == folder)
            out << owner;
    }
    return out;
}

std::optional<QByteArray> RecordStore::read(const QString &name, const QString &owner) const
{
    if (owner.isEmpty())
        return std::nullopt;
    const QString key = ownerKey(owner);
    if (m_directory.isEmpty()) {
        const auto records = m_memory.constFind(key);
        if (records == m_memory.cend() || !records->contains(name))
            return std::nullopt;
        return records->value(name);
    }
    // What could not be written yet is newer than the file.
    if (const auto waiting = m_waiting.constFind({key, name}); waiting != m_waiting.cend())
        return *waiting;
    // Only a file written here: never through a link, and never more than a record holds.
    FileRead::Result file = FileRead::whole(path(name, key), FileRead::kLargest, false);
    if (file.kind == FileRead::Result::Kind::refused)
        unreadable(name, owner);
    if (file.kind != FileRead::Result::Kind::read)
        return std::nullopt;
    return std::move(file.bytes);
}

bool RecordStore::write(const QString &name, const QString &owner, const QByteArray &bytes)
{
    if (owner.isEmpty())
        return false;
    const QString key = ownerKey(owner);
    if (m_directory.isEmpty()) {
        m_memory[key].insert(name, bytes);
        return true;
    }
    const QSet<Key> before = waitingKeys();
    m_waiting.insert({key, name}, bytes);
    flush(before);
    return !m_waiting.contains({key, name});
}

bool RecordStore::remove(const QString &name, const QString &owner)
{
    if (owner.isEmpty())
        return true;
    const QString key = ownerKey(owner);
    if (m_directory.isEmpty()) {
        if (auto records = m_memory.find(key); records != m_memory.end()) {
            records->remove(name);
            if (records->isEmpty())
                m_memory.erase(records);
        }
        return true;
    }
    const QSet<Key> before = waitingKeys();
    m_waiting.insert({key, name}, std::nullopt);
    flush(before);
    return !m_waiting.contains({key, name});
}

bool RecordStore::holds(const QString &name, const QString &owner) const
{
    if (owner.isEmpty())
        return false;
    const QString key = ownerKey(owner);
    if (m_directory.isEmpty())
        return m_memory.value(key).contains(name);
    return !m_waiting.contains({key, name}) && QFileInfo::exists(path(name, key));
}

void RecordStore::writeAgain()
{
    if (!m_waiting.isEmpty())
        flush(waitingKeys());
}

int RecordStore::store(const Key &key, const std::optional<QByteArray> &bytes)
{
    const QString target = path(key.second, key.first);
    const QString folder = m_directory + u'/' + folderName(key.first);
    if (!bytes) {
        const int error = FileWrite::remove(target);
        // The account's folder goes with its last record.
        if (!error)
            QDir().rmdir(folder);
        return error;
    }
    // More than a read takes would be lost at the next start: not kept, and said.
    if (bytes->size() > FileRead::kLargest)
        return EFBIG;
    int error = FileWrite::makeOwnFolder(m_directory);
    if (!error)
        error = FileWrite::makeOwnFolder(folder);
    if (!error)
        error = FileWrite::replace(target, *bytes, false);
    // The older record must not outlive the newer one that could not be
    // written; and on a full disk its room may be just what the newer one needs.
    if (error && QFileInfo::exists(target) && FileWrite::remove(target) == 0)
        error = FileWrite::replace(target, *bytes, false);
    return error;
}

QSet<RecordStore::Key> RecordStore::waitingKeys() const { return {m_waiting.keyBegin(), m_waiting.keyEnd()}; }

void RecordStore::flush(const QSet<Key> &before)
{
    int failure = 0;
    // Removals first: each frees room the writes may need.
    for (const bool removals : {true, false}) {
        for (auto it = m_waiting.begin(); it != m_waiting.end();) {
            if (it->has_value() == removals) {
                ++it;
                continue;
            }
            if (const int error = store(it.key(), *it)) {
                failure = failure ? failure : error;
                ++it;
            } else {
                it = m_waiting.erase(it);
            }
        }
    }
    std::optional<FileWriteError> problem;
    // Named by the folder the user knows: the one that holds the settings and these records.
    if (failure)
        problem = FileWriteError::fromErrno(failure, QFileInfo(m_directory).absolutePath());
    const bool changed = problem != m_problem || before != waitingKeys();
    m_problem = std::move(problem);
    if (changed)
        Q_EMIT writesChanged();
}
