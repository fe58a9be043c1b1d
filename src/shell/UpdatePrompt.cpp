#include "shell/UpdatePrompt.h"
#include "design/TextDirection.h"

#include "base/Bundle.h"
#include "design/ButtonStyles.h"
#include "design/Controls.h"
#include "design/DesignFonts.h"
#include "design/L10n.h"
#include "design/PaletteColors.h"
#include "design/WindowTitles.h"
#include "shell/AppIcon.h"
#include "shell/Updates.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

using ZephylPalette::Color;

namespace {
QLabel *plainLabel(const QString &text, const QFont &font, Color color, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    // The feed's notes are the service's words: their controls act within them.
    label->setText(containedBidi(text));
    label->setFont(font);
    label->setWordWrap(true);
    // Leading edge of the interface, whatever the text's own direction (English
    // notes in an Arabic window still start at the right).
    label->setAlignment(Qt::AlignAbsolute | Qt::AlignTop |
                        (L10n::layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, PaletteColors::color(color));
    label->setPalette(palette);
    return label;
}

// The prompt's two buttons: 44 points high on a rounded rectangle of radius 12.
ButtonStyle promptButton(Color fill, Color label, DesignFonts::Weight weight, double padding)
{
    ButtonStyle style;
    style.fontSize = 14;
    style.weight = weight;
    style.labelColor = label;
    style.horizontalPadding = padding;
    style.height = 44;
    style.cornerRadius = 12;
    style.fill = fill;
    style.pressedOpacity = 0.8;
    return style;
}

// Escape chooses Later, Return chooses Update; the close button is Later too.
// Page Up and Page Down scroll the notes, which Tab passes by for the buttons.
class PromptDialog final : public QDialog {
public:
    using QDialog::QDialog;
    std::function<void()> onEscape;
    std::function<void()> onReturn;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape && onEscape) {
            onEscape();
            return;
        }
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && onReturn) {
            onReturn();
            return;
        }
        const auto *notes = findChild<QScrollArea *>();
        if (notes && (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown)) {
            notes->verticalScrollBar()->triggerAction(event->key() == Qt::Key_PageUp ? QAbstractSlider::SliderPageStepSub
                                                                                     : QAbstractSlider::SliderPageStepAdd);
            return;
        }
        QDialog::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent *event) override
    {
        event->ignore();
        if (onEscape)
            onEscape();
    }
};
} // namespace

