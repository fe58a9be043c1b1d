#pragma once

#include <QList>
#include <QNetworkCookie>
#include <QString>

// The cookies a web profile kept on disk from earlier runs. The engine's cookie
// store reports the cookies that change while it runs, never those it loads from
// disk, so the entry page reads the profile's own cookie file once, before the
// engine opens it. Names, hosts, paths and expiry only: values are never read.
namespace ProfileCookies {

// The cookies in `profileFolder`'s cookie file; none when it is missing, locked
// or of another shape.
QList<QNetworkCookie> read(const QString &profileFolder);

} // namespace ProfileCookies
