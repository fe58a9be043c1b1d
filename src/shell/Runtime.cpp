#include "shell/Runtime.h"

#include "app/AppModel.h"
#include "app/CareTimer.h"
#include "app/ServiceClient.h"
#include "ask/AskPanelController.h"
#include "design/FloatingPanel.h"
#include "ask/GlobalHotKey.h"
#include "base/DefaultsStore.h"
#include "companion/CompanionController.h"
#include "companion/CompanionDesktop.h"
#include "companion/CompanionLibrary.h"
#include "companion/CompanionPanel.h"
#include "companion/FilmedPainter.h"
#include "design/AppearanceService.h"
#include "design/L10n.h"
#include "design/QtWords.h"
#include "design/WindowTitles.h"
#include "platform/X11.h"
#include "shell/FocusTimerController.h"
#include "services/ZephylAPI.h"
#include "web/WebWorkspace.h"
#include "shell/CompanionLogin.h"
#include "shell/StatusMenuController.h"
#include "shell/Updates.h"
#include "workspace/CompanionSettingsWindow.h"
#include "workspace/WorkspaceWindowController.h"

#include <QApplication>
#include <QMenuBar>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>
#include <QWindow>

namespace {
Runtime *g_shared = nullptr;

// The frame of a top-level widget in the cat's y-up points.
std::optional<QRectF> catFrameOf(const QWidget *window, const CompanionDesktop &desktop)
{
    if (!window)
        return std::nullopt;
    return desktop.toCat(QRectF(window->frameGeometry()));
}
} // namespace

Runtime *Runtime::shared() { return g_shared; }
void Runtime::setShared(Runtime *runtime) { g_shared = runtime; }

Runtime::Runtime(Parts parts, QObject *parent)
    : QObject(parent),
      m_model(parts.model ? parts.model : &AppModel::shared()),
      m_clock(parts.clock ? parts.clock : &Clock::shared()),
      m_parts(std::move(parts))
{
    // The controller keeps its own desktop; the coordinator keeps one for its
    // conversions of window frames.
    m_companion = std::make_unique<CompanionController>(*m_clock, std::move(m_parts.desktop));
    auto filmed = std::make_shared<FilmedPainter>();
    filmed->repaint = [cat = m_companion.get()] {
        for (CompanionPanel *panel : cat->panels())
            panel->repaintFigure();
    };
    m_companion->setFilmedPainter(filmed);
    if (m_model->usesWebWorkspace()) {
        WebWorkspace::Options options;
        if (!m_parts.webStorageName.isEmpty())
            options.storageName = m_parts.webStorageName;
        options.trustedCertificate = m_parts.webTrustedCertificate;
        m_web = std::make_unique<WebWorkspace>(m_parts.webBaseURL, options);
    }
    m_workspace = std::make_unique<WorkspaceWindowController>(&m_model->defaults());
    m_tour = std::make_unique<GuidedTour>(static_cast<TourHost &>(*this), m_clock);
}

Runtime::~Runtime()
{
    if (g_shared == this)
        g_shared = nullptr;
    // Its parts go one by one below: what they signal meanwhile finds no
    // coordinator to act on it.
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(m_model, nullptr, this, nullptr);
    if (m_web)
        disconnect(m_web.get(), nullptr, this, nullptr);
    m_tour.reset();
    m_careTimer.reset();
    m_comingBack.reset();
    m_greeting.reset();
    m_coverWatch.reset();
    m_model->setEvents(nullptr);
    m_model->anchorWindow = [] { return static_cast<QWidget *>(nullptr); };
    // The updater's hooks stay: without the coordinator they answer "busy", so
    // nothing restarts under a quitting application, and keep no window.
    m_hotKey.reset();
    X11::unwatchTrayHost(m_trayWatch);
    m_statusMenu.reset();
    m_ask.reset();
    m_timer.reset();
    m_companionSettings.reset();
    m_companion->stop();
    // The window holds the web view; the web workspace takes its view back first.
    if (QWidget *window = m_workspace->window()) {
        if (m_web && m_web->webView())
            m_web->webView()->setParent(nullptr);
        delete window;
    }
    m_workspace.reset();
    if (m_web)
        m_model->api().useWebSession(nullptr);
    m_web.reset();
}

