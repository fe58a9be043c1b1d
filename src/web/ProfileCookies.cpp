#include "web/ProfileCookies.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

namespace ProfileCookies {

namespace {
// The engine counts microseconds from 1601-01-01 UTC.
constexpr qint64 kEpochOffsetMs = 11644473600000LL;

QList<QNetworkCookie> readFrom(QSqlDatabase &db)
{
    QList<QNetworkCookie> cookies;
    QSqlQuery query(db);
    const bool withFlag = query.exec(QStringLiteral("SELECT host_key, name, path, expires_utc, has_expires FROM cookies"));
    if (!withFlag && !query.exec(QStringLiteral("SELECT host_key, name, path, expires_utc FROM cookies")))
        return cookies;
    while (query.next()) {
        QNetworkCookie cookie(query.value(1).toString().toUtf8());
        cookie.setDomain(query.value(0).toString());
        cookie.setPath(query.value(2).toString());
        const qint64 expires = query.value(3).toLongLong();
        const bool hasExpiry = withFlag ? query.value(4).toLongLong() != 0 : expires != 0;
        if (hasExpiry)
            cookie.setExpirationDate(QDateTime::fromMSecsSinceEpoch(expires / 1000 - kEpochOffsetMs, Qt::UTC));
        cookies.append(cookie);
    }
    return cookies;
}
} // namespace

QList<QNetworkCookie> read(const QString &profileFolder)
{
    const QString path = profileFolder + QStringLiteral("/Cookies");
    if (!QFileInfo(path).isFile() || !QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return {};
    const QString connection = QStringLiteral("zephyl-profile-cookies-") + QUuid::createUuid().toString(QUuid::Id128);
    QList<QNetworkCookie> cookies;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        // Never wait on the engine's lock, and never change its file.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=0"));
        if (db.open())
            cookies = readFrom(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return cookies;
}

} // namespace ProfileCookies
