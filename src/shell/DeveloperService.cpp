#include "shell/DeveloperService.h"

#include <QFile>
#include <QTextStream>

namespace DeveloperService {

std::optional<QSslCertificate> trustedCertificate()
{
    const QString path = qEnvironmentVariable("ZEPHYL_STANDIN_CERTIFICATE");
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    const QList<QSslCertificate> certificates =
        file.open(QIODevice::ReadOnly) ? QSslCertificate::fromData(file.read(64 * 1024), QSsl::Pem) : QList<QSslCertificate>{};
    if (certificates.isEmpty()) {
        QTextStream(stderr) << "Zephyl Kitty: ZEPHYL_STANDIN_CERTIFICATE names no readable certificate; ignored"
                            << Qt::endl;
        return std::nullopt;
    }
    return certificates.first();
}

} // namespace DeveloperService
