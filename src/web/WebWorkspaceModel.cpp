#include "web/WebWorkspaceModel.h"

#include "base/DefaultsStore.h"
#include "design/L10n.h"
#include "design/ServiceDomain.h"
#include "web/PageMessage.h"
#include "web/WebRules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {
using namespace std::chrono_literals;

std::chrono::milliseconds seconds(double s)
{
    return std::chrono::milliseconds(std::llround(std::max(s, 0.0) * 1000.0));
}

const QString kGreetedAt = QStringLiteral("zephyl.mac.greetedAt");

// Without input for this long the user counts as away.
constexpr double kAwaySeconds = 180.0;
// How often the watcher looks while only polling can tell: for the first
// look, and while the user is away, for their return.
constexpr std::chrono::milliseconds kAttentionPoll = 2s;
// How long a publication reported under way keeps the page watching it.
constexpr std::chrono::seconds kPublicationWatch = 15min;
// A page sent back to its sign-in that is sent back again this soon, having come
// back with the same account and without showing its sign-in, still holds its session.
constexpr std::chrono::milliseconds kSentBackAgain = 5min;
} // namespace

WebWorkspaceModel::WebWorkspaceModel(std::optional<QUrl> baseURL, InWindowCatStage *stage, QObject *parent)
    : QObject(parent),
      m_baseURL(WebRules::resolveBaseURL(baseURL)),
      m_stage(stage ? stage : new InWindowCatStage),
      m_focusScript(bridgeCall(QStringLiteral("setFocus({active:false})")))
{
    m_stage->setParent(this);
    QPointer<WebWorkspaceModel> self(this);
    m_stage->pulse = [self](const QString &name) {
        if (self)
            self->runScript(bridgeCall(QStringLiteral("pulse(") + jsString(name) + u')'));
    };
    connect(m_stage, &InWindowCatStage::actorChanged, this, &WebWorkspaceModel::refreshCatInside);
    connect(m_stage, &InWindowCatStage::perchChanged, this, &WebWorkspaceModel::refreshCatInside);
    // The attention watcher's first look; from then on it wakes only when the
    // calm state can change (see armAttention). The view adds the application's
    // activation changes.
    m_attention = Clock::shared().after(kAttentionPoll, [this] { updateCalm(false); });
}

WebWorkspaceModel::~WebWorkspaceModel()
{
    stopTimers();
}

void WebWorkspaceModel::stopTimers()
{
    m_attention.reset();
    m_readyFallback.reset();
    m_loadDeadline.reset();
    m_momentTimer.reset();
    m_greetingTimer.reset();
}

QString WebWorkspaceModel::bridgeCall(const QString &call)
{
    return QStringLiteral("window.__zephylMac && window.__zephylMac.") + call;
}

QString WebWorkspaceModel::jsString(const QString &text)
{
    // A JSON string is a valid script literal: quotes, backslashes, line breaks
    // and the line separators are all escaped, so a value never ends the literal.
    QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    json = json.mid(1, json.size() - 2);
    QString literal = QString::fromUtf8(json);
    literal.replace(QChar(0x2028), QLatin1String("\\u2028"));
    literal.replace(QChar(0x2029), QLatin1String("\\u2029"));
    return literal;
}

bool WebWorkspaceModel::isZephyl(const QString &host) const { return WebRules::isZephyl(m_baseURL, host); }

// ---- Start and entry

void WebWorkspaceModel::start()
{
    if (m_started || hasPageURL())
        return;
    m_started = true;
    if (DefaultsStore::shared().boolValue(QStringLiteral("zephyl.mac.rehearse.oldWebKit")).value_or(false)) {
        setPhase(Phase::outdated());
        return;
    }
    if (const auto version = engineVersion()) {
        if (const auto major = WebRules::engineMajor(*version); major && *major < WebRules::minimumEngineMajor) {
            setPhase(Phase::outdated());
            return;
        }
    }
    openEntry();
}

void WebWorkspaceModel::openEntry()
{
    m_started = true;
    setPhase(Phase::loading());
    setWorkspaceReady(false);
    m_readyDue.reset();
    m_readyFallback.reset();
    m_loadDeadline.reset();
    m_stage->clear();
    const QString host = m_baseURL.host();
    const quint64 generation = ++m_entryGeneration;
    QPointer<WebWorkspaceModel> self(this);
    fetchCookies([self, host, generation](const QList<QNetworkCookie> &cookies) {
        // A newer entry request owns the page now.
        if (!self || generation != self->m_entryGeneration)
            return;
        self->open(WebRules::entryPath(cookies, host, Clock::shared().now()));
    });
}

void WebWorkspaceModel::retry()
{
    setPhase(Phase::loading());
    openEntry();
}

