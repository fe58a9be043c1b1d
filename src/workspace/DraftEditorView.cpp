#include "workspace/DraftEditorView.h"

#include "app/AppModel.h"
#include "app/DraftPlace.h"
#include "app/PlanMerge.h"
#include "app/ServiceClient.h"
#include "base/RecordStore.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/Controls.h"
#include "design/GrowingTextField.h"
#include "design/Icons.h"
#include "design/L10n.h"
#include "design/PaletteColors.h"
#include "design/TextBlock.h"
#include "services/media/MediaImporter.h"
#include "workspace/PlannerKit.h"
#include "workspace/ScreenKit.h"

#include <QBuffer>
#include <QCheckBox>
#include <QCoro/QCoroSignal>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTimeZone>

using ZephylPalette::Color;

namespace {

constexpr qsizetype kShownTitle = 1000;
constexpr qsizetype kShownCaption = 20000;

std::shared_ptr<DraftMediaSource> &installedSource()
{
    static std::shared_ptr<DraftMediaSource> source;
    return source;
}

QStringList formatLabels()
{
    QStringList labels;
    for (PublishFormat format : PublishFormats::allCases)
        labels << PublishFormats::label(format);
    return labels;
}

int indexOf(PublishFormat format)
{
    const auto &all = PublishFormats::allCases;
    return int(std::find(all.begin(), all.end(), format) - all.begin());
}

// The 64 x 80 preview of the draft's media, in a rounded box.
class MediaPreviewBox final : public QWidget {
public:
    explicit MediaPreviewBox(const DraftEditorView &editor, QWidget *parent) : QWidget(parent), m_editor(editor)
    {
        setFixedSize(64, 80);
        AppearanceService::repaintOnChange(this);
        connect(&PictureCache::shared(), &PictureCache::settled, this, [this](const QUrl &url) {
            if (m_editor.draft().preview && *m_editor.draft().preview == url)
                update();
        });
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        QPainterPath box;
        box.addRoundedRect(QRectF(rect()), 10, 10);
        painter.setClipPath(box);
        painter.fillPath(box, PaletteColors::color(Color::surfaceSoft));
        const QImage image = m_editor.previewImage();
        if (!image.isNull()) {
            const QSizeF scaled = QSizeF(image.size()).scaled(QSizeF(size()), Qt::KeepAspectRatioByExpanding);
            painter.drawImage(QRectF((width() - scaled.width()) / 2, (height() - scaled.height()) / 2,
                                     scaled.width(), scaled.height()),
                              image);
            return;
        }
        const double side = 22;
        Icons::paint(painter, QStringLiteral("photo"),
                     QRectF((width() - side) / 2, (height() - side) / 2, side, side),
                     PaletteColors::color(Color::muted));
    }

private:
    const DraftEditorView &m_editor;
};

// The attached file's picture to keep with the sheet's work: as large as the
// preview draws it on a doubled screen, a few kilobytes.
QByteArray keptPicture(const QImage &image)
{
    if (image.isNull())
        return {};
    const double scale = std::min(1.0, std::max(128.0 / image.width(), 160.0 / image.height()));
    const QImage small = scale < 1.0 ? image.scaled(QSize(qRound(image.width() * scale), qRound(image.height() * scale)),
                                                    Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                     : image;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    small.save(&buffer, "JPEG", 85);
    return bytes;
}

void applyColors(QWidget *widget)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, PaletteColors::color(Color::background));
    p.setColor(QPalette::Base, PaletteColors::color(Color::surface));
    p.setColor(QPalette::AlternateBase, PaletteColors::color(Color::surfaceSoft));
    p.setColor(QPalette::Button, PaletteColors::color(Color::surfaceSoft));
    p.setColor(QPalette::Text, PaletteColors::color(Color::text));
    p.setColor(QPalette::WindowText, PaletteColors::color(Color::text));
    p.setColor(QPalette::ButtonText, PaletteColors::color(Color::text));
    p.setColor(QPalette::PlaceholderText, PaletteColors::color(Color::muted));
    p.setColor(QPalette::Highlight, PaletteColors::color(Color::accent));
    p.setColor(QPalette::HighlightedText, PaletteColors::color(Color::onAccent));
    p.setColor(QPalette::Disabled, QPalette::Text, PaletteColors::color(Color::muted));
    p.setColor(QPalette::Disabled, QPalette::WindowText, PaletteColors::color(Color::muted));
    widget->setPalette(p);
}

} // namespace