AskPanelController &Runtime::ask()
{
    if (!m_ask)
        m_ask = std::make_unique<AskPanelController>(*m_model);
    return *m_ask;
}

FocusTimerController &Runtime::timer()
{
    if (!m_timer)
        m_timer = std::make_unique<FocusTimerController>(*m_model);
    return *m_timer;
}

CompanionSettingsWindowController &Runtime::companionSettings()
{
    if (!m_companionSettings)
        m_companionSettings = std::make_unique<CompanionSettingsWindowController>(*m_model, companionLoginSwitch());
    return *m_companionSettings;
}

// ---- Start

void Runtime::start()
{
    if (m_started)
        return;
    m_started = true;
    applyTheme();
    wire();
    if (m_parts.trayIcon) {
        m_statusMenu = std::make_unique<StatusMenuController>([this] { return menuState(); },
                                                              [this](StatusMenu::Command c) { menuCommand(c); });
        // The workspace window, shown at start, carries the same commands where
        // no tray host runs; one that goes away later must not leave them closed.
        QPointer<Runtime> self(this);
        m_trayWatch = X11::watchTrayHost([self] {
            if (self)
                self->followTrayHost();
        });
    }
    if (m_parts.hotKey) {
        QPointer<Runtime> self(this);
        m_hotKey = std::make_unique<GlobalHotKey>([self] {
            if (self)
                self->toggleAsk();
        });
    }
    applyCompanionPreferences();
    if (m_model->companionEnabled())
        m_companion->start();
    installUpdateHooks();
    if (m_parts.updates)
        m_parts.updates->start();
    if (m_web) {
        // The service client's authenticated calls run as fetches in the page.
        m_model->api().useWebSession(m_web.get());
        m_web->start();
    }
    showWindowAndActivate();
    QPointer<Runtime> self(this);
    [](QPointer<Runtime> self) -> QCoro::Task<> {
        if (self)
            co_await self->m_model->bootstrap();
    }(self);
    startCare();
    greetAfterMoving();
    // Met while the state was read (a disk that takes no writes), before anything could say it.
    if (m_web)
        tellNotice();
}

void Runtime::wire()
{
    QPointer<Runtime> self(this);
    m_model->setEvents([self](const AppEvent &event) {
        if (self)
            self->handle(event);
    });
    m_model->anchorWindow = [self]() -> QWidget * { return self ? self->m_workspace->window() : nullptr; };

    CompanionController &cat = *m_companion;
    cat.onClick = [self] {
        if (self)
            self->ask().show(true);
    };
    cat.homeWindow = [self]() -> QWidget * { return self ? self->m_workspace->window() : nullptr; };
    cat.onArrived = [self](const CompanionGoal &goal) {
        if (self && goal.kind == CompanionGoal::Kind::visit)
            self->m_model->tuckVisitArrived(goal);
    };

    AskPanelController &panel = ask();
    panel.onVisibilityChange = [self](bool visible) {
        if (!self)
            return;
        self->setPerch(visible ? self->ask().ledge() : std::nullopt);
        if (!visible) {
            self->m_model->setAskReply(std::nullopt);
            self->m_model->setAskQuestion(std::nullopt);
        }
    };
    panel.onFrameChange = [self](const QRectF &) {
        if (self && self->ask().isVisible())
            self->setPerch(self->ask().ledge());
    };
    // The panel's own activation can still be on its way to the window manager
    // when a command that opens a screen puts it away: a keyboard that lands on
    // the hidden panel goes on to the workspace window now in front. A panel
    // the window manager mapped that late is taken off the screen again.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow *focus) {
        QWidget *window = m_workspace->window();
        if (!focus || !m_ask || m_ask->isVisible() || focus != m_ask->panel()->windowHandle())
            return;
        if (!m_ask->panel()->isVisible() && X11::available())
            X11::withdraw(unsigned(m_ask->panel()->winId()));
        if (window && window->isVisible())
            window->activateWindow();
    });
    timer().onFrameChange = [self](const QRectF &frame) {
        if (self && self->timer().isVisible())
            self->setNest(frame);
    };

    // Windows made after a change of language, and every one that does not set
    // its own, take the new language's direction; Qt's own words and the
    // windows' titles follow too.
    connect(m_model, &AppModel::languageChanged, this, [] {
        QApplication::setLayoutDirection(L10n::layoutDirection());
        QtWords::follow();
        WindowTitles::follow();
    });

    if (m_web)
        wireWeb();
    // The window's coming into and out of view moves the desktop cat aside or back.
    m_workspace->onViewChange = [self] {
        if (self)
            self->refreshAside();
    };
    m_workspace->makeMenuBar = [self](QWidget *window) -> QMenuBar * {
        if (!self)
            return nullptr;
        return StatusMenuController::makeMenuBar(
            window, [self] { return self ? self->menuState() : StatusMenu::State{}; },
            [self](StatusMenu::Command c) {
                if (self)
                    self->menuCommand(c);
            });
    };
}

