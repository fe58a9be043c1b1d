#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The service's address, as the client and the web workspace both take it: one
// rule, so the two can never end on different origins.
namespace ServiceOrigin {

// The built-in origin: https, the service's own host, no path.
QUrl builtIn();

// A configured address ("SORVANE_API_BASE_URL") when it can be the service's:
// it parses strictly, names a host, and its scheme is https -- or http for a
// loopback host (a local stand-in), so tokens never cross a network in the
// clear. Anything else, an address without a scheme ("//host") included, is none.
std::optional<QUrl> usable(const QString &configured);

// True when the URL's host is this machine ("localhost", 127.0.0.0/8, ::1):
// the only hosts where a local stand-in's own certificate may be trusted.
bool isLoopback(const QUrl &url);

// The address to use: the given one, else the bundle's usable
// "SORVANE_API_BASE_URL", else the built-in origin.
QUrl resolve(const std::optional<QUrl> &given = std::nullopt);

} // namespace ServiceOrigin
