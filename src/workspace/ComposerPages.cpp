// The confirmation over the composer, the publishing overlay and the outcome page.
#include "app/AppModel.h"
#include "app/CaptionComposer.h"
#include "app/ComposerState.h"
#include "design/DateText.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/Icons.h"
#include "design/L10n.h"
#include "design/PaletteColors.h"
#include "design/TextBlock.h"
#include "design/Titles.h"
#include "design/ZephylSurface.h"
#include "services/Json.h"
#include "services/WireModels.h"
#include "workspace/ComposerParts.h"
#include "workspace/ComposerView.h"
#include "workspace/KeyboardHold.h"
#include "workspace/ScreenKit.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>

using ZephylPalette::Color;

namespace {

// A card in the sheet's background colour with a hairline, casting a soft shadow.
class SheetCard final : public QWidget {
public:
    SheetCard(double radius, QWidget *parent) : QWidget(parent), m_radius(radius)
    {
        AppearanceService::repaintOnChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
        painter.fillPath(shape, PaletteColors::color(Color::background));
        painter.setPen(QPen(PaletteColors::color(Color::line), 1));
        painter.drawPath(shape);
    }

private:
    double m_radius;
};

// A symbol of the icon set drawn at a glyph's size in a palette colour.
class Symbol final : public QWidget {
public:
    Symbol(const QString &name, double fontSize, Color color, QWidget *parent)
        : QWidget(parent), m_name(name), m_color(color)
    {
        const int side = int(std::ceil(Icons::boxForFontSize(fontSize)));
        setFixedSize(side, side);
        AppearanceService::repaintOnChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        Icons::paint(painter, m_name, rect(), PaletteColors::color(m_color), layoutDirection());
    }

private:
    QString m_name;
    Color m_color;
};

// A linear progress bar in the palette.
class ProgressBar final : public QWidget {
public:
    explicit ProgressBar(QWidget *parent) : QWidget(parent)
    {
        setFixedSize(260, 6);
        AppearanceService::repaintOnChange(this);
    }
    void setFraction(double fraction)
    {
        m_fraction = std::clamp(fraction, 0.0, 1.0);
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(PaletteColors::color(Color::surfaceSoft));
        painter.drawRoundedRect(QRectF(rect()), 3, 3);
        QRectF done(0, 0, width() * m_fraction, height());
        if (layoutDirection() == Qt::RightToLeft)
            done.moveRight(width());
        painter.setBrush(PaletteColors::color(Color::accent));
        painter.drawRoundedRect(done, 3, 3);
    }

private:
    double m_fraction = 0;
};

} // namespace

// ---- ComposerConfirmationSheet

ComposerConfirmationSheet::ComposerConfirmationSheet(ComposerState &state, std::optional<QString> username,
                                                     QWidget *parent)
    : QWidget(parent), m_state(state), m_username(std::move(username))
{
    setFocusPolicy(Qt::StrongFocus);
    m_hold = new KeyboardHold(this);
    AppearanceService::repaintOnChange(this);
    m_card = new SheetCard(14, this);
    auto *column = new QVBoxLayout(m_card);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(16);
    column->addWidget(new Eyebrow(L10n::t("Confirmation"), m_card));
    m_title = new TextBlock(QString(), DesignFonts::serif(21, DesignFonts::Weight::semibold), Color::text, m_card);
    column->addWidget(m_title);
    auto *summary = new ZephylSurface(14, false, m_card);
    m_summary = new QVBoxLayout(summary);
    m_summary->setContentsMargins(14, 14, 14, 14);
    m_summary->setSpacing(8);
    column->addWidget(summary);
    m_preview = text(QString(), 12.5, DesignFonts::Weight::regular, Color::muted, m_card);
    m_preview->setMaxLines(6);
    column->addWidget(m_preview);
    column->addWidget(text(L10n::t("Zephyl sends it through the official Instagram API on your confirmation. This is "
                                   "that confirmation."),
                           12, DesignFonts::Weight::regular, Color::muted, m_card));
    auto *buttons = new QHBoxLayout;
    m_back = new StyledButton(L10n::t("Back"), QuietButtonStyle(false), m_card);
    connect(m_back, &QAbstractButton::clicked, this, &ComposerConfirmationSheet::back);
    buttons->addWidget(m_back);
    buttons->addStretch(1);
    m_confirm = new StyledButton(QString(), PrimaryButtonStyle(false), m_card);
    // Only tells the composer; the composer closes this sheet and starts publishing.
    connect(m_confirm, &QAbstractButton::clicked, this, &ComposerConfirmationSheet::confirmed);
    buttons->addWidget(m_confirm);
    column->addLayout(buttons);
    refresh();
}

