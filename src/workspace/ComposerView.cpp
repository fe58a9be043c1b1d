// The composer sheet: header, editor or outcome, footer, the confirmation and
// the publishing overlay, and the sheet's drop target.
#include "workspace/ComposerView.h"

#include "app/AppModel.h"
#include "app/ComposerActions.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/Controls.h"
#include "design/L10n.h"
#include "design/ServiceDomain.h"
#include "design/PaletteColors.h"
#include "design/ReadingOrder.h"
#include "design/StatusPill.h"
#include "design/TextBlock.h"
#include "design/Titles.h"
#include "services/WireModels.h"
#include "services/media/MediaImporter.h"
#include "workspace/ComposerParts.h"
#include "workspace/ScreenKit.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QStackedLayout>
#include <QTimer>

using ZephylPalette::Color;

namespace {

QWidget *rule(QWidget *parent)
{
    auto *line = new Backdrop(Color::line, 1.0, parent);
    line->setFixedHeight(1);
    return line;
}

QList<QUrl> localFiles(const QMimeData *data)
{
    QList<QUrl> files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            files.append(url);
    }
    return files;
}

} // namespace

ComposerView::Hooks &ComposerView::defaultHooks()
{
    static Hooks hooks;
    return hooks;
}

ComposerView::ComposerView(AppModel &model, QWidget *parent)
    : QWidget(parent), m_model(model), m_hooks(defaultHooks())
{
    if (!m_hooks.importFile)
        m_hooks.importFile = [](QUrl url) { return MediaImporter::importFile(std::move(url)); };
    if (!m_hooks.pickFiles)
        m_hooks.pickFiles = [](bool multiple, const QString &title, QWidget *anchor) {
            return MediaImporter::pickFiles(multiple, title, anchor);
        };
    if (!m_hooks.openURL)
        m_hooks.openURL = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    m_state = std::make_unique<ComposerState>(model.clock(), m_hooks.importFile);
    m_owner = model.accountIdentity();
    if (const auto returned = model.takeReturnedComposerPost()) {
        m_state->restore(*returned);
        m_keptPost = returned;
        // Sent before the kill without an answer: what went under its keys.
        for (const QString &key : {returned->idempotencyKey, returned->draftIdempotencyKey}) {
            if (const auto pending = model.pendingPublication(key))
                m_state->noteSent(*pending);
        }
    } else if (model.composerPrefill()) {
        m_state->apply(*model.composerPrefill());
    }
    // Handed from a draft editor, whose own copy goes as it closes: kept at once.
    keepPost();

    setAcceptDrops(true);
    // A click on its ground gives it the keyboard (for Escape); Tab passes it by for its controls.
    setFocusPolicy(Qt::ClickFocus);
    AppearanceService::repaintOnChange(this);
    build();
    connect(m_state.get(), &ComposerState::changed, this, &ComposerView::refresh);
    connect(m_state.get(), &ComposerState::changed, this, &ComposerView::keepPost);
    connect(m_state.get(), &ComposerState::savedToPlan, this, &ComposerView::forgetPost);
    ComposerActions::followPlan(model, *m_state);
    connect(&model, &AppModel::publicationSettled, this, [this](const QString &key) {
        // What became of this post, when the page says it is not known, or
        // when it is being edited again (reopened after a restart, or back
        // from that page): sent again without knowing, it could go twice.
        const ComposerState &s = *m_state;
        const bool draft = key == s.draftIdempotencyKey();
        const bool ours = key == s.idempotencyKey() || draft;
        const bool open = !s.outcome() || s.outcome()->kind == PublishOutcome::Kind::unknown;
        if (!ours || !open || s.sending() || m_model.publishing())
            return;
        if (const auto outcome = m_model.takeSettledOutcome(key))
            m_state->settled(*outcome, draft);
    });
    connect(&model, &AppModel::publishingChanged, this, &ComposerView::refresh);
    connect(&model, &AppModel::instagramChanged, this, &ComposerView::refresh);
    connect(&model, &AppModel::languageChanged, this, [this] {
        // After the current event: the change may come from a control of this sheet.
        if (m_rebuildPending)
            return;
        m_rebuildPending = true;
        QTimer::singleShot(0, this, [this] {
            m_rebuildPending = false;
            rebuild();
        });
    });
    m_tick = model.clock().every(std::chrono::seconds(1), [this] { refresh(); });
    refresh();
}