void WebWorkspaceModel::returnToSignIn()
{
    // The service takes the page's session and refuses only the application's
    // calls: another reload would bring the same account back, and so on without
    // end, while the application has signed it out. The page is signed out too.
    const QDateTime now = Clock::shared().now();
    const bool cameBack = m_account && m_account == m_sentBack && m_sentBackAt.msecsTo(now) < kSentBackAgain.count();
    m_sentBack = m_account;
    m_sentBackAt = now;
    setAccount(std::nullopt);
    QPointer<WebWorkspaceModel> self(this);
    preserveUnsentText([self, cameBack] {
        if (!self)
            return;
        if (!cameBack) {
            self->openEntry();
            return;
        }
        self->forgetSession([self] {
            if (self)
                self->openEntry();
        });
    });
}

void WebWorkspaceModel::open(const QString &path)
{
    const QUrl url = m_baseURL.resolved(QUrl(path));
    if (!url.isValid() || path.isEmpty())
        return;
    loadURL(url);
    // The engine itself waits for a silent server without end.
    m_loadDeadline = Clock::shared().after(60s, [this] {
        m_loadDeadline.reset();
        stopLoading();
        setPhase(Phase::failed(L10n::t(ZEPHYL_SERVICE_DOMAIN " took too long to answer.")));
    });
}

// ---- Lines and poses

bool WebWorkspaceModel::say(const QString &text, double secs)
{
    if (m_phase.kind != Phase::Kind::workspace || !m_workspaceReady)
        return false;
    if (m_stage->say(text, secs))
        return true;
    if (m_moment) {
        showMoment(text, std::nullopt);
        return true;
    }
    return false;
}

bool WebWorkspaceModel::showMoment(const QString &text, std::optional<InWindowCatStage::Look> look)
{
    if (m_phase.kind != Phase::Kind::workspace)
        return false;
    if (m_stage->occupied() && m_stage->say(text, 5.5))
        return true;
    if (look && m_workspaceReady) {
        m_stage->show(*look, pageSize(), 5.0);
        m_stage->say(text, 5.5);
        return true;
    }
    m_momentTimer.reset();
    const Moment moment{QUuid::createUuid(), text};
    setMoment(moment);
    m_momentTimer = Clock::shared().after(5s, [this, moment] {
        if (m_moment == moment)
            setMoment(std::nullopt);
    });
    return true;
}

void WebWorkspaceModel::show(Surface surface)
{
    if (m_phase.kind != Phase::Kind::workspace)
        return;
    const char *name = "overview";
    switch (surface) {
    case Surface::summary: name = "overview"; break;
    case Surface::plan: name = "planner"; break;
    case Surface::assistant: name = "assistant"; break;
    case Surface::grid: name = "studio"; break;
    case Surface::profile: name = "profile"; break;
    }
    runScript(screenScript(QLatin1String(name)));
}

QString WebWorkspaceModel::screenScript(const QString &screen)
{
    static const QStringList screens{QStringLiteral("overview"), QStringLiteral("planner"), QStringLiteral("assistant"),
                                     QStringLiteral("studio"), QStringLiteral("profile")};
    if (!screens.contains(screen))
        return {};
    return QStringLiteral("document.querySelector('[data-navfor=\"") + screen + QStringLiteral("\"]')?.click()");
}

bool WebWorkspaceModel::watchingPublication() const
{
    const QDateTime now = Clock::shared().now();
    return std::any_of(m_publicationsUnderWay.cbegin(), m_publicationsUnderWay.cend(),
                       [&](const QDateTime &reported) { return reported.secsTo(now) < kPublicationWatch.count(); });
}

void WebWorkspaceModel::peek(InWindowCatStage::Look look, double secs)
{
    if (m_phase.kind == Phase::Kind::workspace && m_workspaceReady)
        m_stage->show(look, pageSize(), secs);
}

void WebWorkspaceModel::updateFocus(bool active, bool paused, const QString &display, int minutes)
{
    m_focusScript = bridgeCall(QStringLiteral("setFocus({active:") + QLatin1String(active ? "true" : "false") +
                               QStringLiteral(",paused:") + QLatin1String(paused ? "true" : "false") +
                               QStringLiteral(",display:") + jsString(display) + QStringLiteral(",minutes:") +
                               QString::number(minutes) + QStringLiteral("})"));
    if (m_phase.kind == Phase::Kind::workspace)
        runScript(m_focusScript);
}

void WebWorkspaceModel::preserveUnsentText(std::function<void()> completion)
{
    runScript(bridgeCall(QStringLiteral("saveChatDraft()")), [completion = std::move(completion)] {
        if (completion)
            completion();
    });
}

void WebWorkspaceModel::updateCalm(bool force)
{
    const double idle = secondsSinceInput();
    const bool active = applicationActive();
    const bool calm = idle > kAwaySeconds || !active;
    armAttention(idle, active);
    if (!force && m_calm == calm)
        return;
    m_calm = calm;
    runScript(bridgeCall(QStringLiteral("setCalm(") + QLatin1String(calm ? "true" : "false") + u')'));
}

