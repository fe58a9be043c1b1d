#pragma once

#include "base/Clock.h"
#include "design/AppNotice.h"
#include "design/NoticeBanner.h"
#include "services/Surface.h"
#include "workspace/ScreenKit.h"

#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <memory>

class AppModel;
class QSplitter;
class RowButton;
class WorkspaceSidebar;

// The signed-in workspace: the sidebar on the leading side and, beside it, the
// screen of the current surface with the notice banner laid over its top.
// Everything it shows lives in the state object; every control writes there.
class WorkspaceSplitView final : public QWidget {
    Q_OBJECT
public:
    explicit WorkspaceSplitView(AppModel &model, QWidget *parent = nullptr);
    ~WorkspaceSplitView() override;

    WorkspaceSidebar *sidebar() const { return m_sidebar; }
    QSplitter *splitter() const { return m_splitter; }
    // The screen of the current surface.
    QWidget *detail() const { return m_detail; }
    Surface detailSurface() const { return m_detailSurface; }
    // The banner of the current notice; null while there is none.
    NoticeBanner *banner() const { return m_banner; }
    // The workspace brought forward for its screen from elsewhere (the ask
    // panel): the keyboard goes to the screen, unless it is there already or
    // on a sheet over it.
    void giveKeyboardToScreen();

    // The screen a surface shows, newly made.
    static QWidget *makeScreen(Surface surface, AppModel &model, QWidget *parent);
    // How long a notice stays before it clears itself.
    static constexpr int kNoticeSeconds = 7;
    // The sidebar's range of widths and the width it takes where its words fit.
    static constexpr int kSidebarMinimum = 220;
    static constexpr int kSidebarIdeal = 244;
    static constexpr int kSidebarMaximum = 290;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // How the screen shown came: chosen in the sidebar, whose row keeps the
    // keyboard; or from elsewhere, when the screen takes it.
    enum class Opening { none, fromSidebar, fromElsewhere };
    void showSurface();
    // Once the screen is laid out and shows: the keyboard goes where `how`
    // says, the screen from its top when `fromTop`.
    void openScreen(Opening how, bool fromTop, int tries = 0);
    void followNotice();
    void placeBanner();
    void fitSidebar();

    AppModel &m_model;
    QSplitter *m_splitter;
    WorkspaceSidebar *m_sidebar;
    QWidget *m_stack;
    QPointer<QWidget> m_detail;
    Surface m_detailSurface = Surface::assistant;
    // A screen made while the workspace was hidden, opened once it shows.
    Opening m_openOnShow = Opening::none;
    // The screen showed no control yet: it is opened again once built anew.
    bool m_awaitingBuild = false;
    QPointer<NoticeBanner> m_banner;
    QUuid m_bannerNotice;
    std::unique_ptr<Clock::Timer> m_noticeTimer;
};

// The sidebar: the product header, one row per surface, "New publication",
// "Ask the cat" and who is signed in with which Instagram account.
class WorkspaceSidebar final : public Screen {
    Q_OBJECT
public:
    explicit WorkspaceSidebar(AppModel &model, QWidget *parent = nullptr);

    // The row of a surface, in the sidebar's order.
    QAbstractButton *row(Surface surface) const;
    RowButton *newPublicationButton() const { return m_newPublication; }
    RowButton *askButton() const { return m_ask; }
    TextBlock *accountName() const { return m_account; }
    TextBlock *instagramLine() const { return m_instagram; }
    // The width at which every surface's title and both buttons show their
    // words whole.
    int widthForWords() const;

    // The icon a surface's row shows: its symbol when the icon set has it, else
    // the older one.
    static QString rowSymbol(Surface surface);
    static QString accountNameFor(const AppModel &model);
    static QString instagramLineFor(const AppModel &model);

protected:
    QWidget *build() override;

private:
    QList<QAbstractButton *> m_rows;
    RowButton *m_newPublication = nullptr;
    RowButton *m_ask = nullptr;
    TextBlock *m_account = nullptr;
    TextBlock *m_instagram = nullptr;
};