void Runtime::wireWeb()
{
    QPointer<Runtime> self(this);
    WebWorkspace &web = *m_web;
    // A page at its sign-in that reports nobody holds no session; a page that
    // cannot load leaves the account it last reported signed in, unconfirmed.
    const auto followPage = [self] {
        if (!self)
            return;
        const auto kind = self->m_web->phase().kind;
        if (kind == WebWorkspaceModel::Phase::Kind::failed)
            self->m_model->webPageUnavailable();
        else if (kind == WebWorkspaceModel::Phase::Kind::signIn && !self->m_web->account())
            self->m_model->webSignInShown();
    };
    web.onAccountChange = [self, followPage](const std::optional<WebWorkspaceModel::Account> &account) {
        if (!self)
            return;
        std::optional<AppModel::WebAccount> value;
        if (account)
            value = AppModel::WebAccount{account->email, account->displayName};
        self->m_model->webAccountChanged(value, !account && self->m_web->signedOutInPage());
        followPage();
    };
    connect(&web, &WebWorkspaceModel::phaseChanged, this, followPage);
    web.onThemeChange = [self](AppTheme theme) {
        if (self && theme != self->m_model->theme())
            self->m_model->setTheme(theme);
    };
    web.onLanguageChange = [self](AppLanguage language) {
        if (self && language != self->m_model->language())
            self->m_model->setLanguage(language);
    };
    web.onPublication = [self](const WebWorkspaceModel::PublicationEvent &event) {
        if (self)
            self->reactToPublication(event.status);
    };
    // The page's session is the one the service ended: the page goes back to its sign-in.
    connect(m_model, &AppModel::sessionExpiring, &web, &WebWorkspaceModel::returnToSignIn);
    connect(m_model, &AppModel::noticeChanged, this, &Runtime::tellNotice);
    web.onFocusToggle = [self] {
        if (!self)
            return;
        if (self->m_model->focus().phase.kind == FocusSession::Phase::Kind::idle)
            self->m_model->startFocus();
        else
            self->m_model->stopFocus();
    };
    connect(&web, &WebWorkspaceModel::catInsideChanged, this, [this](bool inside) {
        m_catIsInside = inside;
        refreshAside();
    });
    // The page shows the focus round too, in both workspaces' windows.
    auto focusToPage = [this] {
        const FocusSession &focus = m_model->focus();
        m_web->updateFocus(focus.isRunning(), focus.phase.kind == FocusSession::Phase::Kind::paused, focus.display(),
                           m_model->focusMinutes());
    };
    connect(m_model, &AppModel::focusChanged, this, focusToPage);
    connect(m_model, &AppModel::focusMinutesChanged, this, focusToPage);
    focusToPage();
}

void Runtime::installUpdateHooks()
{
    Updates *updates = m_parts.updates;
    if (!updates)
        return;
    QPointer<Runtime> self(this);
    updates->onReady = [self](const QString &version) {
        if (!self || !self->m_model->companionEnabled())
            return;
        const QString text = L10n::tf("I've grown a little: version %@. Restart me when it suits you.", version);
        if (!self->m_companion->aside() && self->m_governor.allows(text, self->clock().now()))
            self->desktopSay(text, 6);
    };
    updates->workspace = [self]() -> QObject * { return self ? self->m_workspace->window() : nullptr; };
    updates->occupied = [self] {
        if (!self)
            return true;
        const AppModel &m = *self->m_model;
        if (m.askBusy() || m.assistantBusy() || m.publishing() || m.composerPresented())
            return true;
        return self->m_web && self->m_web->composerOpen();
    };
    updates->preserveInput = [self](std::function<void()> done) {
        if (!self || !self->m_web) {
            done();
            return;
        }
        self->m_web->preserveUnsentText(std::move(done));
    };
    updates->onRestartDeferred = [self] {
        if (self)
            self->m_model->setNotice(AppNotice::make(
                L10n::t("Finish your current post or wait for the reply before restarting."), AppNotice::Tone::attention));
    };
}