std::optional<QString> ImporterMediaSource::pickFile(QWidget *parent, const QString &title)
{
    if (picker)
        return picker(parent);
    const QList<QUrl> files = MediaImporter::pickFiles(false, title, parent);
    if (files.isEmpty())
        return std::nullopt;
    return files.first().toLocalFile();
}

QCoro::Task<ImportedMedia> ImporterMediaSource::importFile(QString path)
{
    const QUrl url = QUrl::fromLocalFile(path);
    co_return co_await MediaImporter::importFile(url);
}

std::shared_ptr<DraftMediaSource> DraftMediaSource::system()
{
    if (!installedSource())
        installedSource() = std::make_shared<ImporterMediaSource>();
    return installedSource();
}

void DraftMediaSource::setSystem(std::shared_ptr<DraftMediaSource> source) { installedSource() = std::move(source); }

DraftEditorView::DraftEditorView(AppModel &model, const ZephylWire::PlanDraft &draft, bool isNew, int place,
                                 QWidget *parent)
    : QWidget(parent), m_model(model), m_draft(draft), m_format(PublishFormats::fromPlanValue(draft.format)),
      m_isNew(isNew), m_place(place), m_shown(draft), m_inPlan(!isNew)
{
    const auto planned = DraftForms::plannedTime(draft.scheduledAt);
    m_hasDate = planned.has_value();
    m_date = planned ? *planned : model.clock().now().addSecs(3600);

    setFixedWidth(540);
    setAutoFillBackground(false);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(16);

    // 1. Header
    auto *header = new QHBoxLayout;
    m_header = text(isNew ? L10n::t("New draft") : L10n::t("Edit draft"), 20, DesignFonts::Weight::semibold,
                    Color::text, this);
    header->addWidget(m_header, 1, Qt::AlignVCenter);
    m_cancelButton = new StyledButton(L10n::t("Cancel"), QuietButtonStyle(true), this);
    connect(m_cancelButton, &QPushButton::clicked, this, &DraftEditorView::cancel);
    header->addWidget(m_cancelButton, 0, Qt::AlignVCenter);
    column->addLayout(header);

    // 2. Format
    m_formatPicker = new SegmentedPicker(formatLabels(), 492, this);
    m_formatPicker->setAccessibleName(L10n::t("Format"));
    m_formatPicker->setCurrentIndex(indexOf(m_format));
    connect(m_formatPicker, &SegmentedPicker::chosen, this, [this](int index) {
        if (index >= 0 && index < int(PublishFormats::allCases.size()))
            m_format = PublishFormats::allCases[size_t(index)];
        Q_EMIT stateChanged();
    });
    column->addWidget(m_formatPicker);

    // 3. Working title. A stored text far longer than anyone writes is shown
    // cut (laying it out would stall the window) and is written back only once
    // the user edits it, so an untouched one is kept whole.
    RoundedField::Look look;
    look.fontSize = 13;
    look.height = 34;
    look.radius = 8;
    look.padding = 10;
    m_titleField = new RoundedField(L10n::t("Working title"), look, this);
    m_titleField->setText(PlannerKit::shownText(draft.title, kShownTitle));
    m_titleField->setCursorPosition(0);
    connect(m_titleField, &QLineEdit::textEdited, this, [this](const QString &t) {
        m_draft.title = t;
        edited();
    });
    column->addWidget(m_titleField);

    // 4. Planned for
    auto *dateRow = new QHBoxLayout;
    dateRow->setSpacing(12);
    m_plannedBox = new QCheckBox(L10n::t("Planned for"), this);
    FocusRing::strengthen(m_plannedBox);
    m_plannedBox->setChecked(m_hasDate);
    dateRow->addWidget(m_plannedBox);
    // The date as the plan row shows it, in the language in use.
    m_datePicker = new DateTimeField(this);
    m_datePicker->setAccessibleName(L10n::t("Planned for"));
    m_datePicker->setDateTime(m_date.toLocalTime());
    m_datePicker->setEnabled(m_hasDate);
    connect(m_plannedBox, &QCheckBox::toggled, this, [this](bool on) {
        m_hasDate = on;
        // Unticked keeps the time, so ticking again brings it back.
        m_datePicker->setEnabled(on);
        Q_EMIT stateChanged();
    });
    connect(m_datePicker, &QDateTimeEdit::dateTimeChanged, this, [this](const QDateTime &value) {
        m_date = value;
        Q_EMIT stateChanged();
    });
    dateRow->addWidget(m_datePicker);
    dateRow->addStretch(1);
    column->addLayout(dateRow);

    // 5. Caption, in view with its label when it takes the keyboard
    auto *captionGroup = new QWidget(this);
    viewTogether(captionGroup);
    auto *captionColumn = new QVBoxLayout(captionGroup);
    captionColumn->setContentsMargins(0, 0, 0, 0);
    captionColumn->setSpacing(6);
    captionColumn->addWidget(text(L10n::t("Caption"), 12, DesignFonts::Weight::semibold, Color::muted, captionGroup));
    // The editor sits inside the rounded card, clear of its corners.
    auto *captionCase = new QWidget(captionGroup);
    m_captionCase = captionCase;
    auto *captionInside = new QVBoxLayout(captionCase);
    captionInside->setContentsMargins(6, 6, 6, 6);
    m_captionEditor = new QPlainTextEdit(captionCase);
    m_captionEditor->setFont(DesignFonts::system(13, DesignFonts::Weight::regular));
    alignToLeadingSide(m_captionEditor);
    ScrollBars::follow(m_captionEditor->verticalScrollBar()); // a long caption scrolls
    m_captionEditor->setFixedHeight(120);
    m_captionEditor->setFrameShape(QFrame::NoFrame);
    m_captionEditor->setPlainText(PlannerKit::shownText(draft.caption, kShownCaption));
    m_captionEditor->setObjectName(QStringLiteral("caption"));
    m_captionEditor->setAccessibleName(L10n::t("Caption"));
    m_captionEditor->setStyleSheet(QString());
    // A caption has no use for a tab character: Tab moves on, as in every other field.
    m_captionEditor->setTabChangesFocus(true);
    FieldRing::follow(m_captionEditor, this);
    connect(m_captionEditor, &QPlainTextEdit::textChanged, this, [this] {
        m_draft.caption = m_captionEditor->toPlainText();
        edited();
    });
    captionInside->addWidget(m_captionEditor);
    captionColumn->addWidget(captionCase);
    column->addWidget(captionGroup);

    // 6. Hashtags
    m_hashtagsField = new RoundedField(L10n::t("Hashtags, optional"), look, this);
    m_hashtagsField->setText(PlannerKit::shownText(draft.hashtags, kShownTitle));
    connect(m_hashtagsField, &QLineEdit::textEdited, this, [this](const QString &t) {
        m_draft.hashtags = t;
        edited();
    });
    column->addWidget(m_hashtagsField);

    // 7. Media: the picture, its buttons and the grid's box come into view together
    auto *media = new QWidget(this);
    viewTogether(media);
    auto *mediaRow = new QHBoxLayout(media);
    mediaRow->setContentsMargins(0, 0, 0, 0);
    mediaRow->setSpacing(12);
    m_preview = new MediaPreviewBox(*this, media);
    mediaRow->addWidget(m_preview, 0, Qt::AlignTop);
    auto *mediaControls = new QVBoxLayout;
    mediaControls->setSpacing(6);
    m_attachButton = new StyledButton(QString(), QuietButtonStyle(true), media);
    connect(m_attachButton, &QPushButton::clicked, this, &DraftEditorView::attachMedia);
    mediaControls->addWidget(m_attachButton, 0, Qt::AlignLeading);
    m_removeButton = new PlainButton(L10n::t("Remove media"), DesignFonts::system(12, DesignFonts::Weight::regular),
                                     Color::muted, media);
    setUpButton(m_removeButton);
    connect(m_removeButton, &QAbstractButton::clicked, this, &DraftEditorView::removeMedia);
    mediaControls->addWidget(m_removeButton, 0, Qt::AlignLeading);
    m_progress = new Spinner(media);
    mediaControls->addWidget(m_progress, 0, Qt::AlignLeading);
    mediaControls->addStretch(1);
    mediaRow->addLayout(mediaControls);
    mediaRow->addStretch(1);
    m_hiddenBox = new QCheckBox(L10n::t("Hide from grid"), media);
    FocusRing::strengthen(m_hiddenBox);
    m_hiddenBox->setChecked(draft.hiddenFromGrid);
    connect(m_hiddenBox, &QCheckBox::toggled, this, [this](bool on) {
        m_draft.hiddenFromGrid = on;
        edited();
    });
    mediaRow->addWidget(m_hiddenBox, 0, Qt::AlignTop);
    column->addWidget(media);

    // 8. Problem, over 9. the buttons, as one piece: taken into a sheet's
    // footer, a save that failed is said beside the button that was pressed,
    // however far the fields above are scrolled.
    m_actions = new QWidget(this);
    auto *footer = new QVBoxLayout(m_actions);
    footer->setContentsMargins(0, 0, 0, 0);
    footer->setSpacing(column->spacing());
    m_problemText = text(QString(), 12, DesignFonts::Weight::regular, Color::attention, m_actions);
    footer->addWidget(m_problemText);
    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(10);
    footer->addLayout(buttons);
    m_buttons = buttons;
    if (!isNew)
        addDeleteButton();
    buttons->addStretch(1);
    m_prepareButton = new StyledButton(L10n::t("Prepare publication"), QuietButtonStyle(false), m_actions);
    connect(m_prepareButton, &QPushButton::clicked, this, &DraftEditorView::preparePublication);
    buttons->addWidget(m_prepareButton);
    m_saveButton = new StyledButton(L10n::t("Save draft"), PrimaryButtonStyle(false), m_actions);
    connect(m_saveButton, &QPushButton::clicked, this, &DraftEditorView::save);
    buttons->addWidget(m_saveButton);
    column->addWidget(m_actions);

    applyColors(this);
    connect(&AppearanceService::shared(), &AppearanceService::appearanceChanged, this, [this] {
        applyColors(this);
        update();
    });
    connect(this, &DraftEditorView::stateChanged, this, &DraftEditorView::sync);
    connect(this, &DraftEditorView::stateChanged, this, &DraftEditorView::keep);
    // A failed save is retried by the plan itself: once that goes through, the
    // sheet kept open no longer says its changes are unsaved. What the retry
    // said of another device's changes would be hidden under the sheet: said here.
    connect(&m_model, &AppModel::planConflictsSaid, this, [this](const QString &said) {
        if (m_problem == m_model.planUnsavedText())
            m_conflictsSaid = said;
    });
    connect(&m_model, &AppModel::planUnsavedChanged, this, [this] {
        if (m_model.planUnsaved() || m_problem != m_model.planUnsavedText())
            return;
        m_problem = std::exchange(m_conflictsSaid, std::nullopt);
        // A delete the service now has is done: the sheet goes, as after one that went at once.
        if (m_deletedAt) {
            Q_EMIT closeRequested();
            return;
        }
        // The draft is the service's now: the sheet edits it as saved.
        if (!std::exchange(m_savedByRetry, true) && !m_deleteButton)
            addDeleteButton();
        Q_EMIT stateChanged();
    });
    connect(this, &DraftEditorView::closeRequested, this, [this] {
        m_closed = true;
        // Saved, deleted, handed on or dropped: nothing of it waits to be offered again.
        if (m_keptOn)
            m_model.forgetDraftEdit(keptEdit(*m_keptOn));
    });
    sync();
}