QList<QPair<QString, QString>> ComposerConfirmationSheet::lines() const
{
    const PublishFormat format = m_state.format();
    QList<QPair<QString, QString>> out;
    out.append({L10n::t("Format"), PublishFormats::label(format)});
    out.append({L10n::t("Media"), L10n::tf("%d item(s)", int(m_state.media().size()))});
    out.append({L10n::t("Account"), m_username ? handle(*m_username) : L10n::t("not connected")});
    out.append({L10n::t("When"), m_state.scheduleLater() ? DateText::dateTime(m_state.scheduledAt()) : L10n::t("Now")});
    if (format == PublishFormat::reel) {
        out.append({L10n::t("Profile grid"), m_state.shareToFeed() ? L10n::t("Yes") : L10n::t("No")});
        if (m_state.trialEnabled())
            out.append({L10n::t("Trial Reel"), L10n::t("Yes")});
    }
    const QStringList collaborators = m_state.collaborators();
    if (!collaborators.isEmpty() && format != PublishFormat::story) {
        QStringList handles;
        for (const QString &name : collaborators)
            handles << handle(name);
        out.append({L10n::t("Collaborators"), handles.join(QStringLiteral(", "))});
    }
    return out;
}

void ComposerConfirmationSheet::refresh()
{
    const bool later = m_state.scheduleLater();
    Shown shown{later, lines(), CaptionComposer::caption(m_state.caption(), m_state.hashtags())};
    if (m_shown == shown)
        return;
    m_shown = shown;
    m_title->setText(later ? L10n::t("Schedule this publication?") : L10n::t("Publish this now?"));
    m_confirm->setText(later ? L10n::t("Confirm and schedule") : L10n::t("Confirm and publish"));
    clearLayout(m_summary);
    QWidget *summary = m_summary->parentWidget();
    for (const auto &[label, value] : shown.lines) {
        auto *row = new QWidget(summary);
        auto *line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        auto *name = text(label, 12.5, DesignFonts::Weight::regular, Color::muted, row);
        name->setFixedWidth(110);
        line->addWidget(name, 0, Qt::AlignTop);
        // A left-to-right value (a date, a handle) keeps its own order inside right-to-left text.
        const QString shown = value.isRightToLeft() ? value : QChar(0x202A) + value + QChar(0x202C);
        line->addWidget(text(shown, 12.5, DesignFonts::Weight::medium, Color::text, row), 1, Qt::AlignTop);
        m_summary->addWidget(row);
        row->show(); // now, so the card is measured with it
    }
    const QString &composed = shown.caption;
    m_preview->setText(composed);
    // The user's own words read in their own direction, whatever the interface's.
    m_preview->setLayoutDirection(composed.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    m_preview->setVisible(!composed.isEmpty());
    resizeEvent(nullptr);
}

void ComposerConfirmationSheet::resizeEvent(QResizeEvent *)
{
    const int width = std::min(480, this->width() - 40);
    const int wanted = std::max(m_card->layout()->totalHeightForWidth(width), m_card->minimumSizeHint().height());
    m_card->setGeometry((this->width() - width) / 2, 24, width, std::min(wanted, this->height() - 48));
}

bool ComposerConfirmationSheet::focusNextPrevChild(bool next)
{
    return isVisible() ? m_hold->cycle(next) : QWidget::focusNextPrevChild(next);
}

void ComposerConfirmationSheet::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, AppearanceService::shared().appearance() == Appearance::dark ? 110 : 60));
}

// ---- PublishingOverlay

PublishingOverlay::PublishingOverlay(QWidget *parent) : QWidget(parent)
{
    AppearanceService::repaintOnChange(this);
    m_card = new ZephylSurface(20, true, this);
    auto *column = new QVBoxLayout(m_card);
    column->setContentsMargins(30, 30, 30, 30);
    column->setSpacing(14);
    auto *bar = new ProgressBar(m_card);
    m_bar = bar;
    column->addWidget(bar, 0, Qt::AlignHCenter);
    m_step = text(QString(), 13, DesignFonts::Weight::medium, Color::text, m_card);
    m_step->setCentered(true);
    column->addWidget(m_step);
    auto *note = text(L10n::t("Keep this window open. A retry after a failure will not publish twice."), 12,
                      DesignFonts::Weight::regular, Color::muted, m_card);
    note->setCentered(true);
    note->setPreferredWidth(300);
    column->addWidget(note);
}