void Runtime::startCare()
{
    QPointer<Runtime> self(this);
    m_careTimer.reset();
    m_careTimer = std::make_unique<CareTimer>(
        *m_model, *m_clock, [] { return CompanionController::secondsSinceInput(); },
        [self] {
            if (self)
                self->m_companion->hungry =
                    self->m_model->wellbeing().mood(self->clock().now()) == CatWellbeing::Mood::hungry;
        });
}

void Runtime::greetAfterMoving()
{
    DefaultsStore &defaults = m_model->defaults();
    const QString key = QStringLiteral("zephyl.mac.home.justMoved");
    if (!defaults.boolValue(key).value_or(false))
        return;
    defaults.remove(key);
    // An installed copy never moves itself here; the greeting stays for a copy
    // that an earlier version moved.
    const QString text = L10n::t("I've moved into Applications. That's where I live now.");
    QPointer<Runtime> self(this);
    m_greeting = m_clock->after(std::chrono::seconds(3), [self, text] {
        if (self && self->m_model->companionEnabled())
            self->say(text, 9);
    });
}

// ---- Showing things

void Runtime::showWindowAndActivate()
{
    // The window takes the keyboard: the ask panel would stand over what it
    // just opened and no longer hear Escape, so it goes away.
    hideAsk();
    m_workspace->show(*m_model, m_web.get());
    m_model->anchorWindow = [w = QPointer<QWidget>(m_workspace->window())]() -> QWidget * { return w.data(); };
}

void Runtime::showWorkspace(std::optional<Surface> surface)
{
    if (surface) {
        m_model->setSurface(*surface);
        if (m_web)
            m_web->show(*surface);
    }
    showWindowAndActivate();
    // Asked for a screen, the window opens with the keyboard on it.
    if (surface)
        m_workspace->giveKeyboardToScreen();
}

void Runtime::open(const QStringList &links)
{
    for (const QString &link : links)
        m_model->handleURL(link);
}

void Runtime::toggleAsk()
{
    if (ask().isVisible())
        ask().hide();
    else
        ask().show(true);
}

void Runtime::showCompanionSettings()
{
    companionSettings().show();
}

StatusMenu::State Runtime::menuState() const
{
    StatusMenu::State state;
    if (Updates *updates = m_parts.updates)
        state.readyVersion = updates->readyVersion();
    state.focus = m_model->focus();
    state.companionEnabled = m_model->companionEnabled();
    return state;
}

void Runtime::menuCommand(StatusMenu::Command command)
{
    using C = StatusMenu::Command;
    switch (command) {
    case C::installUpdate:
    case C::checkForUpdates:
        if (m_parts.updates)
            m_parts.updates->checkNow();
        break;
    case C::askTheCat:
        toggleAsk();
        break;
    case C::openZephyl:
        showWindowAndActivate();
        break;
    case C::startFocus:
        m_model->startFocus();
        break;
    case C::endFocus:
        m_model->stopFocus();
        break;
    case C::newPublication:
        showWindowAndActivate();
        m_model->openComposer(std::nullopt);
        break;
    case C::toggleCompanion:
        m_model->setCompanionEnabled(!m_model->companionEnabled());
        break;
    case C::yourCat:
        showCompanionSettings();
        break;
    case C::showDemo:
        runDemo();
        break;
    case C::quit:
        QApplication::quit();
        break;
    }
}

// The tray host went away while the workspace window was closed: the window
// comes back, the one place left that carries the commands.
void Runtime::followTrayHost()
{
    QWidget *window = m_workspace->window();
    if (!X11::trayHostPresent() && !(window && window->isVisible()))
        showWindowAndActivate();
}

void Runtime::runDemo() { m_tour->start(); }