DraftEditorView::~DraftEditorView()
{
    // Taken into a sheet's footer, the buttons go with the editor.
    if (m_actions && m_actions->parent() != this)
        delete m_actions.data();
}

QWidget *DraftEditorView::takeActions()
{
    if (m_actions->parent() != this)
        return m_actions;
    auto *column = static_cast<QVBoxLayout *>(layout());
    column->removeWidget(m_actions);
    QMargins inset = column->contentsMargins();
    inset.setBottom(0);
    column->setContentsMargins(inset);
    m_actions->setParent(nullptr);
    return m_actions;
}

DraftEditorView *DraftEditorView::open(AppModel &model, const ZephylWire::PlanDraft &draft, bool isNew, int place,
                                       Surface surface)
{
    auto *editor = new DraftEditorView(model, draft, isNew, place);
    if (const auto kept = model.keptDraftEdit(isNew, draft, place))
        editor->restore(*kept);
    editor->keepAsTyped(surface);
    return editor;
}

void DraftEditorView::addDeleteButton()
{
    ButtonStyle destructive = QuietButtonStyle(false);
    destructive.labelColor = Color::attention;
    m_deleteButton = new StyledButton(L10n::t("Delete"), destructive, m_actions);
    connect(m_deleteButton, &QPushButton::clicked, this, &DraftEditorView::requestDelete);
    m_buttons->insertWidget(0, m_deleteButton);
}

