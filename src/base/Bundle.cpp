#include "base/Bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace {
const Bundle *g_shared = nullptr;

QString locateBundle()
{
    const QString fromEnv = qEnvironmentVariable("ZEPHYL_BUNDLE_DIR");
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    for (const QString &candidate : {appDir + QStringLiteral("/../share/zephyl-kitty"),
                                     appDir + QStringLiteral("/share/zephyl-kitty")}) {
        if (!appDir.isEmpty() && QFile::exists(candidate + QStringLiteral("/info.json")))
            return QDir::cleanPath(candidate);
    }
    return QStringLiteral(ZK_BUILD_BUNDLE_DIR);
}
} // namespace

Bundle::Bundle(QString root) : m_root(std::move(root))
{
    QString infoPath = qEnvironmentVariable("ZEPHYL_BUNDLE_INFO");
    if (infoPath.isEmpty())
        infoPath = m_root + QStringLiteral("/info.json");
    QFile file(infoPath);
    if (file.open(QIODevice::ReadOnly))
        m_info = QJsonDocument::fromJson(file.readAll()).object();
}

const Bundle &Bundle::shared()
{
    if (!g_shared) {
        static const Bundle bundle(locateBundle());
        g_shared = &bundle;
    }
    return *g_shared;
}

void Bundle::setShared(const Bundle *bundle) { g_shared = bundle; }

std::optional<QString> Bundle::info(const QString &key) const
{
    const auto v = m_info.value(key);
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

QString Bundle::version() const { return info(QStringLiteral("version")).value_or(QStringLiteral(ZK_VERSION)); }
