#pragma once

#include <QSslCertificate>
#include <QSslKey>

namespace Standin {

// The stand-in's one certificate, for 127.0.0.1 and localhost: the https web
// app and the https host (direct uploads, the Instagram authorization page)
// both present it. Self-signed, valid from 2020 to 2120; it protects nothing,
// and a client trusts it only when told to (a test adds it as a CA, the web
// workspace takes it as its trusted certificate).
QSslCertificate certificate();
QSslKey certificateKey();
// Makes this process's TLS trust the certificate from now on (tests, tools and
// benchmarks that talk to the stand-in over https).
void trustCertificate();

} // namespace Standin
