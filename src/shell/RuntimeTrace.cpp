#include "shell/RuntimeTrace.h"

#include "app/AppModel.h"
#include "ask/AskPanelController.h"
#include "companion/CompanionController.h"
#include "companion/CompanionPanel.h"
#include "design/EventTargets.h"
#include "web/WebWorkspace.h"
#include "shell/Runtime.h"
#include "shell/StatusMenuController.h"
#include "workspace/CompanionSettingsWindow.h"
#include "workspace/ComposerParts.h"
#include "workspace/PlanView.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {
QString phaseWord(const WebWorkspaceModel::Phase &phase)
{
    using K = WebWorkspaceModel::Phase::Kind;
    switch (phase.kind) {
    case K::loading: return QStringLiteral("loading");
    case K::signIn: return QStringLiteral("signIn");
    case K::workspace: return QStringLiteral("workspace");
    case K::outdated: return QStringLiteral("outdated");
    case K::failed: return QStringLiteral("failed");
    }
    return {};
}

QString outcomeWord(PublishOutcome::Kind kind)
{
    using K = PublishOutcome::Kind;
    switch (kind) {
    case K::published: return QStringLiteral("published");
    case K::scheduled: return QStringLiteral("scheduled");
    case K::draftSaved: return QStringLiteral("draft saved");
    case K::stillWorking: return QStringLiteral("still working");
    case K::failed: return QStringLiteral("failed");
    case K::unknown: return QStringLiteral("unknown");
    }
    return {};
}
} // namespace

bool RuntimeTrace::wanted() { return qEnvironmentVariableIsSet("ZEPHYL_TRACE"); }

