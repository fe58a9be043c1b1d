#pragma once

#include "companion/CompanionVariant.h"
#include "design/PressAnimator.h"

#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <functional>

class AppModel;
class InWindowCatLayer;
class QLabel;
class QWebEngineView;
class StyledButton;
class WebWorkspace;

// The waiting scene's walk: how far along the strip it is after `seconds`
// (slowing, never reaching 0.94), and how strongly print `index` shows once the
// cat has walked `walked` points.
struct WebWaitWalk {
    static double progress(double seconds);
    static double printOpacity(int index, double walked, double track = 380, double step = 30);
};

// The workspace window's content when the workspace is the service's web app:
// the one web view of the web workspace (placed here, never made again or
// reloaded), and over it, by the web workspace's phase, the waiting scene, the
// failure scene with "Try again", the outdated-engine scene, the cat beside the
// sign-in page, the cat inside the page, and the cat peeking in with a line.
class WebWorkspaceScreen final : public QWidget {
    Q_OBJECT
public:
    explicit WebWorkspaceScreen(WebWorkspace *web, QWidget *parent = nullptr);
    ~WebWorkspaceScreen() override;

    // The settings it follows: the chosen look and whether the desktop cat is
    // on. `follow` binds them to the application state; the theme comes from
    // the appearance the application applies.
    void follow(AppModel &model);
    void setVariant(const CompanionVariant &variant);
    void setCompanionEnabled(bool enabled);

    // Opens the desktop's software updater; empty when none is installed, and
    // then the outdated scene has no button. Replaceable for tests.
    std::function<void()> openSoftwareUpdate;
    // The first installed updater among the desktops' own (its path), or empty.
    static QString softwareUpdater();

    // What shows now, for tests and the screenshot tool.
    bool showsPage() const;
    bool isWaiting() const;
    QWidget *failureScene() const;
    QWidget *outdatedScene() const;
    QWidget *waitingScene() const;
    QWidget *signInCompany() const;
    // The cat peeking in with the moment now shown (hidden when none is).
    QWidget *peekingCat() const;
    // How much of the page shows through: 0 hidden, 1 fully shown.
    double pageOpacity() const;
    // Whether a layer is still coming or going.
    bool animating() const;
    // How long the waiting scene's cat has walked, in seconds.
    double waitedSeconds() const;
    InWindowCatLayer *catLayer() const { return m_layer; }
    StyledButton *retryButton() const { return m_retry; }
    QLabel *failureMessage() const { return m_failureMessage; }
    StyledButton *updateButton() const { return m_update; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // Brings every layer to what the web workspace now says, moving the ones
    // that change with `timing`.
    void refresh(const AnimationTiming &timing = AnimationTiming::immediate());
    QWidget *makePeek();
    // Puts the web view into this screen's container when it is elsewhere.
    void adoptWebView();
    void layoutScenes();

    QPointer<WebWorkspace> m_web;
    CompanionVariant m_variant;
    bool m_companionEnabled = true;
    QWidget *m_host = nullptr;
    QWidget *m_veil = nullptr;
    InWindowCatLayer *m_layer = nullptr;
    QWidget *m_wait = nullptr;
    QWidget *m_failure = nullptr;
    QLabel *m_failurePicture = nullptr;
    QLabel *m_failureTitle = nullptr;
    QLabel *m_failureMessage = nullptr;
    StyledButton *m_retry = nullptr;
    QWidget *m_outdated = nullptr;
    QLabel *m_outdatedPicture = nullptr;
    StyledButton *m_update = nullptr;
    QWidget *m_company = nullptr;
    QWidget *m_peek = nullptr;
    QUuid m_peekID;
};
