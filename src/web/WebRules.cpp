#include "web/WebRules.h"

#include "services/ServiceOrigin.h"

#include <QByteArrayList>

#include <algorithm>
#include <array>

namespace WebRules {

QUrl resolveBaseURL(const std::optional<QUrl> &given) { return ServiceOrigin::resolve(given); }

bool isZephyl(const QUrl &baseURL, const QString &host)
{
    const QString base = baseURL.host();
    if (base.isEmpty() || host.isEmpty())
        return false;
    const QString www = QStringLiteral("www.");
    const QString bare = base.startsWith(www) ? base.mid(4) : base;
    return host == base || host == bare || host == www + bare;
}

bool isSessionCookie(const QNetworkCookie &cookie, const QString &host)
{
    if (cookie.name() != sessionCookieName)
        return false;
    QString domain = cookie.domain();
    while (domain.startsWith(u'.'))
        domain.remove(0, 1);
    while (domain.endsWith(u'.'))
        domain.chop(1);
    // The cookie's own host, or a host below it; a look-alike such as
    // "notsorvane.app" does not end with ".sorvane.app".
    return !host.isEmpty() && (cookie.domain() == host || domain == host || domain.endsWith(u'.' + host));
}

bool isLiveSession(const QNetworkCookie &cookie, const QString &host, const QDateTime &now)
{
    return isSessionCookie(cookie, host) && (cookie.isSessionCookie() || cookie.expirationDate() > now);
}

QString entryPath(const QList<QNetworkCookie> &cookies, const QString &host, const QDateTime &now)
{
    for (const QNetworkCookie &cookie : cookies) {
        if (isLiveSession(cookie, host, now))
            return QString::fromLatin1(workspacePath);
    }
    return QString::fromLatin1(signInPath);
}

bool belongsInBrowser(const QString &path)
{
    static const std::array<QString, 10> paths{
        QStringLiteral("/terms"), QStringLiteral("/privacy"), QStringLiteral("/support"),
        QStringLiteral("/data-deletion"), QStringLiteral("/guides"), QStringLiteral("/hub"),
        QStringLiteral("/mcp"), QStringLiteral("/console"), QStringLiteral("/crm"), QStringLiteral("/growth")};
    for (const QString &p : paths) {
        if (path == p || path.startsWith(p + u'/'))
            return true;
    }
    return false;
}

bool isConnectPath(const QString &path)
{
    return path.startsWith(QLatin1String("/api/social/connect")) ||
           path.startsWith(QLatin1String("/api/instagram/connect"));
}

namespace {
// Schemes that name something on this machine or inside the engine. They are
// never handed to the desktop: a page must not be able to open local files or
// programs through the user's file manager.
bool isLocalScheme(const QString &scheme)
{
    static const std::array<QString, 9> local{
        QStringLiteral("file"),        QStringLiteral("filesystem"), QStringLiteral("qrc"),
        QStringLiteral("chrome"),      QStringLiteral("view-source"), QStringLiteral("javascript"),
        QStringLiteral("smb"),         QStringLiteral("nfs"),         QStringLiteral("sftp")};
    for (const QString &s : local) {
        if (scheme == s)
            return true;
    }
    return false;
}
} // namespace

bool mayHandOverScheme(const QString &scheme)
{
    const QString s = scheme.toLower();
    return !s.isEmpty() && !isLocalScheme(s) && s != QLatin1String("sorvane") && s != QLatin1String("about") &&
           s != QLatin1String("blob") && s != QLatin1String("data") && s != QLatin1String("http") &&
           s != QLatin1String("https");
}

NavigationVerdict decideNavigation(const QUrl &baseURL, const NavigationAction &action)
{
    const QUrl &url = action.url;
    if (url.isEmpty() || url.scheme().isEmpty())
        return NavigationVerdict::allow;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        if (scheme == QLatin1String("about") || scheme == QLatin1String("blob") || scheme == QLatin1String("data"))
            return NavigationVerdict::allow;
        if (scheme == QLatin1String("sorvane"))
            return NavigationVerdict::cancel;
        // Other schemes (mail, telephone) go to the desktop only when the user
        // followed such a link in the main page; frames and scripts get nothing.
        if (action.mainFrame && action.userStarted && mayHandOverScheme(scheme))
            return NavigationVerdict::openExternally;
        return NavigationVerdict::cancel;
    }
    if (!action.mainFrame)
        return NavigationVerdict::allow;
    if (isZephyl(baseURL, url.host())) {
        const QString path = url.path();
        if (path.isEmpty() || path == QLatin1String("/"))
            return NavigationVerdict::openEntry;
        if (belongsInBrowser(path))
            return NavigationVerdict::openExternally;
        return NavigationVerdict::allow;
    }
    return action.userStarted ? NavigationVerdict::openExternally : NavigationVerdict::allow;
}