RuntimeTrace::RuntimeTrace(Runtime &runtime, QObject *parent) : QObject(parent), m_runtime(runtime)
{
    AppModel &model = runtime.model();
    connect(&runtime, &Runtime::spoke, this, [this](const QString &text, bool inWindow) {
        line((inWindow ? QStringLiteral("say in window: ") : QStringLiteral("say: ")) + text);
    });
    connect(&model, &AppModel::surfaceChanged, this,
            [this, &model] { line(QStringLiteral("surface: ") + Surfaces::rawValue(model.surface())); });
    connect(&model, &AppModel::userChanged, this, [this, &model] {
        line(model.user() ? QStringLiteral("signed in: ") + model.user()->email : QStringLiteral("signed out"));
    });
    // How much unsent text there is, never what it says.
    auto unsent = [this, &model] {
        line(QStringLiteral("unsent: ask %1, assistant %2").arg(model.askInput().size()).arg(model.assistantDraft().size()));
    };
    connect(&model, &AppModel::noticeChanged, this, [this, &model] {
        if (model.notice())
            line(QStringLiteral("notice: ") + model.notice()->text);
    });
    connect(&model, &AppModel::instagramChanged, this, [this, &model] {
        line(model.instagram() ? QStringLiteral("instagram: @") + model.instagram()->username
                               : QStringLiteral("instagram: none"));
    });
    connect(&model, &AppModel::composerPresentedChanged, this, [this, &model] {
        line(model.composerPresented() ? QStringLiteral("composer: shown") : QStringLiteral("composer: hidden"));
    });
    connect(&model, &AppModel::askInputChanged, this, unsent);
    connect(&model, &AppModel::assistantDraftChanged, this, unsent);
    // How many drafts the plan holds and whether the service has them, never what they say.
    auto plan = [this, &model] {
        QString state = QStringLiteral("plan: %1 drafts").arg(model.planDrafts().size());
        if (model.planLoading())
            state += QStringLiteral(", loading");
        if (model.planSaving())
            state += QStringLiteral(", saving");
        if (model.planUnsaved())
            state += model.planKept() ? QStringLiteral(", unsaved") : QStringLiteral(", unsaved, not kept");
        if (model.planUnavailable())
            state += QStringLiteral(", not loaded");
        line(state);
    };
    connect(&model, &AppModel::planDraftsChanged, this, plan);
    connect(&model, &AppModel::planLoadingChanged, this, plan);
    connect(&model, &AppModel::planSavingChanged, this, plan);
    connect(&model, &AppModel::planUnsavedChanged, this, plan);
    connect(&model, &AppModel::planUnavailableChanged, this, plan);
    if (WebWorkspace *web = runtime.web()) {
        connect(web, &WebWorkspaceModel::phaseChanged, this,
                [this, web] { line(QStringLiteral("page: ") + phaseWord(web->phase())); });
        connect(web, &WebWorkspaceModel::accountChanged, this, [this, web] {
            line(web->account() ? QStringLiteral("page account: ") + web->account()->email
                                : QStringLiteral("page account: none"));
        });
        // A page is shown once committed; its fields take keys once it has loaded.
        connect(web->page(), &QWebEnginePage::loadFinished, this,
                [this](bool ok) { line(ok ? QStringLiteral("page load: finished") : QStringLiteral("page load: failed")); });
        connect(web, &WebWorkspaceModel::screenChanged, this,
                [this, web] { line(QStringLiteral("page screen: ") + web->screen()); });
        connect(web, &WebWorkspaceModel::composerOpenChanged, this, [this, web] {
            line(web->composerOpen() ? QStringLiteral("page composer: open") : QStringLiteral("page composer: closed"));
        });
    }
    // Where the keyboard is, so a test types only once its keys have a place.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (!now) {
            line(QStringLiteral("keyboard: none"));
            return;
        }
        const WebWorkspace *web = m_runtime.web();
        const bool page = web && web->webView() && (web->webView() == now || web->webView()->isAncestorOf(now));
        QString told = QStringLiteral("keyboard: ") + (page ? QStringLiteral("page") : now->window()->windowTitle());
        // Which button a key press would press, or which field typing goes to
        // (by the words it shows when empty), told in the same write; one
        // that shows no words by the name it has for assistive technology
        // (its own, else its label's: a file chooser's name field).
        const auto named = [now] {
            if (!now->accessibleName().isEmpty())
                return now->accessibleName();
            QAccessibleInterface *face = QAccessible::queryAccessibleInterface(now);
            return face ? face->text(QAccessible::Name) : QString();
        };
        const auto shown = [&named](const QString &words) { return words.isEmpty() ? named() : words; };
        if (const auto *field = qobject_cast<const QLineEdit *>(now))
            told += QStringLiteral("\ntrace: focus in field: ") + shown(field->placeholderText());
        else if (qobject_cast<const QPlainTextEdit *>(now))
            told += QStringLiteral("\ntrace: focus in field: ") + named();
        else if (const auto *button = qobject_cast<const QAbstractButton *>(now))
            told += QStringLiteral("\ntrace: focus on: ") + shown(button->text());
        else if (const QString name = page ? QString() : named(); !name.isEmpty()) // a picker, a row of a list
            told += QStringLiteral("\ntrace: focus on: ") + name;
        line(told);
    });
    qApp->installEventFilter(this);
    // Start-up moments, looked for often until both are seen.
    auto *early = new QTimer(this);
    early->setInterval(5);
    connect(early, &QTimer::timeout, this, [this, early] {
        if (!m_firstFrame && m_runtime.companion().framesRun() > 0) {
            m_firstFrame = true;
            line(QStringLiteral("cat: first frame"));
        }
        StatusMenuController *menu = m_runtime.statusMenu();
        if (!m_trayShown && menu && menu->item()->isVisible() && QSystemTrayIcon::isSystemTrayAvailable()) {
            m_trayShown = true;
            line(QStringLiteral("tray: shown"));
        }
        if ((m_firstFrame && m_trayShown) || ++m_earlyTicks > 2000)
            early->stop();
    });
    early->start();
    m_poll = new QTimer(this);
    m_poll->setInterval(100);
    connect(m_poll, &QTimer::timeout, this, &RuntimeTrace::watchCat);
    connect(m_poll, &QTimer::timeout, this, &RuntimeTrace::watchPlanRows);
    connect(m_poll, &QTimer::timeout, this, &RuntimeTrace::watchOutcomePage);
    m_poll->start();
    line(QStringLiteral("started"));
}

