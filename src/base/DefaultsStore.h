#pragma once

#include "base/FileWrite.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>

#include <optional>

// The user's settings and small records: one JSON object in one file, written
// atomically on every change. Reads are strict about types: a value stored with
// another type than asked for reads as absent, as if it had never been written.
class DefaultsStore : public QObject {
    Q_OBJECT
public:
    // An empty path keeps everything in memory (tests).
    explicit DefaultsStore(QString filePath = {}, QObject *parent = nullptr);

    // The store of the running application: $XDG_CONFIG_HOME/zephyl-kitty/defaults.json.
    static DefaultsStore &shared();
    static void setShared(DefaultsStore *store);
    static QString defaultPath();

    std::optional<bool> boolValue(const QString &key) const;
    // Whole numbers only: 2.5 does not read as an integer.
    std::optional<qint64> integer(const QString &key) const;
    std::optional<double> number(const QString &key) const;
    std::optional<QString> string(const QString &key) const;
    std::optional<QJsonObject> object(const QString &key) const;
    std::optional<QJsonArray> array(const QString &key) const;
    // Binary values are kept as {"$data": base64}.
    std::optional<QByteArray> data(const QString &key) const;
    bool contains(const QString &key) const { return m_values.contains(key); }

    void set(const QString &key, const QJsonValue &value);
    void setBool(const QString &key, bool value) { set(key, value); }
    void setInteger(const QString &key, qint64 value) { set(key, QJsonValue(value)); }
    void setNumber(const QString &key, double value) { set(key, value); }
    void setString(const QString &key, const QString &value) { set(key, value); }
    void setData(const QString &key, const QByteArray &value);
    void remove(const QString &key);

    QString filePath() const { return m_path; }
    // Where a corrupt file was moved at load, if it was.
    QString setAsidePath() const { return m_setAside; }
    // False when the last write failed; the values stay in memory, and the
    // next change (or writeAgain) writes them all.
    bool lastWriteSucceeded() const { return !m_writeProblem; }
    // Why the last write failed; none after one that succeeded.
    const std::optional<FileWriteError> &writeProblem() const { return m_writeProblem; }
    // Writes the values again when the last write failed.
    void writeAgain();

signals:
    void changed(const QString &key);
    void writeProblemChanged();

private:
    void load();
    void write();

    QString m_path;
    QString m_setAside;
    QJsonObject m_values;
    std::optional<FileWriteError> m_writeProblem;
};