void PublishingOverlay::show(const PublishProgress &progress)
{
    m_fraction = progress.fraction;
    static_cast<ProgressBar *>(m_bar)->setFraction(progress.fraction);
    m_step->setText(progress.step);
    QWidget::show();
    raise();
    resizeEvent(nullptr);
}

void PublishingOverlay::resizeEvent(QResizeEvent *)
{
    const QMargins room = m_card->contentsMargins() - QMargins(30, 30, 30, 30);
    const int width = 360 + room.left() + room.right();
    const int height = std::max(m_card->layout()->totalHeightForWidth(width), m_card->sizeHint().height());
    m_card->setGeometry((this->width() - width) / 2, (this->height() - height) / 2, width, height);
}

void PublishingOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QColor dim = PaletteColors::color(Color::background);
    dim.setAlphaF(0.7);
    painter.fillRect(rect(), dim);
}

// ---- ComposerOutcomeView

QString ComposerOutcomeView::titleFor(const PublishOutcome &outcome)
{
    switch (outcome.kind) {
    case PublishOutcome::Kind::published: return L10n::t("Published");
    case PublishOutcome::Kind::scheduled: return L10n::t("Scheduled");
    case PublishOutcome::Kind::draftSaved: return L10n::t("Saved as a draft");
    case PublishOutcome::Kind::stillWorking: return L10n::t("Instagram is still processing it");
    case PublishOutcome::Kind::unknown: return L10n::t("Not known yet whether it went out");
    case PublishOutcome::Kind::failed: break;
    }
    return L10n::t("It did not go out");
}

QString ComposerOutcomeView::detailFor(const PublishOutcome &outcome)
{
    switch (outcome.kind) {
    case PublishOutcome::Kind::published:
        return L10n::t("Instagram confirmed the publication. It is in the plan and, shortly, in the grid.");
    case PublishOutcome::Kind::scheduled: {
        const std::optional<qint64> at = outcome.publication ? outcome.publication->scheduledAt : std::nullopt;
        const QString time = at ? DateText::dateTime(QDateTime::fromMSecsSinceEpoch(*at, Qt::UTC)) : QString();
        return L10n::tf("The server publishes it at %@. You can close Zephyl; it does not depend on this computer being "
                        "awake.",
                        time);
    }
    case PublishOutcome::Kind::draftSaved:
        return L10n::t("The draft is stored on the server with its media. Nothing was sent to Instagram.");
    case PublishOutcome::Kind::stillWorking:
        return L10n::t("The plan shows its status and updates as the server hears back. Nothing more is needed from you.");
    case PublishOutcome::Kind::unknown:
        // Why it cannot be known, then what happens next.
        return outcome.message + QLatin1Char(' ') +
               L10n::t("The server may have published it: its answer was lost, and it cannot be asked right now. "
                       "Zephyl asks again once the connection is back and tells you what became of it. Sending the "
                       "same post again will not publish it twice.");
    case PublishOutcome::Kind::failed: break;
    }
    return outcome.message; // already worded by the publishing pipeline
}

QString ComposerOutcomeView::earlierVersionDetail(const QString &words)
{
    // Its first line, as the user would recognise it.
    QString line;
    for (const QString &piece : words.split(QLatin1Char('\n'))) {
        line = piece.trimmed();
        if (!line.isEmpty())
            break;
    }
    const QString changes = L10n::t("Your changes were not sent and are still here: go back to editing to send them as a "
                                    "new post.");
    if (line.isEmpty())
        return L10n::t("What went out is the version you sent before your changes.") + QLatin1Char(' ') + changes;
    if (Text::graphemeCount(line) > kQuotedStart) {
        // Cut after a whole word where one ends in the second half.
        QString cut = Text::prefixGraphemes(line, kQuotedStart);
        const qsizetype space = cut.lastIndexOf(QLatin1Char(' '));
        if (!line.at(cut.size()).isSpace() && space > cut.size() / 2)
            cut.truncate(space);
        line = cut.trimmed() + QStringLiteral("…");
    }
    return L10n::tf("What went out is the version you sent before your changes: “%@”.", line) + QLatin1Char(' ') +
           changes;
}