PopupVerdict decidePopup(const QUrl &baseURL, const QUrl &url, bool userStarted)
{
    if (url.isEmpty())
        return PopupVerdict::none;
    const QString scheme = url.scheme().toLower();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (web && isZephyl(baseURL, url.host()) && isConnectPath(url.path()))
        return PopupVerdict::connectWindow;
    if (web)
        return PopupVerdict::openExternally;
    // A window for another scheme is the same hand-over as a link to it.
    if (userStarted && mayHandOverScheme(scheme))
        return PopupVerdict::openExternally;
    return PopupVerdict::none;
}

CommitEffect commitEffect(const QUrl &baseURL, const QUrl &url)
{
    if (!isZephyl(baseURL, url.host()))
        return CommitEffect::nothing;
    const QString path = url.path();
    if (path.startsWith(QLatin1String("/signin")))
        return CommitEffect::signIn;
    if (path == QLatin1String(workspacePath))
        return CommitEffect::workspace;
    return CommitEffect::nothing;
}

bool grantsMediaCapture(const QUrl &baseURL, const QString &requestingHost, bool audio, bool video)
{
    return audio && !video && isZephyl(baseURL, requestingHost);
}

bool isIgnoredLoadFailure(int errorCode)
{
    // -3 ERR_ABORTED: replaced by a newer load; -20 ERR_BLOCKED_BY_CLIENT: our
    // own navigation policy said no.
    return errorCode == -3 || errorCode == -20;
}

std::optional<int> engineMajor(const QString &version)
{
    qsizetype n = 0;
    while (n < version.size() && version.at(n).isDigit() && version.at(n).unicode() < 128)
        ++n;
    if (n == 0 || n > 9)
        return std::nullopt;
    bool ok = false;
    const int major = version.left(n).toInt(&ok);
    return ok ? std::optional<int>(major) : std::nullopt;
}

QByteArray engineSwitches(const QByteArray &given)
{
    // A page keeps the text of its large scripts (the boot script with its
    // pictures, the service's own bundles) and compresses it some seconds
    // after a load; with zlib that takes the page's process about 70 ms at
    // every opening of the workspace, with snappy a tenth of that.
    static const QByteArrayList features{QByteArrayLiteral("UseSnappyForParkableStrings")};
    const QByteArray enable = QByteArrayLiteral("--enable-features=");
    QByteArrayList words = given.simplified().split(' ');
    words.removeAll(QByteArray());
    qsizetype list = -1;
    for (qsizetype i = 0; i < words.size(); ++i)
        if (words.at(i).startsWith(enable))
            list = i; // the last one counts
    for (const QByteArray &feature : features) {
        const bool named = std::any_of(words.cbegin(), words.cend(), [&](const QByteArray &word) {
            return word.startsWith("--") && word.contains('=') &&
                   word.mid(word.indexOf('=') + 1).split(',').contains(feature);
        });
        if (named)
            continue;
        if (list < 0) {
            words.append(enable + feature);
            list = words.size() - 1;
        } else {
            QByteArray &word = words[list];
            word += (word.size() > enable.size() ? "," : "") + feature;
        }
    }
    // Besides the sandboxed zygote the page's renderer comes from, the engine
    // keeps a second, unsandboxed one for helpers that set up their own
    // sandbox once forked. It sat idle: the page's audio helper is started
    // directly either way, and any such helper would be too, a little slower,
    // with the same sandbox. Without it the engine's processes take about
    // 50 MB less resident memory, 10 MB of it their own.
    const QByteArray noSpareZygote = QByteArrayLiteral("--no-unsandboxed-zygote");
    if (!words.contains(noSpareZygote))
        words.append(noSpareZygote);
    return words.join(' ');
}

} // namespace WebRules