// ---- Speech

void Runtime::say(const QString &text, double seconds)
{
    m_governor.lastSpokeAt = clock().now();
    if (m_companion->aside() && m_web && m_web->say(text, seconds)) {
        Q_EMIT spoke(text, true);
        return;
    }
    desktopSay(text, seconds);
}

void Runtime::desktopSay(const QString &text, double seconds)
{
    m_companion->say(text, seconds);
    Q_EMIT spoke(text, false);
}

void Runtime::governedDesktopSpeech(const QString &text, double seconds)
{
    if (m_companion->aside())
        return;
    if (m_governor.allows(text, clock().now()))
        desktopSay(text, seconds);
}

// The web workspace shows no notice banner: what the native one would show
// (records that cannot be written, an update's restart put off, an Instagram
// link's outcome) is said by the cat, once per notice, or, with the cat
// switched off, posted as a desktop notification. An expired session needs no
// line: the ask panel says it and the page shows its sign-in.
void Runtime::tellNotice()
{
    const std::optional<AppNotice> &notice = m_model->notice();
    if (!notice || notice->id == m_toldNotice)
        return;
    m_toldNotice = notice->id;
    if (notice->text == L10n::t("Your session has expired. Sign in again."))
        return;
    if (m_model->companionEnabled()) {
        say(notice->text, 9);
    } else if (m_web->say(notice->text, 9)) {
        Q_EMIT spoke(notice->text, true);
    } else {
        m_model->notify(QStringLiteral("Zephyl Kitty"), notice->text);
    }
}

bool Runtime::catInWindow() const
{
    return workspaceInView() && m_web && m_web->phase().kind == WebWorkspaceModel::Phase::Kind::workspace;
}

bool Runtime::momentUnasked(const QString &text, std::optional<InWindowCatStage::Look> look)
{
    // Only the signed-in page draws the cat: a remark is charged and told only where it shows.
    if (!m_web || m_web->phase().kind != WebWorkspaceModel::Phase::Kind::workspace || m_web->stage().perch())
        return false;
    if (!m_governor.allows(text, clock().now()))
        return false;
    if (!m_web->showMoment(text, look))
        return false;
    Q_EMIT spoke(text, true);
    return true;
}

bool Runtime::workspaceInView() const { return m_workspace->inView(); }

void Runtime::refreshAside()
{
    m_comingBack.reset();
    const bool inView = workspaceInView();
    followCover(inView);
    if (m_catIsInside && inView) {
        m_companion->setAside(true);
        return;
    }
    if (!m_companion->aside())
        return;
    QPointer<Runtime> self(this);
    m_comingBack = m_clock->after(std::chrono::milliseconds(500), [self] {
        if (!self)
            return;
        if (self->m_web) {
            if (const auto caption = self->m_web->stage().takeCaption())
                self->desktopSay(caption->text, caption->remaining);
        }
        self->m_companion->setAside(false);
    });
}

// Another window coming over the workspace window tells it nothing, so while
// the cat lives inside, the coordinator looks again every half second.
void Runtime::followCover(bool inView)
{
    m_seenInView = inView;
    if (!m_catIsInside) {
        m_coverWatch.reset();
        return;
    }
    if (m_coverWatch)
        return;
    QPointer<Runtime> self(this);
    m_coverWatch = m_clock->every(std::chrono::milliseconds(500), [self] {
        if (self && self->workspaceInView() != self->m_seenInView)
            self->refreshAside();
    });
}

void Runtime::reactToPublication(const QString &status)
{
    if (status == QLatin1String("published")) {
        m_model->feedCat();
        m_companion->hungry = false;
        m_companion->request(CompanionGoal::celebrate());
        say(L10n::t("Published. That one is out in the world."), 6);
    } else if (status == QLatin1String("scheduled") || status == QLatin1String("waiting")) {
        m_model->feedCat();
        m_companion->hungry = false;
        say(L10n::t("Scheduled. I'll keep an eye on it."), 6);
    } else if (status == QLatin1String("failed") || status == QLatin1String("preparation_failed")) {
        m_governor.lastSpokeAt = clock().now();
        if (m_web) {
            const QString text = L10n::t("That one did not go through. The plan says why.");
            if (m_web->showMoment(text, InWindowCatStage::Look::concerned))
                Q_EMIT spoke(text, true);
        }
    }
}