bool DraftEditorView::showsSaved() const
{
    if (!m_savedByRetry || m_problem || m_saving)
        return false;
    // Nothing changed since: what other clients wrote on it is no change of the sheet's.
    ZephylWire::PlanDraft now = savedCopy();
    now.others = m_shown.others;
    return now == m_shown;
}

void DraftEditorView::syncSaved()
{
    // Saved by the plan's retry after the sheet's own save failed: it says so,
    // and closing it drops nothing until something is changed again.
    const bool saved = showsSaved();
    m_header->setText(m_isNew && !m_savedByRetry ? L10n::t("New draft") : L10n::t("Edit draft"));
    m_cancelButton->setText(saved ? L10n::t("Close") : L10n::t("Cancel"));
    m_problemText->setColorRole(m_problem ? Color::attention : Color::settled);
    m_problemText->setText(m_problem ? *m_problem : saved ? L10n::t("Saved to the plan.") : QString());
    m_problemText->setVisible(m_problem || saved);
}

void DraftEditorView::edited()
{
    keep();
    syncSaved();
}

void DraftEditorView::sync()
{
    m_attachButton->setText(m_draft.mediaId ? L10n::t("Replace media") : L10n::t("Attach media"));
    m_attachButton->setEnabled(!m_attaching);
    m_removeButton->setVisible(m_draft.mediaId.has_value());
    m_progress->setVisible(m_attaching);
    m_saveButton->setEnabled(!m_attaching);
    m_formatPicker->setCurrentIndex(indexOf(m_format));
    syncSaved();
    m_preview->update();
}