ComposerView::~ComposerView()
{
    // The pieces work on the state: they go first.
    m_state->disconnect(this);
    qDeleteAll(findChildren<QWidget *>(Qt::FindDirectChildrenOnly));
    // A save to the plan under way still puts the post into the plan; the
    // post goes once it has ended (or with the model).
    if (m_state->savingToPlan()) {
        ComposerState *left = m_state.release();
        left->sheetClosed = true;
        left->setParent(&m_model);
        connect(left, &ComposerState::changed, left, [left] {
            if (!left->savingToPlan())
                left->deleteLater();
        });
    }
}

void ComposerView::build()
{
    m_body = new QWidget(this);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_body);
    auto *column = new QVBoxLayout(m_body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Header: the title, the connection and "Close".
    auto *header = new QWidget(m_body);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(26, 18, 26, 18);
    headerRow->setSpacing(10);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(4);
    titles->addWidget(new Eyebrow(L10n::t("Composer"), header));
    titles->addWidget(new TextBlock(L10n::t("Prepare a publication"),
                                    DesignFonts::serif(22, DesignFonts::Weight::semibold), Color::text, header));
    headerRow->addLayout(titles, 1);
    m_pill = new StatusPill(QString(), PillTone::neutral, header);
    headerRow->addWidget(m_pill, 0, Qt::AlignVCenter);
    m_close = new StyledButton(L10n::t("Close"), QuietButtonStyle(true), header);
    connect(m_close, &QAbstractButton::clicked, this, [this] { requestDismiss(); });
    headerRow->addWidget(m_close, 0, Qt::AlignVCenter);
    column->addWidget(header);
    column->addWidget(rule(m_body));

    // The content: the editor, or the outcome page once there is one.
    m_content = new QWidget(m_body);
    m_pages = new QStackedLayout(m_content);
    m_editor = new ComposerEditor(*this, m_content);
    m_pages->addWidget(m_editor);
    column->addWidget(m_content, 1);

    m_footerRule = rule(m_body);
    column->addWidget(m_footerRule);
    m_footer = new QWidget(m_body);
    auto *footerRow = new QHBoxLayout(m_footer);
    footerRow->setContentsMargins(26, 16, 26, 16);
    footerRow->setSpacing(10);
    m_saveToPlan = new StyledButton(L10n::t("Save to plan"), QuietButtonStyle(false), m_footer);
    connect(m_saveToPlan, &QAbstractButton::clicked, this, [this] { ComposerActions::saveToPlan(m_model, *m_state); });
    footerRow->addWidget(m_saveToPlan);
    m_saveDraft = new StyledButton(L10n::t("Save as draft on the server"), QuietButtonStyle(false), m_footer);
    connect(m_saveDraft, &QAbstractButton::clicked, this, [this] { ComposerActions::saveDraft(m_model, *m_state); });
    footerRow->addWidget(m_saveDraft);
    footerRow->addStretch(1);
    m_message = new TextBlock(QString(), DesignFonts::system(12.5, DesignFonts::Weight::regular), Color::muted, m_footer);
    // Wrapped rather than cut: beside long buttons (French, German) even the
    // first rule's sentence needs a second line.
    footerRow->addWidget(m_message);
    m_publish = new StyledButton(QString(), PrimaryButtonStyle(false), m_footer);
    // Only opens the confirmation; nothing goes out from here.
    connect(m_publish, &QAbstractButton::clicked, this, [this] { m_state->setConfirming(true); });
    footerRow->addWidget(m_publish);
    column->addWidget(m_footer);
    claimFileDrops();
}

void ComposerView::claimFileDrops()
{
    for (QWidget *child : findChildren<QWidget *>()) {
        if (child->acceptDrops())
            child->installEventFilter(this);
    }
}

bool ComposerView::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        if (localFiles(drop->mimeData()).isEmpty())
            break; // words dragged into a field stay the field's
        if (event->type() == QEvent::Drop) {
            dropEvent(drop);
        } else {
            drop->acceptProposedAction();
            m_state->setDropTargeted(true);
        }
        return true;
    }
    case QEvent::DragLeave: m_state->setDropTargeted(false); break;
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

