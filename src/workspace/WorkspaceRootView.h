#pragma once

#include <QPointer>
#include <QWidget>

class AppModel;
class ComposerSheet;

// The root of the native workspace window. It follows the session: a short
// waiting scene while the stored session is restored, the sign-in form while
// signed out, the split view once signed in. Around whichever is shown it holds
// what is true of the whole window: at least 960 x 600, the palette's
// background, the theme chosen in the settings, the reading direction of the
// interface language (all taking effect at once) and the composer sheet, which
// may be presented over any of the three.
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
    void applyTheme();
    void applyDirection();

    AppModel &m_model;
    QPointer<QWidget> m_branch;
    QPointer<ComposerSheet> m_sheet;
};