void WebWorkspaceModel::armAttention(double idle, bool active)
{
    // A page at rest costs nothing: no timer runs while the calm state cannot
    // change by itself. In the background, only the application's activation
    // changes it, and that arrives as an event. In front, the idle time grows
    // until it passes the limit, and that moment is known in advance: one look
    // then (input in between only moves it later). Only the user's return
    // after an absence has no event of its own, so that is polled.
    const auto look = [this] { updateCalm(false); };
    if (!active)
        m_attention.reset();
    else if (idle > kAwaySeconds)
        m_attention = Clock::shared().after(kAttentionPoll, look);
    else
        m_attention = Clock::shared().after(seconds(kAwaySeconds - idle) + 100ms, look);
}

bool WebWorkspaceModel::greetingDue(const QDateTime &now)
{
    DefaultsStore &store = DefaultsStore::shared();
    const double last = store.number(kGreetedAt).value_or(0.0);
    const double nowSeconds = now.toMSecsSinceEpoch() / 1000.0;
    if (last != 0.0 && nowSeconds - last <= 21600.0)
        return false;
    store.setNumber(kGreetedAt, nowSeconds);
    return true;
}

// ---- Page messages

void WebWorkspaceModel::receive(const QJsonValue &body, const QString &senderHost, const QString &page)
{
    if (!isZephyl(senderHost)) {
        emit messageRefused(senderHost);
        return;
    }
    const auto message = PageMessage::parse(body);
    if (!message)
        return;
    std::visit(
        [this, &page](const auto &m) {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, PageMessage::Session>) {
                handleSession(m, page);
            } else if constexpr (std::is_same_v<T, PageMessage::State>) {
                handleState(m);
            } else if constexpr (std::is_same_v<T, PageMessage::Focus>) {
                if (onFocusToggle)
                    onFocusToggle();
            } else if constexpr (std::is_same_v<T, PageMessage::Scene>) {
                play(m);
            } else if constexpr (std::is_same_v<T, PageMessage::Mood>) {
                m_stage->show(m.look, pageSize(), 2.6);
            } else if constexpr (std::is_same_v<T, PageMessage::Publication>) {
                handlePublication(m);
            }
        },
        *message);
}

void WebWorkspaceModel::handleSession(const PageMessage::Session &m, const QString &page)
{
    std::optional<Account> reported;
    if (m.signedIn)
        reported = Account{m.email, m.displayName};
    if (reported != m_account) {
        // Nobody, from the very page that reported the account: it signed out. A
        // page loading anew reports nobody for a moment too, before its account.
        m_signedOutInPage = !reported && !page.isEmpty() && page == m_accountPage;
        setAccount(reported);
        if (onAccountChange)
            onAccountChange(reported);
    }
    m_accountPage = m.signedIn ? page : QString();
    if (m.path.startsWith(QLatin1String("/signin"))) {
        setPhase(Phase::signIn());
        return;
    }
    if (!m.signedIn) {
        if (m.path == QLatin1String("/instagram") || m.path == QLatin1String("/"))
            setPhase(Phase::loading());
        return;
    }
    setPhase(Phase::workspace());
    runScript(m_focusScript);
    updateCalm(true);

    if (m_greeted || !greetingDue(Clock::shared().now()))
        return;
    m_greeted = true;
    const QStringList words = m.displayName.split(u' ', Qt::SkipEmptyParts);
    const QString line = words.isEmpty() ? L10n::t("Welcome back.")
                                         : L10n::format(L10n::t("Welcome back, %@."), {words.first()});
    m_greetingTimer = Clock::shared().after(2500ms, [this, line] { showMoment(line, std::nullopt); });
}

void WebWorkspaceModel::handleState(const PageMessage::State &m)
{
    if (m.view && !m.view->isEmpty())
        markWorkspaceReady(0.7);
    if (m.view && *m.view != m_screen) {
        m_screen = *m.view;
        emit screenChanged();
    }
    if (m.composerOpen != m_composerOpen) {
        m_composerOpen = m.composerOpen;
        emit composerOpenChanged();
    }
    if (m.theme) {
        if (*m.theme == QLatin1String("dark") && onThemeChange)
            onThemeChange(AppTheme::dark);
        else if (*m.theme == QLatin1String("light") && onThemeChange)
            onThemeChange(AppTheme::light);
    }
    if (m.lang) {
        if (const auto language = AppLanguages::fromTag(*m.lang); language && *language != AppLanguage::system) {
            if (onLanguageChange)
                onLanguageChange(*language);
        }
    }
}

