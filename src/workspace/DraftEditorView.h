#pragma once

#include "app/DraftEditStore.h"
#include "app/PublishFormat.h"
#include "services/WireModels.h"
#include "services/media/ImportedMedia.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AppModel;
class QCheckBox;
class QHBoxLayout;
class QDateTimeEdit;
class QPlainTextEdit;
class PlainButton;
class RoundedField;
class SegmentedPicker;
class Spinner;
class StyledButton;
class TextBlock;

// What the draft editor needs of the media importer: one file picked by the
// user, and that file imported. Failures of the import are MediaImportError.
class DraftMediaSource {
public:
    virtual ~DraftMediaSource() = default;
    // The file chosen in a chooser titled `title`, or none when the user cancelled.
    virtual std::optional<QString> pickFile(QWidget *parent, const QString &title) = 0;
    virtual QCoro::Task<ImportedMedia> importFile(QString path) = 0;

    // The application's own, over the media importer.
    static std::shared_ptr<DraftMediaSource> system();
    // Replaces what system() answers (tests, tools); null restores the default.
    static void setSystem(std::shared_ptr<DraftMediaSource> source);
};

// The media importer: its file chooser (or `picker`), then the import off the
// main thread.
class ImporterMediaSource final : public DraftMediaSource {
public:
    std::function<std::optional<QString>(QWidget *)> picker;
    std::optional<QString> pickFile(QWidget *parent, const QString &title) override;
    QCoro::Task<ImportedMedia> importFile(QString path) override;
};

// The sheet in which one plan draft is edited: title, format, planned time,
// caption, hashtags, media and whether the grid shows it. Edits stay in the
// sheet's working copy until "Save draft"; the plan changes only through the
// state object. When a save or a delete does not reach the service the sheet
// stays open with what the user wrote, so nothing typed is lost. The draft is
// the one with its id at `place` among the plan's drafts under that id
// (DraftPlace), which is the one saved or deleted.
class DraftEditorView final : public QWidget {
    Q_OBJECT
public:
    DraftEditorView(AppModel &model, const ZephylWire::PlanDraft &draft, bool isNew, int place = 0,
                    QWidget *parent = nullptr);
    ~DraftEditorView() override;
    // The editor of a screen: what was kept of that draft's editor comes back
    // in it, and what is typed in it is kept (keepAsTyped).
    static DraftEditorView *open(AppModel &model, const ZephylWire::PlanDraft &draft, bool isNew, int place,
                                 Surface surface);

    // ---- View state
    const ZephylWire::PlanDraft &draft() const { return m_draft; }
    PublishFormat format() const { return m_format; }
    const QDateTime &date() const { return m_date; }
    bool hasDate() const { return m_hasDate; }
    bool attaching() const { return m_attaching; }
    const QImage &attachedThumbnail() const { return m_attachedThumbnail; }
    const std::optional<QString> &problem() const { return m_problem; }
    bool isNew() const { return m_isNew; }
    int place() const { return m_place; }
    bool saving() const { return m_saving; }

    // ---- Actions
    // Picks a file, then imports and uploads it in a task; nothing is written
    // to the plan.
    void attachMedia();
    void removeMedia();
    // Writes the working copy into the plan and saves it; the sheet closes once
    // the service has it, and stays open when it does not.
    void save();
    // The texts to the composer, unsaved; the sheet closes.
    void preparePublication();
    // Asks first; the confirmed delete removes this draft from the plan.
    void requestDelete();
    void confirmDelete();
    void cancel();

    // ---- Across a kill or a session's end
    // What the sheet holds now, unsaved, as kept for the account.
    KeptDraftEdit keptEdit(Surface surface) const;
    // Keeps the sheet's work for the account as it changes, until the sheet is
    // done with it; when the service ends the session while it is open, it is
    // kept to come back open on `surface` when the account signs in again.
    void keepAsTyped(Surface surface);
    // Takes up kept work: every field as it was kept, the attached picture too.
    void restore(const KeptDraftEdit &edit);

    // The draft as "Save draft" writes it: the plan word of the format, the
    // planned time in UTC with whole seconds and "Z" (or "" without one), the
    // title trimmed; everything else as the working copy holds it.
    ZephylWire::PlanDraft savedCopy() const;

    // The row of "Delete", "Prepare publication" and "Save draft", out of the
    // editor's own column (which then ends at its last field), for a sheet to
    // keep in view under the fields. It stays the editor's: it goes with it.
    QWidget *takeActions();