void ComposerView::rebuild()
{
    // Words change with the language; the post stays, it lives in the state.
    delete m_confirmation;
    delete m_overlay;
    delete m_outcome;
    delete m_body;
    delete layout();
    build();
    refresh();
}

void ComposerView::refresh()
{
    // Under the overlay nothing of the post can be used: the keyboard waits on
    // the composer itself (Escape still reaches the sheet), not on nothing.
    if (m_model.publishing() || m_state->sending()) {
        QWidget *focus = QApplication::focusWidget();
        if (focus && focus != this && isAncestorOf(focus))
            setFocus(Qt::OtherFocusReason);
    }
    if (const auto &account = m_model.instagram()) {
        m_pill->setText(handle(account->username));
        m_pill->setTone(PillTone::settled);
    } else if (!m_model.instagramKnown()) {
        // Off line nothing says the account is not connected: the service is what is missing.
        m_pill->setText(L10n::t(ZEPHYL_SERVICE_DOMAIN " can't be reached"));
        m_pill->setTone(PillTone::neutral);
    } else {
        m_pill->setText(L10n::t("Instagram not connected"));
        m_pill->setTone(PillTone::attention);
    }
    const ComposerActions::Footer footer = ComposerActions::footer(m_model, *m_state);
    m_close->setEnabled(footer.close);
    m_saveToPlan->setEnabled(footer.saveToPlan);
    m_saveDraft->setEnabled(footer.saveDraft);
    m_publish->setEnabled(footer.publish);
    m_publish->setText(m_state->scheduleLater() ? L10n::t("Schedule…") : L10n::t("Publish now…"));
    const std::optional<QString> message = m_state->validationMessage();
    m_message->setText(message.value_or(QString()));
    m_message->setVisible(message.has_value());
    m_editor->refresh();
    followOutcome();
    followConfirming();
    followPublishing();
}