void WebWorkspaceModel::handlePublication(const PageMessage::Publication &m)
{
    const auto seen = m_seenPublications.constFind(m.id);
    if (seen != m_seenPublications.constEnd() && *seen == m.status)
        return;
    m_seenPublications.insert(m.id, m.status);
    static const QStringList underWay{QStringLiteral("creating"),   QStringLiteral("reconciling"),
                                      QStringLiteral("waiting"),    QStringLiteral("publishing"),
                                      QStringLiteral("processing"), QStringLiteral("uploading")};
    if (underWay.contains(m.status))
        m_publicationsUnderWay.insert(m.id, Clock::shared().now());
    else
        m_publicationsUnderWay.remove(m.id);
    if (onPublication)
        onPublication(PublicationEvent{m.id, m.status, m.platformURL, m.scheduledAt});
}

void WebWorkspaceModel::play(const PageMessage::Scene &scene)
{
    using Name = PageMessage::SceneName;
    if (m_phase.kind != Phase::Kind::workspace)
        return;
    const QSizeF size = pageSize();
    const QDateTime now = Clock::shared().now();
    switch (scene.name) {
    case Name::composerOpen:
        if (!demoing && !demoCarryUntil) {
            if (m_lastComposerLeap && m_lastComposerLeap->msecsTo(now) < 120'000) {
                m_composerSceneShown = false;
                return;
            }
        }
        m_lastComposerLeap = now;
        m_composerSceneShown = true;
        m_stage->composerOpened(scene.from, scene.sheet, size);
        return;
    case Name::composerSheet:
        m_stage->sheetMoved(scene.sheet);
        return;
    case Name::assistantOpen:
        if (m_lastAssistantVisit && m_lastAssistantVisit->msecsTo(now) < 600'000)
            return;
        m_lastAssistantVisit = now;
        m_stage->visit(scene.from, scene.target, size);
        return;
    case Name::composerClose: {
        QString outcome = scene.outcome.value_or(QStringLiteral("cancelled"));
        if (demoCarryUntil && now < *demoCarryUntil)
            outcome = QStringLiteral("plan");
        demoCarryUntil.reset();
        if (!m_composerSceneShown && outcome == QLatin1String("cancelled"))
            return;
        m_composerSceneShown = false;
        m_stage->composerClosed(outcome, scene.plan, scene.sheet, size);
        return;
    }
    }
}

void WebWorkspaceModel::markWorkspaceReady(double secs)
{
    if (m_workspaceReady)
        return;
    const QDateTime due = Clock::shared().now().addMSecs(seconds(secs).count());
    if (m_readyDue && *m_readyDue <= due)
        return;
    m_readyDue = due;
    m_readyFallback = Clock::shared().after(seconds(secs), [this] { setWorkspaceReady(true); });
}

// ---- What the view reports

void WebWorkspaceModel::pageCommitted(const QUrl &url)
{
    m_loadDeadline.reset();
    switch (WebRules::commitEffect(m_baseURL, url)) {
    case WebRules::CommitEffect::signIn:
        setPhase(Phase::signIn());
        setWorkspaceReady(true);
        break;
    case WebRules::CommitEffect::workspace:
        setPhase(Phase::workspace());
        if (!m_workspaceReady)
            markWorkspaceReady(6.0);
        break;
    case WebRules::CommitEffect::nothing:
        break;
    }
}

void WebWorkspaceModel::pageLoaded() { m_loadDeadline.reset(); }

void WebWorkspaceModel::loadFailed(int errorCode, const QString &description)
{
    if (WebRules::isIgnoredLoadFailure(errorCode))
        return;
    m_loadDeadline.reset();
    setPhase(Phase::failed(description));
}

void WebWorkspaceModel::contentProcessEnded()
{
    setPhase(Phase::loading());
    openEntry();
}

// ---- State changes

void WebWorkspaceModel::setPhase(const Phase &phase)
{
    if (phase.kind == Phase::Kind::signIn)
        m_sentBack.reset(); // the page holds no session now
    if (m_phase == phase)
        return;
    m_phase = phase;
    emit phaseChanged();
}

void WebWorkspaceModel::setWorkspaceReady(bool ready)
{
    if (m_workspaceReady == ready)
        return;
    m_workspaceReady = ready;
    emit workspaceReadyChanged();
}

void WebWorkspaceModel::setAccount(const std::optional<Account> &account)
{
    m_account = account;
    emit accountChanged();
}

void WebWorkspaceModel::setMoment(std::optional<Moment> moment)
{
    if (m_moment == moment)
        return;
    m_moment = std::move(moment);
    emit momentChanged();
    refreshCatInside();
}

void WebWorkspaceModel::refreshCatInside()
{
    const bool inside = m_stage->actor().has_value() || m_stage->perch().has_value() || m_moment.has_value();
    if (inside == m_catInside)
        return;
    m_catInside = inside;
    emit catInsideChanged(inside);
}
