#pragma once

#include <QList>
#include <QPointer>
#include <QString>

#include <utility>
#include <QWidget>

class AppModel;
class ComposerSheet;

// The root of the native workspace window. It follows the session: a short
// waiting scene while the stored session is restored, the sign-in form while
// signed out, the split view once signed in. Around whichever is shown it holds
// what is true of the whole window: at least 960 x 600, the palette's
// background, the theme chosen in the settings, the reading direction of the
// interface language (all taking effect at once) and the composer sheet, which
// may be presented over any of the three. The sheet holds one account's post: it
// stays over the sign-in form after an expiry, goes aside when another account
// signs in under it and comes back when its own account does.
class WorkspaceRootView final : public QWidget {
    Q_OBJECT
public:
    explicit WorkspaceRootView(AppModel &model, QWidget *parent = nullptr);
    ~WorkspaceRootView() override;

    // The branch shown now: the waiting scene, the sign-in form or the split view.
    QWidget *branch() const { return m_branch; }
    // The composer sheet while it is presented, else null.
    QWidget *composerSheet() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showBranch();
    void followComposer();
    void followAccount();
    // The open sheet put aside for its owner; the composer reads as closed.
    void keepSheetAside();
    void applyTheme();
    void applyDirection();

    AppModel &m_model;
    QPointer<QWidget> m_branch;
    QPointer<ComposerSheet> m_sheet;
    // The account the open sheet's post belongs to; empty until one is known.
    QString m_sheetOwner;
    // Sheets other accounts left under a sign-in, by owner, oldest first (a few at most).
    QList<std::pair<QString, QPointer<ComposerSheet>>> m_keptSheets;
};