QImage DraftEditorView::previewImage() const
{
    if (!m_attachedThumbnail.isNull())
        return m_attachedThumbnail;
    if (m_draft.preview) {
        const qreal ratio = devicePixelRatioF();
        return PictureCache::shared().picture(*m_draft.preview, QSize(int(64 * ratio), int(80 * ratio)));
    }
    return {};
}

void DraftEditorView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), PaletteColors::color(Color::background));
    // The caption's box: surface, radius 10, a hairline outline.
    FieldRing::paint(painter, this, QRect(m_captionCase->mapTo(this, QPoint()), m_captionCase->size()), 10,
                     PaletteColors::color(Color::line));
}

void DraftEditorView::attachMedia()
{
    if (m_attaching)
        return;
    const std::optional<QString> file = DraftMediaSource::system()->pickFile(this, m_attachButton->text());
    if (!file)
        return; // cancelled: nothing changes, not even the problem
    // The attach button is held while the file goes up: the keyboard waits on
    // the sheet itself meanwhile, not on whatever control comes next in line
    // (the sheet's first, "Cancel"), and goes back to the button afterwards.
    m_keyboardParked = window()->focusWidget() == m_attachButton;
    if (m_keyboardParked)
        setFocus(Qt::OtherFocusReason);
    m_attaching = true;
    m_problem.reset();
    Q_EMIT stateChanged();
    runAttach(*file);
}

void DraftEditorView::unparkKeyboard()
{
    // Unless the user has taken the keyboard elsewhere meanwhile.
    if (std::exchange(m_keyboardParked, false) && window()->focusWidget() == this && m_attachButton->isEnabled())
        m_attachButton->setFocus(Qt::OtherFocusReason);
}

