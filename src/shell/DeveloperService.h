#pragma once

#include <QSslCertificate>

#include <optional>

// Running against the local stand-in service over https. A developer names the
// stand-in's certificate (PEM) in ZEPHYL_STANDIN_CERTIFICATE; it is then accepted
// besides the system's trust, and only for loopback hosts. Never set for the real
// service: without the variable nothing changes.
namespace DeveloperService {
std::optional<QSslCertificate> trustedCertificate();
}
