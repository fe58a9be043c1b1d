#pragma once

namespace TlsLibrary {
// Called first in main, before anything opens a secure connection: OpenSSL then
// frees nothing at exit. A network thread let go just before the process ends
// (a QNetworkAccessManager deleted at quit) still runs OpenSSL's per-thread
// cleanup after Qt has stopped waiting for it; with OpenSSL's own cleanup at
// exit running beside it, the two freed the same state and the process ended in
// a double free. The system takes the memory back at exit anyway.
void leaveCleanupToTheSystem();
} // namespace TlsLibrary