void ComposerView::followOutcome()
{
    const std::optional<PublishOutcome> &outcome = m_state->outcome();
    if (m_outcome && outcome != m_shownOutcome) {
        m_pages->removeWidget(m_outcome);
        m_outcome->deleteLater(); // its own button may be what cleared the outcome
        m_outcome = nullptr;
    }
    const bool made = outcome && !m_outcome;
    if (made) {
        m_outcome = new ComposerOutcomeView(*outcome, *this, m_content);
        m_pages->addWidget(m_outcome);
    }
    m_shownOutcome = outcome;
    m_pages->setCurrentWidget(m_outcome ? static_cast<QWidget *>(m_outcome) : m_editor);
    m_footer->setVisible(!outcome);
    m_footerRule->setVisible(!outcome);
    // The keyboard the composer held goes on to the page that now shows.
    QWidget *focus = QApplication::focusWidget();
    if (made && (!focus || focus == this || isAncestorOf(focus))) {
        for (QWidget *control : ReadingOrder::controls(m_outcome)) {
            if (control->isVisible() && control->isEnabled()) {
                control->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
}

void ComposerView::followConfirming()
{
    if (!m_state->confirming()) {
        if (m_confirmation) {
            m_confirmation->hide();
            m_confirmation->deleteLater();
            m_confirmation = nullptr;
        }
        return;
    }
    if (!m_confirmation) {
        std::optional<QString> username;
        if (m_model.instagram())
            username = m_model.instagram()->username;
        m_confirmation = new ComposerConfirmationSheet(*m_state, username, this);
        connect(m_confirmation, &ComposerConfirmationSheet::back, this, [this] { m_state->setConfirming(false); });
        connect(m_confirmation, &ComposerConfirmationSheet::confirmed, this,
                [this] { ComposerActions::confirm(m_model, *m_state); });
        m_confirmation->setGeometry(rect());
        m_confirmation->show();
        m_confirmation->raise();
        FocusRing::give(m_confirmation->confirmButton());
    }
    m_confirmation->refresh();
}

void ComposerView::followPublishing()
{
    std::optional<PublishProgress> progress = m_model.publishing();
    // Confirmed, but an import is still landing: the handover has begun for the user.
    if (!progress && m_state->sending())
        progress = PublishProgress{L10n::t("Preparing…"), 0.0};
    // Under the overlay the post cannot be changed, by the keyboard either.
    m_editor->setEnabled(!progress);
    if (!progress) {
        if (m_overlay) {
            m_overlay->hide();
            m_overlay->deleteLater();
            m_overlay = nullptr;
        }
        return;
    }
    if (!m_overlay) {
        m_overlay = new PublishingOverlay(m_content);
        m_overlay->setGeometry(m_content->rect());
        m_overlay->raise();
    }
    m_overlay->show(*progress);
}

void ComposerView::placeLayers()
{
    if (m_confirmation)
        m_confirmation->setGeometry(rect());
    if (m_overlay)
        m_overlay->setGeometry(m_content->rect());
}

void ComposerView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeLayers();
}

bool ComposerView::requestDismiss()
{
    // Closing mid-handover would hide a publication that is still going out.
    if (m_model.publishing() || m_state->sending())
        return false;
    if (m_state->confirming()) {
        m_state->setConfirming(false);
        return false;
    }
    // Put away by the user: nothing of it comes back.
    forgetPost();
    m_postPutAway = true;
    m_model.setComposerPresented(false);
    return true;
}

void ComposerView::keepPost()
{
    // Only for the account it was opened for, while that one is signed in.
    if (m_postPutAway || m_owner.isEmpty() || m_model.accountIdentity() != m_owner)
        return;
    // Published, scheduled or saved on the server: it is out, nothing to keep
    // (but for changes made after an earlier version went).
    const std::optional<PublishOutcome> &outcome = m_state->outcome();
    std::optional<KeptComposerPost> post = m_state->keptPost();
    if (!post->worthKeeping() || (outcome && outcome->wentOut() && !m_state->earlierVersion()))
        post.reset();
    if (post == m_keptPost)
        return;
    if (post)
        m_model.keptComposer().save(m_owner, *post);
    else
        m_model.keptComposer().remove(m_owner);
    m_keptPost = post;
}

void ComposerView::forgetPost()
{
    if (m_owner.isEmpty() || m_model.accountIdentity() != m_owner)
        return;
    m_model.keptComposer().remove(m_owner);
    m_keptPost.reset();
}

void ComposerView::pickFiles(const QString &title)
{
    const QList<QUrl> urls = m_hooks.pickFiles(m_state->format() == PublishFormat::carousel, title, window());
    if (!urls.isEmpty())
        m_state->addFiles(urls);
}

void ComposerView::pickCover(const QString &title)
{
    const QList<QUrl> urls = m_hooks.pickFiles(false, title, window());
    if (!urls.isEmpty())
        m_state->addCover(urls.first());
}

void ComposerView::openPost(const std::optional<QUrl> &url)
{
    // The address comes from the server: only Instagram's own https pages are opened.
    const std::optional<QString> text = url ? std::optional(url->toString(QUrl::FullyEncoded)) : std::nullopt;
    if (const std::optional<QUrl> safe = ZephylWire::InstagramFeedItem::safeInstagramURL(text))
        m_hooks.openURL(*safe);
}

bool ComposerView::handleDrop(const QMimeData *data)
{
    const QList<QUrl> files = localFiles(data);
    if (files.isEmpty())
        return false;
    m_state->addFiles(files);
    return true;
}

QAbstractButton *ComposerView::closeButton() const { return m_close; }
ComposerConfirmationSheet *ComposerView::confirmation() const { return m_confirmation; }
PublishingOverlay *ComposerView::publishingOverlay() const { return m_overlay; }
ComposerOutcomeView *ComposerView::outcomePage() const { return m_outcome; }
QAbstractButton *ComposerView::saveToPlanButton() const { return m_saveToPlan; }
QAbstractButton *ComposerView::saveDraftButton() const { return m_saveDraft; }
QAbstractButton *ComposerView::publishButton() const { return m_publish; }

void ComposerView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), PaletteColors::color(Color::background));
}

void ComposerView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        requestDismiss();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ComposerView::dragEnterEvent(QDragEnterEvent *event)
{
    if (localFiles(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    m_state->setDropTargeted(true);
}

void ComposerView::dragMoveEvent(QDragMoveEvent *event)
{
    if (localFiles(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void ComposerView::dragLeaveEvent(QDragLeaveEvent *event)
{
    m_state->setDropTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void ComposerView::dropEvent(QDropEvent *event)
{
    m_state->setDropTargeted(false);
    if (handleDrop(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}