QCoro::Task<> DraftEditorView::runAttach(QString path)
{
    const QPointer<DraftEditorView> self(this);
    AppModel &model = m_model;
    const std::shared_ptr<DraftMediaSource> source = DraftMediaSource::system();
    std::exception_ptr error;
    std::optional<ImportedMedia> media;
    QString mediaId;
    std::optional<QString> posterId;
    try {
        ImportedMedia imported = co_await source->importFile(path);
        media = std::move(imported);
        if (!self)
            co_return;
        // Named first: GCC 12 may destroy a temporary inside a co_await twice.
        const MediaUpload::MediaSource upload = media->data.source();
        const QString contentType = media->contentType;
        const QString fileName = media->fileName;
        mediaId = co_await model.api().uploadInstagramMedia(upload, contentType, fileName);
        if (!self)
            co_return;
        // A failed poster upload drops the new media id: the draft keeps its former media.
        if (media->kind == ImportedMedia::Kind::video) {
            const ImportedMedia video = *media;
            posterId = co_await model.uploadPoster(video);
        }
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return;
    if (error) {
        m_problem = AppModel::describe(error);
        // A session the service ended ends here as everywhere.
        if (AppModel::isSessionFailure(error))
            model.expireSession();
    } else {
        m_draft.mediaId = mediaId;
        m_draft.posterMediaId = posterId;
        // The service's preview stays until the service has the new media; the
        // new thumbnail, when there is one, shows in front of it meanwhile.
        m_attachedThumbnail = media->thumbnail ? MediaImporter::thumbnailImage(*media->thumbnail) : QImage();
        m_picture = keptPicture(m_attachedThumbnail);
        if (media->kind == ImportedMedia::Kind::video && m_format != PublishFormat::reel &&
            m_format != PublishFormat::story)
            m_format = PublishFormat::reel;
    }
    m_attaching = false;
    Q_EMIT stateChanged();
    unparkKeyboard();
}

void DraftEditorView::removeMedia()
{
    m_draft.mediaId.reset();
    m_draft.posterMediaId.reset();
    m_draft.preview.reset();
    m_attachedThumbnail = QImage();
    m_picture.clear();
    Q_EMIT stateChanged();
}

KeptDraftEdit DraftEditorView::keptEdit(Surface surface) const
{
    // Once sent into the plan, a new draft is the plan's: kept as that draft's
    // edit, not offered again to the next new draft (whose save would replace it).
    return KeptDraftEdit{m_draft, m_isNew && !m_inPlan, m_format, m_date,  m_hasDate,
                         surface, m_place,                m_picture, false, m_shown};
}

void DraftEditorView::keepAsTyped(Surface surface)
{
    m_keptOn = surface;
    if (!m_kept) {
        m_kept = keptEdit(surface);
    } else if (!m_kept->sameDraft(keptEdit(surface))) {
        // Kept under the place its draft had among its twins then: kept under the one it has now.
        m_model.forgetDraftEdit(*m_kept);
        keep();
    }
    const auto account = [this] { return m_model.user() ? RecordStore::ownerKey(m_model.user()->email) : QString(); };
    connect(&m_model, &AppModel::userChanged, this, [this, account, opened = account()] {
        // Another account found signed in under the sheet: the draft and what
        // was typed for it stay the account's that opened it.
        if (m_closed || account().isEmpty() || account() == opened)
            return;
        m_keptOn.reset();
        Q_EMIT closeRequested();
    });
    connect(&m_model, &AppModel::sessionExpiring, this, [this, surface] {
        if (m_closed)
            return;
        KeptDraftEdit edit = keptEdit(surface);
        edit.reopen = true;
        m_model.keepDraftEdit(edit);
    });
}

void DraftEditorView::keep()
{
    // Only a change is written; opening a sheet writes nothing.
    if (!m_keptOn || m_closed)
        return;
    const KeptDraftEdit edit = keptEdit(*m_keptOn);
    if (m_kept && *m_kept == edit)
        return;
    m_model.keepDraftEdit(edit);
    m_kept = edit;
}

void DraftEditorView::restore(const KeptDraftEdit &edit)
{
    m_draft = edit.draft;
    m_format = edit.format;
    m_date = edit.date;
    m_hasDate = edit.hasDate;
    m_picture = edit.picture;
    m_attachedThumbnail = QImage::fromData(edit.picture);
    {
        // Shown as kept, not typed again: nothing is written for it.
        const QSignalBlocker blockTitle(m_titleField);
        const QSignalBlocker blockCaption(m_captionEditor);
        const QSignalBlocker blockHashtags(m_hashtagsField);
        const QSignalBlocker blockHidden(m_hiddenBox);
        const QSignalBlocker blockBox(m_plannedBox);
        const QSignalBlocker blockPicker(m_datePicker);
        m_titleField->setText(PlannerKit::shownText(m_draft.title, kShownTitle));
        m_titleField->setCursorPosition(0);
        m_captionEditor->setPlainText(PlannerKit::shownText(m_draft.caption, kShownCaption));
        m_hashtagsField->setText(PlannerKit::shownText(m_draft.hashtags, kShownTitle));
        m_hiddenBox->setChecked(m_draft.hiddenFromGrid);
        // The picker shows minutes; the time kept is the one taken back, whole.
        m_plannedBox->setChecked(m_hasDate);
        m_datePicker->setDateTime(m_date.toLocalTime());
        m_datePicker->setEnabled(m_hasDate);
    }
    KeptDraftEdit kept = edit;
    kept.reopen = false;
    m_kept = kept;
    Q_EMIT stateChanged();
}

ZephylWire::PlanDraft DraftEditorView::savedCopy() const
{
    return DraftForms::written(m_draft, m_format, m_hasDate ? std::optional(m_date) : std::nullopt);
}

void DraftEditorView::save()
{
    if (m_attaching)
        return;
    runSave(savedCopy());
}

QCoro::Task<bool> DraftEditorView::savedPlan(AppModel &model)
{
    const QPointer<AppModel> alive(&model);
    co_await model.savePlan();
    // A save already under way carries this change too; its end decides.
    while (alive && alive->planSaving())
        co_await qCoro(alive.data(), &AppModel::planSavingChanged);
    co_return alive && !alive->planUnsaved();
}

void DraftEditorView::runSave(ZephylWire::PlanDraft copy)
{
    AppModel &model = m_model;
    QList<ZephylWire::PlanDraft> drafts = model.planDrafts();
    // This draft, not another the service holds under its id; after a delete
    // the service never got, it is no longer in the plan and goes back to its place.
    qsizetype at = m_deletedAt ? -1 : DraftPlace::find(drafts, m_shown, m_place);
    if (at >= 0) {
        // Only what was changed here: the plan may hold another device's change since the sheet opened.
        // A field only written in the sheet's own form (a date with a fraction of a second) was not changed.
        const ZephylWire::PlanDraft untouched =
            DraftForms::written(m_shown, PublishFormats::fromPlanValue(m_shown.format),
                                DraftForms::plannedTime(m_shown.scheduledAt));
        drafts[at] = PlanMerge::edited(untouched, copy, drafts[at]);
        // Nothing here edits what other clients wrote on it: shown from now on as the plan holds it.
        copy.others = drafts[at].others;
    }
    // Gone from the plan since the sheet took it, deleted here by nobody: a
    // read of the plan found another device had deleted it. Kept, and said.
    const bool deletedThere = at < 0 && m_inPlan && !m_deletedAt;
    if (at < 0) {
        at = m_deletedAt ? std::min(*m_deletedAt, drafts.size()) : drafts.size();
        drafts.insert(at, copy);
        m_deletedAt.reset();
    }
    // The work is kept from now on as that of the draft the plan holds there.
    const std::optional<KeptDraftEdit> before = m_keptOn ? std::optional(keptEdit(*m_keptOn)) : std::nullopt;
    m_place = DraftPlace::at(drafts, at);
    m_shown = copy;
    m_inPlan = true;
    if (before && !before->sameDraft(keptEdit(*m_keptOn)))
        m_model.forgetDraftEdit(*before);
    model.setPlanDrafts(std::move(drafts));
    if (deletedThere)
        model.sayKeptChanged({copy});
    keep();
    saveAndClose();
}

QCoro::Task<> DraftEditorView::saveAndClose()
{
    const QPointer<DraftEditorView> self(this);
    m_saving = true;
    const bool saved = co_await savedPlan(m_model);
    if (!self)
        co_return;
    m_saving = false;
    if (saved) {
        Q_EMIT closeRequested();
        co_return;
    }
    // Kept open with the working copy: the user may try again.
    m_problem = m_model.planUnsavedText();
    Q_EMIT stateChanged();
}

void DraftEditorView::preparePublication()
{
    m_model.openComposer(ComposerPrefill{m_format, m_draft.title, m_draft.caption, m_draft.hashtags});
    Q_EMIT closeRequested();
}

void DraftEditorView::requestDelete()
{
    auto *dialog = new ConfirmationDialog(L10n::t("Delete this draft?"), std::nullopt, L10n::t("Delete"), this);
    connect(dialog, &ConfirmationDialog::confirmed, this, &DraftEditorView::confirmDelete);
    dialog->open();
}

void DraftEditorView::confirmDelete()
{
    if (const qsizetype at = PlannerKit::removeDraft(m_model, m_shown, m_place); at >= 0)
        m_deletedAt = at;
    saveAndClose();
}

void DraftEditorView::cancel() { Q_EMIT closeRequested(); }