ComposerOutcomeView::ComposerOutcomeView(const PublishOutcome &outcome, ComposerView &view, QWidget *parent)
    : QWidget(parent), m_kind(outcome.kind)
{
    // Scrolled on a short screen, rather than its sentence squeezed under its buttons.
    auto *scrolled = new QWidget;
    auto *frame = new QVBoxLayout(scrolled);
    frame->setContentsMargins(40, 40, 40, 40);
    auto *page = new QWidget(scrolled);
    page->setMaximumWidth(560);
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    // Not known to be out: the post may still have to be sent, under its key.
    const bool failed = !outcome.wentOut();
    QString symbol = QStringLiteral("exclamationmark.circle");
    switch (outcome.kind) {
    case PublishOutcome::Kind::published: symbol = QStringLiteral("checkmark.circle"); break;
    case PublishOutcome::Kind::scheduled: symbol = QStringLiteral("clock"); break;
    case PublishOutcome::Kind::draftSaved: symbol = QStringLiteral("tray"); break;
    case PublishOutcome::Kind::stillWorking: symbol = QStringLiteral("hourglass"); break;
    case PublishOutcome::Kind::unknown: symbol = QStringLiteral("circle.dashed"); break;
    case PublishOutcome::Kind::failed: break;
    }
    column->addWidget(new Symbol(symbol, 30, failed ? Color::attention : Color::settled, page));
    column->addWidget(new TextBlock(titleFor(outcome), DesignFonts::serif(26, DesignFonts::Weight::semibold),
                                    Color::text, page));
    ComposerState &state = view.state();
    // Out, but as it was before the post was changed: the changes wait in the editor.
    const std::optional<QString> earlier = outcome.wentOut() ? state.earlierVersion() : std::nullopt;
    m_detail = text(earlier ? earlierVersionDetail(*earlier) : detailFor(outcome), 14, DesignFonts::Weight::regular,
                    Color::muted, page);
    m_detail->setLineSpacing(3);
    column->addWidget(m_detail);
    column->addSpacing(6);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    if (failed || earlier) {
        m_backToEditing = new StyledButton(L10n::t("Back to editing"), PrimaryButtonStyle(false), page);
        // The key stays: the next attempt is the same post to the service
        // (after an earlier version went out, the key is already its own).
        connect(m_backToEditing, &QAbstractButton::clicked, this, [&state] { state.setOutcome(std::nullopt); });
    }
    // First when the changes wait: a key pressed as the page arrives takes the user back to them.
    if (earlier)
        buttons->addWidget(m_backToEditing);
    // Offered only for an address the composer would actually open.
    const std::optional<QUrl> url = outcome.publication ? outcome.publication->platformUrl : std::nullopt;
    const bool openable =
        url && ZephylWire::InstagramFeedItem::safeInstagramURL(url->toString(QUrl::FullyEncoded)).has_value();
    if (outcome.kind == PublishOutcome::Kind::published && openable) {
        const ButtonStyle style = earlier ? ButtonStyle(QuietButtonStyle(false)) : ButtonStyle(PrimaryButtonStyle(false));
        m_open = new StyledButton(L10n::t("Open on Instagram"), style, page);
        connect(m_open, &QAbstractButton::clicked, this, [&view, url] { view.openPost(url); });
        buttons->addWidget(m_open);
    }
    if (failed) {
        buttons->addWidget(m_backToEditing);
    } else if (!earlier) {
        m_another = new StyledButton(L10n::t("Prepare another"), QuietButtonStyle(false), page);
        connect(m_another, &QAbstractButton::clicked, this, [&state] { state.prepareAnother(); });
        buttons->addWidget(m_another);
    }
    m_done = new StyledButton(L10n::t("Done"), QuietButtonStyle(false), page);
    connect(m_done, &QAbstractButton::clicked, this, [&view] { view.requestDismiss(); });
    buttons->addWidget(m_done);
    buttons->addStretch(1);
    column->addLayout(buttons);
    frame->addWidget(leading(page, scrolled)); // measured for its wrapped height
    frame->addStretch(1);
    auto *whole = new QVBoxLayout(this);
    whole->setContentsMargins(0, 0, 0, 0);
    whole->addWidget(scrollArea(scrolled, this));
}