UpdatePromptView::UpdatePromptView(const UpdateOffer &offer, const QString &runningVersion, QWidget *parent)
    : QWidget(parent)
{
    setLayoutDirection(L10n::layoutDirection());
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, PaletteColors::color(Color::milk));
    palette.setColor(QPalette::WindowText, PaletteColors::color(Color::text));
    setPalette(palette);
    setFixedWidth(470);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(26, 26, 26, 26);
    column->setSpacing(18);

    auto *header = new QHBoxLayout;
    header->setSpacing(14);
    auto *icon = new QLabel(this);
    icon->setTextFormat(Qt::PlainText);
    icon->setPixmap(AppIcon::pixmap(56 * int(std::max(1.0, devicePixelRatioF()))).scaled(56, 56, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    icon->setFixedSize(56, 56);
    header->addWidget(icon, 0, Qt::AlignVCenter);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(5);
    titles->addWidget(plainLabel(L10n::t("A new Zephyl Kitty is ready"),
                                 DesignFonts::system(22, DesignFonts::Weight::semibold), Color::text, this));
    // The version step is not translated: two version texts and an arrow, read
    // left to right in every language, or a right-to-left window would draw the
    // new version first with the arrow pointing back at the old one.
    auto *step = plainLabel(runningVersion + QStringLiteral(" → ") + offer.version,
                            DesignFonts::system(14, DesignFonts::Weight::medium), Color::muted, this);
    step->setLayoutDirection(Qt::LeftToRight);
    titles->addWidget(step);
    header->addLayout(titles, 1);
    column->addLayout(header);

    if (!offer.notes.isEmpty()) {
        auto *scroll = new QScrollArea(this);
        scroll->setFocusPolicy(Qt::NoFocus);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        ScrollBars::follow(scroll->verticalScrollBar());
        auto *notes = plainLabel(offer.notes, DesignFonts::system(14, DesignFonts::Weight::regular), Color::text, scroll);
        notes->setAutoFillBackground(true);
        notes->setPalette(palette);
        notes->setFixedWidth(470 - 2 * 26 - 14);
        scroll->setWidget(notes);
        scroll->viewport()->setAutoFillBackground(false);
        const int wanted = notes->heightForWidth(notes->width());
        scroll->setFixedHeight(std::min(160, std::max(20, wanted)));
        column->addWidget(scroll);
        m_notes = scroll;
    }

    column->addWidget(plainLabel(
        L10n::t("Your conversation and unfinished text stay with you. Restart when it suits you."),
        DesignFonts::system(13, DesignFonts::Weight::regular), Color::muted, this));

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addStretch(1);
    auto *later = new StyledButton(L10n::t("Later"), promptButton(Color::warmPaper, Color::text, DesignFonts::Weight::medium, 20), this);
    auto *update = new StyledButton(L10n::t("Update"), promptButton(Color::primaryFill, Color::onPrimaryFill, DesignFonts::Weight::semibold, 24), this);
    buttons->addWidget(later);
    buttons->addWidget(update);
    column->addLayout(buttons);
    m_later = later;
    m_update = update;
    connect(later, &QPushButton::clicked, this, &UpdatePromptView::laterChosen);
    connect(update, &QPushButton::clicked, this, &UpdatePromptView::updateChosen);
}

UpdatePromptController::UpdatePromptController(QObject *parent) : QObject(parent) {}

UpdatePromptController::~UpdatePromptController() { dismiss(); }

QString UpdatePromptController::runningVersion() { return Bundle::shared().info(QStringLiteral("version")).value_or(QString()); }

void UpdatePromptController::show(const UpdateOffer &offer, QObject *parent, std::function<void()> update,
                                  std::function<void()> later)
{
    if (isVisible())
        return;
    dismiss();
    auto *parentWidget = qobject_cast<QWidget *>(parent);
    m_parent = parentWidget;
    const bool asSheet = parentWidget && parentWidget->isVisible() && !parentWidget->isMinimized();

    auto *dialog = new PromptDialog(asSheet ? parentWidget->window() : nullptr);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    WindowTitles::set(dialog, [] { return L10n::t("A new Zephyl Kitty is ready"); });
    dialog->setWindowIcon(AppIcon::icon());
    dialog->setWindowModality(asSheet ? Qt::WindowModal : Qt::NonModal);
    auto *view = new UpdatePromptView(offer, runningVersion(), dialog);
    auto *layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    QPointer<UpdatePromptController> self(this);
    auto chooseUpdate = [self, update] {
        if (self)
            self->dismiss();
        if (update)
            update();
    };
    auto chooseLater = [self, later] {
        if (self)
            self->dismiss();
        if (later)
            later();
    };
    connect(view, &UpdatePromptView::updateChosen, dialog, chooseUpdate);
    connect(view, &UpdatePromptView::laterChosen, dialog, chooseLater);
    dialog->onReturn = chooseUpdate;
    dialog->onEscape = chooseLater;
    m_panel = dialog;

    dialog->adjustSize();
    if (asSheet) {
        const QRect frame = parentWidget->window()->geometry();
        dialog->move(frame.center().x() - dialog->width() / 2, frame.top() + 24);
        dialog->show();
    } else {
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            dialog->move(screen->availableGeometry().center() - QPoint(dialog->width() / 2, dialog->height() / 2));
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    }
}

void UpdatePromptController::dismiss()
{
    if (!m_panel)
        return;
    QDialog *panel = m_panel;
    m_panel = nullptr;
    m_parent = nullptr;
    panel->hide();
    panel->deleteLater();
}

bool UpdatePromptController::isVisible() const { return m_panel && m_panel->isVisible(); }

bool UpdatePromptController::hasSheet(QObject *parent) const
{
    auto *widget = qobject_cast<QWidget *>(parent);
    if (!widget)
        return false;
    for (const QDialog *dialog : widget->window()->findChildren<QDialog *>()) {
        if (dialog->isVisible() && dialog->windowModality() != Qt::NonModal)
            return true;
    }
    return false;
}

UpdateWindows::UpdateWindows(QObject *parent) : QObject(parent) {}

UpdateWindows::~UpdateWindows()
{
    if (m_message)
        delete m_message.data();
}

void UpdateWindows::message(const QString &text)
{
    if (m_message)
        delete m_message.data();
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Zephyl Kitty"), QString(), QMessageBox::Ok);
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setIconPixmap(AppIcon::pixmap(48));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setLayoutDirection(L10n::layoutDirection());
    m_message = box;
    box->show();
    box->raise();
    box->activateWindow();
}

QString UpdateWindows::shownMessage() const
{
    auto *box = qobject_cast<QMessageBox *>(m_message.data());
    return box && box->isVisible() ? box->text() : QString();
}

void UpdateWindows::showUpToDate() { message(L10n::t("You have the newest Zephyl Kitty.")); }

void UpdateWindows::showFailure(UpdateError error)
{
    // A build without an update key never checks: trying again would not help.
    if (error == UpdateError::disabled)
        message(L10n::t("This copy doesn't update itself. New versions come the way it was installed."));
    else
        message(L10n::t("I couldn't check for updates. Try again later."));
}

void UpdateWindows::showInstalledElsewhere(const AppcastItem &item)
{
    message(L10n::tf("Zephyl Kitty %@ is out. Your system's package manager installs it.", item.displayVersionString));
}

void UpdateWindows::showReady(const AppcastItem &item, std::function<void()> install, std::function<void()> closed)
{
    const UpdateOffer offer{item.versionString, item.displayVersionString,
                            Updates::plainNotes(item.itemDescription.value_or(QString()))};
    m_prompt.show(
        offer, nullptr,
        [install, closed] {
            if (closed)
                closed();
            if (install)
                install();
        },
        [closed] {
            if (closed)
                closed();
        });
}