// ---- Settings

void Runtime::applyTheme()
{
    AppearanceService::shared().setTheme(m_model->theme());
}

void Runtime::applyCompanionPreferences()
{
    CompanionController &cat = *m_companion;
    cat.walksOnWindows = m_model->companionWalksOnWindows();
    cat.clickOpensAsk = m_model->companionClickOpensAsk();
    cat.wanders = m_model->companionWanders();
    cat.temper = m_model->companionTemper();
    cat.setVariant(CompanionLibrary::variant(m_model->companionVariantID()));
    if (m_timer && m_timer->isVisible())
        setNest(m_timer->frame());
}

// ---- The cat's ledges

void Runtime::setPerch(const std::optional<Ledge> &ledge)
{
    const bool had = m_companion->perchLedge.has_value();
    m_companion->perchLedge = ledge;
    m_companion->perchFrame = ledge ? std::optional(ask().frame()) : std::nullopt;
    if (had != ledge.has_value())
        m_companion->holdStandingGoal();
}

void Runtime::setNest(const std::optional<QRectF> &frame)
{
    const bool had = m_companion->nestLedge.has_value();
    m_companion->setNestFrame(frame);
    m_companion->viewModel().setNestFrame(frame);
    if (frame)
        m_companion->nestLedge = m_companion->variant().isFilmed() ? timer().sideLedge() : timer().ledge();
    else
        m_companion->nestLedge.reset();
    if (had != m_companion->nestLedge.has_value())
        m_companion->holdStandingGoal();
}

void Runtime::setVisit(const std::optional<Ledge> &ledge)
{
    m_companion->visitLedge = ledge;
}

void Runtime::showFocusTimer()
{
    timer().show(m_companion->variant().isFilmed());
    setNest(timer().frame());
}

void Runtime::hideFocusTimer()
{
    setNest(std::nullopt);
    if (m_timer)
        m_timer->hide();
}

void Runtime::runComposerScript(const QString &script)
{
    if (m_web && m_web->phase().kind == WebWorkspaceModel::Phase::Kind::workspace)
        m_web->page()->runJavaScript(script);
}

// ---- The guided tour's host

bool Runtime::companionRunning() const { return m_companion->isRunning(); }
void Runtime::startCompanion() { m_companion->start(); }
// The tour's cat leaves as the tour ends, unless the user switched the companion
// on meanwhile: the setting stays as the user left it.
void Runtime::stopCompanion()
{
    if (!m_model->companionEnabled())
        m_companion->stop();
}
bool Runtime::pageInWorkspace() const
{
    return m_web && m_web->phase().kind == WebWorkspaceModel::Phase::Kind::workspace;
}
void Runtime::setDemoing(bool on)
{
    if (m_web)
        m_web->demoing = on;
}
void Runtime::setDemoCarryUntil(const QDateTime &until)
{
    if (m_web)
        m_web->demoCarryUntil = until;
}
void Runtime::showWorkspace() { showWindowAndActivate(); }
std::optional<QRectF> Runtime::workspaceFrame() const
{
    return catFrameOf(m_workspace->window(), m_companion->desktop());
}
void Runtime::setVisitLedge(const std::optional<Ledge> &ledge) { setVisit(ledge); }
void Runtime::requestGoal(const CompanionGoal &goal) { m_companion->request(goal); }
void Runtime::runPageScript(const QString &script) { runComposerScript(script); }
void Runtime::peek(InWindowCatStage::Look look, double seconds)
{
    if (m_web)
        m_web->peek(look, seconds);
}
bool Runtime::focusIdle() const { return !m_model->focus().isRunning(); }
void Runtime::showFocusClock() { showFocusTimer(); }
void Runtime::hideFocusClock() { hideFocusTimer(); }
void Runtime::showAsk() { ask().show(false); }
void Runtime::hideAsk()
{
    if (m_ask && m_ask->isVisible())
        m_ask->hide();
}
bool Runtime::askShowing() const { return m_ask && m_ask->isVisible(); }
bool Runtime::askHasKeyboard() const { return askShowing() && m_ask->panel()->isActiveWindow(); }
