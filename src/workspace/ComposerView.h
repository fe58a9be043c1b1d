#pragma once

#include "app/ComposerState.h"
#include "base/Clock.h"

#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

class AppModel;
class QAbstractButton;
class QMimeData;
class QStackedLayout;
class ComposerEditor;
class ComposerConfirmationSheet;
class ComposerOutcomeView;
class PublishingOverlay;
class StatusPill;
class StyledButton;
class TextBlock;

// The publication composer, shown as a sheet over the workspace while
// AppModel::composerPresented() holds; it dismisses itself by setting that to
// false. Each sheet holds a new ComposerState for as long as it is open: the
// editor (media column and form), the confirmation over it, the publishing
// overlay and the outcome page all work on that one post.
class ComposerView final : public QWidget {
    Q_OBJECT
public:
    // What the sheet reaches outside the process through; tests and the screens
    // tool put their own in.
    struct Hooks {
        ComposerState::ImportFile importFile;                       // else the media importer
        std::function<QList<QUrl>(bool multiple, const QString &title, QWidget *)> pickFiles; // else the file chooser
        std::function<void(const QUrl &)> openURL;                  // else the desktop's handler
    };
    // The hooks every new sheet takes; empty members mean the application's own.
    static Hooks &defaultHooks();

    explicit ComposerView(AppModel &model, QWidget *parent = nullptr);
    ~ComposerView() override;

    ComposerState &state() const { return *m_state; }
    AppModel &model() const { return m_model; }

    // Closes the sheet, unless a post is being handed over (false); a save to
    // the plan under way goes on without it. With the confirmation showing,
    // only the confirmation closes.
    bool requestDismiss();
    // Takes dropped files into the post; false when the data holds no local file.
    bool handleDrop(const QMimeData *data);
    // The file chooser, titled with the words of the control that opened it,
    // then the import of what was chosen (several for a carousel).
    void pickFiles(const QString &title);
    void pickCover(const QString &title);
    // Opens a post's address, only when it is an https address on Instagram.
    void openPost(const std::optional<QUrl> &url);

    QAbstractButton *closeButton() const;
    QAbstractButton *saveToPlanButton() const;
    QAbstractButton *saveDraftButton() const;
    QAbstractButton *publishButton() const;
    TextBlock *validationText() const { return m_message; }
    ComposerEditor *editor() const { return m_editor; }
    // Shown only while confirming, publishing or showing an outcome; else null.
    ComposerConfirmationSheet *confirmation() const;
    PublishingOverlay *publishingOverlay() const;
    ComposerOutcomeView *outcomePage() const;

    QSize sizeHint() const override { return {920, 680}; }
    QSize minimumSizeHint() const override { return {720, 500}; }
    // A sheet of a fixed size: its wrapping texts do not make it taller.
    bool hasHeightForWidth() const override { return false; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void build();
    // Files dragged over a text field belong to the sheet, not in the text.
    void claimFileDrops();
    void rebuild();
    void refresh();
    void placeLayers();
    void followOutcome();
    void followConfirming();
    void followPublishing();
    // Writes what is kept of the post when it changed; forgets it once the
    // post is out, saved to the plan or put away.
    void keepPost();
    void forgetPost();

    AppModel &m_model;
    Hooks m_hooks;
    std::unique_ptr<ComposerState> m_state;
    QWidget *m_body = nullptr;
    QWidget *m_content = nullptr;
    QStackedLayout *m_pages = nullptr;
    ComposerEditor *m_editor = nullptr;
    QWidget *m_footer = nullptr;
    QWidget *m_footerRule = nullptr;
    StatusPill *m_pill = nullptr;
    StyledButton *m_close = nullptr;
    StyledButton *m_saveToPlan = nullptr;
    StyledButton *m_saveDraft = nullptr;
    StyledButton *m_publish = nullptr;
    TextBlock *m_message = nullptr;
    QPointer<ComposerOutcomeView> m_outcome;
    std::optional<PublishOutcome> m_shownOutcome;
    QPointer<ComposerConfirmationSheet> m_confirmation;
    QPointer<PublishingOverlay> m_overlay;
    // The schedule rule reads the clock, so the footer is read again as time passes.
    std::unique_ptr<Clock::Timer> m_tick;
    bool m_rebuildPending = false;
    // The account the post is kept for, and what is kept of it now.
    QString m_owner;
    std::optional<KeptComposerPost> m_keptPost;
    bool m_postPutAway = false;
};
