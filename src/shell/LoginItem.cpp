#include "shell/LoginItem.h"

#include "base/DefaultsStore.h"
#include "base/FileRead.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace {
// Exec= quoting of the desktop entry format: the path in double quotes with
// ", `, $ and \ escaped; the entry format then escapes the backslashes again.
QString quoteExec(const QString &path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    quoted.replace(QStringLiteral("%"), QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

QString configHome()
{
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!home.isEmpty() && QDir::isAbsolutePath(home))
        return home;
    return QDir::homePath() + QStringLiteral("/.config");
}

// Reads the keys of the [Desktop Entry] group. The entry may be kept elsewhere
// behind a link; a pipe or a device in its place (never ended, or a wait for a
// writer) or an entry larger than any is none.
QHash<QString, QString> readEntry(const QString &path)
{
    QHash<QString, QString> keys;
    const FileRead::Result file = FileRead::whole(path, 64 * 1024, true);
    if (file.kind != FileRead::Result::Kind::read)
        return keys;
    bool inGroup = false;
    for (const QString &read : QString::fromUtf8(file.bytes).split(u'\n')) {
        const QString line = read.trimmed();
        if (line.startsWith(u'[')) {
            inGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        const auto eq = line.indexOf(u'=');
        if (inGroup && eq > 0)
            keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return keys;
}
} // namespace

LoginItem::LoginItem(QString id, QString executable)
    : m_id(std::move(id)), m_executable(executable.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(executable))
{
}

QString LoginItem::entryPath() const { return configHome() + QStringLiteral("/autostart/") + m_id + QStringLiteral(".desktop"); }

QByteArray LoginItem::entryText(const QString &executable)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Zephyl Kitty\n"
                          "Exec=%1\n"
                          "Icon=zephyl-kitty\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(quoteExec(executable))
        .toUtf8();
}

bool LoginItem::registerItem()
{
    m_error.clear();
    const QString path = entryPath();
    for (const QChar c : m_executable) {
        if (c.category() == QChar::Other_Control) {
            m_error = QStringLiteral("the executable's path holds a control character");
            return false;
        }
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        m_error = QStringLiteral("cannot create the autostart folder");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entryText(m_executable)) < 0 || !file.commit()) {
        m_error = file.errorString();
        return false;
    }
    return true;
}

bool LoginItem::unregisterItem()
{
    m_error.clear();
    QFile file(entryPath());
    if (!file.exists() || file.remove())
        return true;
    m_error = file.errorString();
    return false;
}

LoginItem::Status LoginItem::status() const
{
    const QString path = entryPath();
    if (!QFileInfo::exists(path))
        return Status::notRegistered;
    const auto keys = readEntry(path);
    const auto off = [&keys](const QString &key, const QString &value) {
        return keys.value(key).compare(value, Qt::CaseInsensitive) == 0;
    };
    if (off(QStringLiteral("Hidden"), QStringLiteral("true")) ||
        off(QStringLiteral("X-GNOME-Autostart-enabled"), QStringLiteral("false")))
        return Status::notRegistered;
    QString exec = keys.value(QStringLiteral("Exec"));
    return exec == quoteExec(m_executable) ? Status::enabled : Status::notFound;
}

namespace Home {

bool isInstalled()
{
    const QString bundle = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/zephyl-kitty"));
#ifdef ZK_BUILD_BUNDLE_DIR
    if (bundle == QDir::cleanPath(QStringLiteral(ZK_BUILD_BUNDLE_DIR)))
        return false;
#endif
    return QFileInfo(bundle).isDir();
}

bool setOpensAtLogin(bool on, LoginItem &item)
{
    DefaultsStore::shared().setBool(QStringLiteral("zephyl.mac.login.settled"), true);
    const bool ok = on ? item.registerItem() : item.unregisterItem();
    if (!ok)
        QTextStream(stderr) << "Zephyl Kitty: login item " << (on ? "register" : "unregister")
                            << " failed: " << item.lastError() << Qt::endl;
    return ok;
}

bool setOpensAtLogin(bool on)
{
    LoginItem item;
    return setOpensAtLogin(on, item);
}

} // namespace Home
