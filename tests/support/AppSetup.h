#pragma once

// What a test that starts the real application writes before it does: the
// service address it talks to, and the workspace it shows.

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QString>

namespace zktest {

// An info file naming `origin` as the service, for ZEPHYL_BUNDLE_INFO; empty
// when it cannot be written.
inline QString writeServiceInfo(const QString &origin)
{
    const QString info = tempDir() + QStringLiteral("/info.json");
    QFile file(info);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QStringLiteral("{\"SORVANE_API_BASE_URL\": \"%1\", \"version\": \"dev\"}").arg(origin).toUtf8());
    return info;
}

// The workspace, chosen as a user does: the setting in this session's defaults.json.
inline bool chooseWorkspace(bool native)
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/zephyl-kitty");
    QDir().mkpath(config);
    QFile defaults(config + QStringLiteral("/defaults.json"));
    const QByteArray setting = QByteArray("{\"zephyl.mac.workspace.native\": ") + (native ? "true" : "false") + '}';
    return defaults.open(QIODevice::WriteOnly) && defaults.write(setting) > 0;
}

inline bool chooseNativeWorkspace() { return chooseWorkspace(true); }

} // namespace zktest