    // ---- Widgets, for tests and the screenshots
    SegmentedPicker *formatPicker() const { return m_formatPicker; }
    RoundedField *titleField() const { return m_titleField; }
    QCheckBox *plannedBox() const { return m_plannedBox; }
    QDateTimeEdit *datePicker() const { return m_datePicker; }
    QPlainTextEdit *captionEditor() const { return m_captionEditor; }
    // The rounded box the caption editor sits in.
    QWidget *captionBox() const { return m_captionCase; }
    RoundedField *hashtagsField() const { return m_hashtagsField; }
    QCheckBox *hiddenBox() const { return m_hiddenBox; }
    StyledButton *attachButton() const { return m_attachButton; }
    PlainButton *removeButton() const { return m_removeButton; }
    Spinner *progress() const { return m_progress; }
    TextBlock *problemText() const { return m_problemText; }
    TextBlock *headerText() const { return m_header; }
    StyledButton *deleteButton() const { return m_deleteButton; }
    StyledButton *prepareButton() const { return m_prepareButton; }
    StyledButton *saveButton() const { return m_saveButton; }
    StyledButton *cancelButton() const { return m_cancelButton; }
    QWidget *mediaPreview() const { return m_preview; }
    // The picture the preview shows now: the attached thumbnail, else the one
    // loaded from the draft's preview address, else none (the placeholder).
    QImage previewImage() const;

Q_SIGNALS:
    // The sheet is done (cancelled, handed to the composer, saved or deleted).
    void closeRequested();
    void stateChanged();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QCoro::Task<> runAttach(QString path);
    // The keyboard back on the attach button, when the attach left it waiting on the sheet.
    void unparkKeyboard();
    void runSave(ZephylWire::PlanDraft copy);
    // Writes the sheet's work for the account when it changed.
    void keep();
    // Saves the plan; closes once the service has it, else shows why it stays open.
    QCoro::Task<> saveAndClose();
    // Awaits the plan's save, including one already running that carries this
    // change; true when the service has it.
    static QCoro::Task<bool> savedPlan(AppModel &model);
    void sync();
    // The header, the line over the buttons and "Cancel" or "Close", as saved or not.
    void syncSaved();
    bool showsSaved() const;
    // A field was changed by the user.
    void edited();
    void addDeleteButton();

    AppModel &m_model;
    ZephylWire::PlanDraft m_draft;
    PublishFormat m_format;
    QDateTime m_date;
    bool m_hasDate;
    bool m_attaching = false;
    QImage m_attachedThumbnail;
    std::optional<QString> m_problem;
    // What the plan said of another device's changes while this sheet's failed save waited.
    std::optional<QString> m_conflictsSaid;
    // That save went through on the plan's own retry, with the sheet still open.
    bool m_savedByRetry = false;
    bool m_isNew;
    int m_place;
    // The draft as the plan holds it (as given, then as saved): what names it
    // there when the list changes under the sheet (DraftPlace::find).
    ZephylWire::PlanDraft m_shown;
    // The draft is the plan's: not new, or a save has put it there.
    bool m_inPlan;
    bool m_saving = false;
    // Where the work is kept as typed (keepAsTyped), and what was kept last.
    std::optional<Surface> m_keptOn;
    std::optional<KeptDraftEdit> m_kept;
    // The attached file's picture as kept (KeptDraftEdit::picture).
    QByteArray m_picture;
    // The keyboard waits on the sheet while the attach it started runs.
    bool m_keyboardParked = false;
    // The sheet asked to close: what it holds is no longer anyone's work.
    bool m_closed = false;
    // Where the draft stood when a delete took it out, so that saving it after
    // a delete the service never got puts it back in its place.
    std::optional<qsizetype> m_deletedAt;

    TextBlock *m_header = nullptr;
    StyledButton *m_cancelButton = nullptr;
    SegmentedPicker *m_formatPicker = nullptr;
    RoundedField *m_titleField = nullptr;
    QCheckBox *m_plannedBox = nullptr;
    QDateTimeEdit *m_datePicker = nullptr;
    QWidget *m_captionCase = nullptr;
    QPlainTextEdit *m_captionEditor = nullptr;
    RoundedField *m_hashtagsField = nullptr;
    QWidget *m_preview = nullptr;
    StyledButton *m_attachButton = nullptr;
    PlainButton *m_removeButton = nullptr;
    Spinner *m_progress = nullptr;
    QCheckBox *m_hiddenBox = nullptr;
    TextBlock *m_problemText = nullptr;
    QPointer<QWidget> m_actions;
    StyledButton *m_deleteButton = nullptr;
    QHBoxLayout *m_buttons = nullptr;
    StyledButton *m_prepareButton = nullptr;
    StyledButton *m_saveButton = nullptr;
};
