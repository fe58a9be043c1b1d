#pragma once

#include "Certificate.h"
#include "StandinServer.h"

namespace Standin {

// The small web app that behaves like the service's page: sign-in, the
// "/instagram" workspace, its composer and navigation, the session cookie, and
// buttons that post every message the application reads. A page on another
// origin (the other loopback name) is framed inside the workspace and posts too.
void addWebAppRoutes(Server &server);

// Serves every route over https with the stand-in's certificate (the session
// cookie needs a secure origin) and listens; the port, 0 on failure.
quint16 startSecure(Server &server, quint16 port = 0);
QString secureOrigin(const Server &server);

} // namespace Standin
