#pragma once

#include <QDateTime>
#include <QList>
#include <QNetworkCookie>
#include <QString>
#include <QUrl>

#include <optional>

// The web workspace's decisions that need no web engine: which hosts are the
// service's, which page opens first, where a navigation goes, which windows the
// page may open and what it may record. Kept apart from the view so each rule is
// a plain function of its inputs.
namespace WebRules {

inline constexpr const char *workspacePath = "/instagram";
inline constexpr const char *signInPath = "/signin?return_to=%2Finstagram";
inline constexpr const char *sessionCookieName = "__Host-zephyl_session";

// The service's web origin: the given one, else the bundle's usable
// "SORVANE_API_BASE_URL", else the built-in origin -- the client's rule
// (ServiceOrigin::resolve), so both speak to the same origin.
QUrl resolveBaseURL(const std::optional<QUrl> &given);

// Whether `host` is the service's: the base host itself, or the same host with or
// without "www.". Exact and case-sensitive, as hosts arrive already normalised.
bool isZephyl(const QUrl &baseURL, const QString &host);

// The service's session cookie for `host`, live or not.
bool isSessionCookie(const QNetworkCookie &cookie, const QString &host);
// A cookie that proves a signed-in session for `host`.
bool isLiveSession(const QNetworkCookie &cookie, const QString &host, const QDateTime &now);
// The page to open first: the workspace with a live session, else sign-in.
QString entryPath(const QList<QNetworkCookie> &cookies, const QString &host, const QDateTime &now);

// Paths of the service that open in the user's browser, never in the window.
bool belongsInBrowser(const QString &path);
// Paths that may open as a pop-up window (connecting an Instagram account).
bool isConnectPath(const QString &path);

// Whether an address of a scheme the view does not load itself may go to the
// desktop at all: never a local scheme (files, shares, the engine's own), never
// the application's own "sorvane".
bool mayHandOverScheme(const QString &scheme);

struct NavigationAction {
    QUrl url;
    bool mainFrame = true;
    // A link the user followed with a real click (not a script, not a redirect).
    bool userStarted = false;
};

enum class NavigationVerdict {
    allow,
    cancel,
    openEntry,     // cancel, then load the entry page
    openExternally // cancel, and hand the address to the desktop
};

NavigationVerdict decideNavigation(const QUrl &baseURL, const NavigationAction &action);

enum class PopupVerdict { none, connectWindow, openExternally };
PopupVerdict decidePopup(const QUrl &baseURL, const QUrl &url, bool userStarted);

// What a committed page of the service means for the workspace.
enum class CommitEffect { nothing, signIn, workspace };
CommitEffect commitEffect(const QUrl &baseURL, const QUrl &url);

// Media capture: the microphone alone, for the service's own pages.
bool grantsMediaCapture(const QUrl &baseURL, const QString &requestingHost, bool audio, bool video);

// Chromium's network error codes that are not failures of the page: a load
// cancelled by a newer one, or one the navigation policy stopped.
bool isIgnoredLoadFailure(int errorCode);

// The leading major number of the engine's version text ("102.0.5005.177" → 102);
// none when the text does not start with a number.
std::optional<int> engineMajor(const QString &version);
// Major versions older than this cannot run the service's page.
inline constexpr int minimumEngineMajor = 100;

// The engine's switches (QTWEBENGINE_CHROMIUM_FLAGS): the `given` ones with the
// engine features this application turns on added to the list the given
// switches enable, if any (a second list would replace it). A feature the
// given switches name already is left as they say. The engine's idle second
// zygote is left out.
QByteArray engineSwitches(const QByteArray &given);

} // namespace WebRules
