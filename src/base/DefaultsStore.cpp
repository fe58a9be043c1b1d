#include "base/DefaultsStore.h"

#include "base/FileRead.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>

#include <cmath>

namespace {
DefaultsStore *g_shared = nullptr;
}

DefaultsStore::DefaultsStore(QString filePath, QObject *parent) : QObject(parent), m_path(std::move(filePath))
{
    load();
}

DefaultsStore &DefaultsStore::shared()
{
    if (!g_shared) {
        static DefaultsStore store(defaultPath());
        g_shared = &store;
    }
    return *g_shared;
}

void DefaultsStore::setShared(DefaultsStore *store) { g_shared = store; }

QString DefaultsStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/zephyl-kitty/defaults.json");
}

void DefaultsStore::load()
{
    if (m_path.isEmpty())
        return;
    // A settings file kept elsewhere behind a link is still read; a device or
    // a pipe, or a file larger than any settings, is set aside like a damaged one.
    const FileRead::Result file = FileRead::whole(m_path, FileRead::kLargest, true);
    if (file.kind == FileRead::Result::Kind::absent)
        return;
    QJsonParseError error{};
    const auto doc = QJsonDocument::fromJson(file.bytes, &error);
    if (file.kind == FileRead::Result::Kind::read && error.error == QJsonParseError::NoError && doc.isObject()) {
        m_values = doc.object();
        return;
    }
    // Keep the damaged file for the user rather than overwriting it, and start clean.
    const QString stem = m_path + QStringLiteral(".corrupt-") + QString::number(QDateTime::currentMSecsSinceEpoch());
    m_setAside = stem;
    for (int n = 1; QFile::exists(m_setAside); ++n)
        m_setAside = stem + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(m_path, m_setAside))
        m_setAside.clear();
    qWarning("The settings file could not be read; the settings start from their defaults.");
}

void DefaultsStore::write()
{
    if (m_path.isEmpty())
        return;
    const QString folder = QFileInfo(m_path).absolutePath();
    int error = FileWrite::makeFolder(folder);
    if (!error)
        error = FileWrite::replace(m_path, QJsonDocument(m_values).toJson(QJsonDocument::Indented), true);
    std::optional<FileWriteError> problem;
    if (error)
        problem = FileWriteError::fromErrno(error, folder);
    if (problem == m_writeProblem)
        return;
    m_writeProblem = std::move(problem);
    emit writeProblemChanged();
}

void DefaultsStore::writeAgain()
{
    if (m_writeProblem)
        write();
}

std::optional<bool> DefaultsStore::boolValue(const QString &key) const
{
    const auto v = m_values.value(key);
    return v.isBool() ? std::optional(v.toBool()) : std::nullopt;
}

std::optional<qint64> DefaultsStore::integer(const QString &key) const
{
    const auto v = m_values.value(key);
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d || std::fabs(d) > 9.007199254740992e15)
        return std::nullopt;
    return static_cast<qint64>(d);
}

std::optional<double> DefaultsStore::number(const QString &key) const
{
    const auto v = m_values.value(key);
    return v.isDouble() ? std::optional(v.toDouble()) : std::nullopt;
}

std::optional<QString> DefaultsStore::string(const QString &key) const
{
    const auto v = m_values.value(key);
    return v.isString() ? std::optional(v.toString()) : std::nullopt;
}

std::optional<QJsonObject> DefaultsStore::object(const QString &key) const
{
    const auto v = m_values.value(key);
    if (!v.isObject() || v.toObject().contains(QStringLiteral("$data")))
        return std::nullopt;
    return v.toObject();
}

std::optional<QJsonArray> DefaultsStore::array(const QString &key) const
{
    const auto v = m_values.value(key);
    return v.isArray() ? std::optional(v.toArray()) : std::nullopt;
}

std::optional<QByteArray> DefaultsStore::data(const QString &key) const
{
    const auto v = m_values.value(key);
    if (!v.isObject())
        return std::nullopt;
    const auto obj = v.toObject();
    const auto encoded = obj.value(QStringLiteral("$data"));
    if (obj.size() != 1 || !encoded.isString())
        return std::nullopt;
    auto result = QByteArray::fromBase64Encoding(encoded.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return *result;
}

void DefaultsStore::set(const QString &key, const QJsonValue &value)
{
    if (value.isUndefined() || value.isNull()) {
        remove(key);
        return;
    }
    if (m_values.value(key) == value)
        return;
    m_values.insert(key, value);
    write();
    emit changed(key);
}

void DefaultsStore::setData(const QString &key, const QByteArray &value)
{
    set(key, QJsonObject{{QStringLiteral("$data"), QString::fromLatin1(value.toBase64())}});
}

void DefaultsStore::remove(const QString &key)
{
    if (!m_values.contains(key))
        return;
    m_values.remove(key);
    write();
    emit changed(key);
}
