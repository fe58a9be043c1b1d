#pragma once

#include "app/AppEvent.h"
#include "base/Clock.h"
#include "companion/CompanionDesktop.h"
#include "companion/SpeechGovernor.h"
#include "services/Surface.h"
#include "shell/GuidedTour.h"
#include "shell/StatusMenuModel.h"
#include "web/InWindowCatStage.h"

#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class AppModel;
class AskPanelController;
class CareTimer;
class CompanionController;
class CompanionSettingsWindowController;
class FocusTimerController;
class GlobalHotKey;
class StatusMenuController;
class Updates;
class WebWorkspace;
class WorkspaceWindowController;
class QWidget;

// The coordinator: the one place that joins the state, the desktop cat, the
// panels, the workspace window, the tray and the updater. It starts them in a
// fixed order, carries the state's events to them, decides which cat speaks a
// line (the one on the desktop or the one inside the workspace window) and moves
// the desktop cat aside while the cat lives inside that window. Main thread only.
class Runtime final : public QObject, private TourHost {
    Q_OBJECT
public:
    // What the coordinator is built over; everything left out is the
    // application's own.
    struct Parts {
        AppModel *model = nullptr;                  // else AppModel::shared()
        Clock *clock = nullptr;                     // else Clock::shared()
        std::unique_ptr<CompanionDesktop> desktop;  // else the session's own desktop
        Updates *updates = nullptr;                 // else Updates::shared(), when set
        // The web workspace's address and a certificate it accepts on loopback
        // (the local stand-in's); both left out for the real service.
        std::optional<QUrl> webBaseURL;
        std::optional<QSslCertificate> webTrustedCertificate;
        QString webStorageName;                     // else the application's profile
        bool trayIcon = true;
        bool hotKey = true;
    };

    explicit Runtime(Parts parts, QObject *parent = nullptr);
    ~Runtime() override;

    // The application's coordinator, set by the shell once it is made.
    static Runtime *shared();
    static void setShared(Runtime *runtime);

    // Starts everything once; a second call does nothing.
    void start();
    bool started() const { return m_started; }
    // Brings up the workspace window and the application, on a surface when one
    // is given.
    void showWorkspace() override;
    void showWorkspace(std::optional<Surface> surface);
    // Links handed to the application, in order.
    void open(const QStringList &links);
    // The guided tour; a new one cancels the running one.
    void runDemo();
    // "Ask the cat": the ask panel hidden when showing, shown with the keyboard otherwise.
    void toggleAsk();
    // The companion settings window, made on first use.
    void showCompanionSettings();

    // What the event dispatch does with one of the state's events.
    void handle(const AppEvent &event);

    // Parts, for the shell's menu and for checks.
    AppModel &model() const { return *m_model; }
    CompanionController &companion() const { return *m_companion; }
    WebWorkspace *web() const { return m_web.get(); }
    WorkspaceWindowController &workspace() const { return *m_workspace; }
    AskPanelController &ask();
    AskPanelController *askIfMade() const { return m_ask.get(); }
    FocusTimerController &timer();
    CompanionSettingsWindowController &companionSettings();
    CompanionSettingsWindowController *companionSettingsIfMade() const { return m_companionSettings.get(); }
    StatusMenuController *statusMenu() const { return m_statusMenu.get(); }
    GlobalHotKey *hotKey() const { return m_hotKey.get(); }
    const SpeechGovernor &governor() const { return m_governor; }
    SpeechGovernor &governor() { return m_governor; }
    GuidedTour &tour() { return *m_tour; }
    bool catIsInside() const { return m_catIsInside; }
    bool careTimerRunning() const { return m_careTimer != nullptr; }
    // The workspace window exists, is shown, not minimised, on this desktop and
    // not wholly covered.
    bool workspaceInView() const;

    // A line of the cat, always shown: by the cat inside the workspace window
    // while the desktop cat stands aside, else by the desktop cat.
    void say(const QString &text, double seconds) override;
    // An unprompted line for the cat inside the workspace window; false when the
    // cat sits somewhere in the page, the governor refuses it, or no cat is drawn
    // in the window.
    bool momentUnasked(const QString &text, std::optional<InWindowCatStage::Look> look);
    // The window is in view and its page draws the cat (the signed-in web page;
    // the native screens and the page's sign-in, loading and failure draw none).
    bool catInWindow() const;
    void applyTheme();
    void applyCompanionPreferences();

Q_SIGNALS:
    // A line of the cat was shown: inside the workspace window, or on the desktop.
    void spoke(const QString &text, bool inWindow);

private:
    void desktopSay(const QString &text, double seconds);
    void wire();
    void wireWeb();
    void installUpdateHooks();
    void startCare();
    void greetAfterMoving();
    void refreshAside();
    void followCover(bool inView);
    void reactToPublication(const QString &status);
    void governedDesktopSpeech(const QString &text, double seconds);
    void tellNotice();
    void showWindowAndActivate();
    void setNest(const std::optional<QRectF> &frame);
    void setPerch(const std::optional<Ledge> &ledge);
    void setVisit(const std::optional<Ledge> &ledge);
    void showFocusTimer();
    void hideFocusTimer();
    void runComposerScript(const QString &script);
    // The tray's menu and the window's menu bar read and run the same commands.
    StatusMenu::State menuState() const;
    void menuCommand(StatusMenu::Command command);
    void followTrayHost();

    // ---- TourHost
    bool companionRunning() const override;
    void startCompanion() override;
    void stopCompanion() override;
    bool pageInWorkspace() const override;
    void setDemoing(bool on) override;
    void setDemoCarryUntil(const QDateTime &until) override;
    std::optional<QRectF> workspaceFrame() const override;
    void setVisitLedge(const std::optional<Ledge> &ledge) override;
    void requestGoal(const CompanionGoal &goal) override;
    void runPageScript(const QString &script) override;
    void peek(InWindowCatStage::Look look, double seconds) override;
    bool focusIdle() const override;
    void showFocusClock() override;
    void hideFocusClock() override;
    void showAsk() override;
    void hideAsk() override;
    bool askShowing() const override;
    bool askHasKeyboard() const override;

    Clock &clock() const { return *m_clock; }

    AppModel *m_model;
    Clock *m_clock;
    Parts m_parts;
    std::unique_ptr<CompanionController> m_companion;
    std::unique_ptr<WebWorkspace> m_web;
    std::unique_ptr<AskPanelController> m_ask;
    std::unique_ptr<FocusTimerController> m_timer;
    std::unique_ptr<CompanionSettingsWindowController> m_companionSettings;
    std::unique_ptr<WorkspaceWindowController> m_workspace;
    std::unique_ptr<GlobalHotKey> m_hotKey;
    std::unique_ptr<StatusMenuController> m_statusMenu;
    std::unique_ptr<GuidedTour> m_tour;
    std::unique_ptr<CareTimer> m_careTimer;
    std::unique_ptr<Clock::Timer> m_comingBack;
    std::unique_ptr<Clock::Timer> m_greeting;
    std::unique_ptr<Clock::Timer> m_coverWatch;
    bool m_seenInView = false;
    int m_trayWatch = 0;
    SpeechGovernor m_governor;
    QUuid m_toldNotice; // the last notice the web workspace's cat said
    bool m_started = false;
    bool m_catIsInside = false;
};