void RuntimeTrace::watchCat()
{
    const CompanionController &cat = m_runtime.companion();
    QString standing;
    if (!cat.isRunning()) {
        standing = QStringLiteral("away");
    } else {
        const auto &support = cat.brain().support;
        using K = CompanionBrain::Support::Kind;
        switch (support.kind) {
        case K::ledge:
            standing = QStringLiteral("window 0x%1").arg(quint32(support.ledge.windowNumber), 0, 16);
            break;
        case K::perch: standing = QStringLiteral("perch"); break;
        case K::nest: standing = QStringLiteral("nest"); break;
        default: standing = QStringLiteral("ground"); break;
        }
    }
    const bool moved = standing != m_standing;
    if (moved) {
        m_standing = standing;
        line(QStringLiteral("cat on: ") + standing);
    }
    if (cat.isRunning()) {
        // Where a pointer finds its body, in the screen's own coordinates, told
        // again once it has gone some way: the middle of its hit area, which a
        // nest on the focus timer has on the timer, away from its position.
        const QPointF centre = cat.desktop().toQt(cat.hitArea().rect).center();
        if (moved || (centre - m_catAt).manhattanLength() > 24) {
            m_catAt = centre;
            line(QStringLiteral("cat at: %1,%2").arg(qRound(centre.x())).arg(qRound(centre.y())));
        }
    }
    // Whether a press would reach the cat: its panels take the pointer over
    // the cat while it may be pressed (not aside, clicking on).
    bool grips = false;
    for (const CompanionPanel *panel : cat.panels())
        grips = grips || !panel->interactive().empty();
    if (grips != m_grips) {
        m_grips = grips;
        line(grips ? QStringLiteral("cat: takes the pointer") : QStringLiteral("cat: lets the pointer through"));
    }
    const QWidget *settings = m_runtime.companionSettingsIfMade() ? m_runtime.companionSettingsIfMade()->window() : nullptr;
    const bool settingsShown = settings && settings->isVisible();
    if (settingsShown != m_settingsShown) {
        m_settingsShown = settingsShown;
        line(settingsShown ? QStringLiteral("companion settings: shown") : QStringLiteral("companion settings: hidden"));
    }
    const bool shown = m_runtime.askIfMade() && m_runtime.askIfMade()->isVisible();
    if (shown != m_askShown) {
        m_askShown = shown;
        line(shown ? QStringLiteral("ask panel: shown") : QStringLiteral("ask panel: hidden"));
    }
}

void RuntimeTrace::watchPlanRows()
{
    // Where a pointer finds each row of the plan on screen, top to bottom, in
    // the screen's coordinates (never what a row says), told again whenever the
    // rows are built anew: a press on a row on its way out is lost.
    QList<const PlanRow *> rows;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (!window->isVisible())
            continue;
        for (const PlanRow *row : window->findChildren<PlanRow *>()) {
            if (row->isVisible() && !row->visibleRegion().isEmpty())
                rows << row;
        }
    }
    const auto place = [](const PlanRow *row) { return row->mapToGlobal(row->visibleRegion().boundingRect().center()); };
    std::sort(rows.begin(), rows.end(), [&](const PlanRow *a, const PlanRow *b) { return place(a).y() < place(b).y(); });
    QStringList told;
    for (const PlanRow *row : rows)
        told << QStringLiteral("%1,%2").arg(place(row).x()).arg(place(row).y());
    const QString said = told.join(u' ');
    const bool rebuilt = rows.size() != m_planRows.size() ||
                         !std::equal(rows.cbegin(), rows.cend(), m_planRows.cbegin(),
                                     [](const PlanRow *now, const QPointer<const PlanRow> &was) { return now == was; });
    if (said != m_planRowsSaid || rebuilt) {
        m_planRowsSaid = said;
        m_planRows = QList<QPointer<const PlanRow>>(rows.cbegin(), rows.cend());
        line(QStringLiteral("plan rows: ") + said);
    }
}

void RuntimeTrace::watchOutcomePage()
{
    // Which outcome the composer shows (by its kind, never the post's words),
    // told again when it shows another; "none" once it shows none.
    QString shown = QStringLiteral("none");
    for (QWidget *window : QApplication::topLevelWidgets()) {
        for (const ComposerOutcomeView *page : window->findChildren<ComposerOutcomeView *>()) {
            if (page->isVisible())
                shown = outcomeWord(page->kind());
        }
    }
    if (shown != m_outcomePage) {
        m_outcomePage = shown;
        line(QStringLiteral("outcome page: ") + shown);
    }
}

bool RuntimeTrace::eventFilter(QObject *watched, QEvent *event)
{
    // A Tab let go in a window: its press, and the move of the keyboard it
    // made if any, were taken before, so a test that steps through a window one
    // Tab at a time knows where each one left the keyboard. Told once per key,
    // as the window gets it (the widgets it is handed on to are not told).
    if (event->type() == QEvent::KeyRelease && EventTargets::window(watched)) {
        const auto *key = static_cast<const QKeyEvent *>(event);
        if (!key->isAutoRepeat() && key->key() == Qt::Key_Tab)
            line(QStringLiteral("key up: Tab"));
        else if (!key->isAutoRepeat() && key->key() == Qt::Key_Backtab)
            line(QStringLiteral("key up: Backtab"));
    }
    // A menu coming up (the window's, the tray icon's, a field's own), by its number of entries.
    if (event->type() == QEvent::Show)
        if (const auto *menu = qobject_cast<const QMenu *>(EventTargets::widget(watched)))
            line(QStringLiteral("menu: shown, %1 entries").arg(menu->actions().size()));
    return QObject::eventFilter(watched, event);
}

void RuntimeTrace::line(const QString &text)
{
    const QByteArray bytes = QStringLiteral("trace: %1\n").arg(text).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}
