// The composer's editor: the media column (drop zone or tiles, problem line,
// cover) and the form (format, caption, hashtags, schedule, further options).
#include "app/AppModel.h"
#include "app/CaptionComposer.h"
#include "app/ComposerState.h"
#include "base/Clock.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/Controls.h"
#include "design/GrowingTextField.h"
#include "design/Icons.h"
#include "design/L10n.h"
#include "design/MenuLook.h"
#include "design/PaletteColors.h"
#include "design/TextBlock.h"
#include "design/Titles.h"
#include "design/ZephylSurface.h"
#include "services/media/MediaImporter.h"
#include "workspace/ComposerParts.h"
#include "workspace/ComposerView.h"
#include "workspace/ScreenKit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QRadioButton>

#include <algorithm>
#include <cmath>

using ZephylPalette::Color;

// ---- MediaThumb

MediaThumb::MediaThumb(const ImportedMedia &item, QWidget *parent) : QWidget(parent), m_item(item)
{
    if (item.thumbnail)
        m_picture = MediaImporter::thumbnailImage(*item.thumbnail);
    AppearanceService::repaintOnChange(this);
}

void MediaThumb::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The largest 3:4 upright frame that fits, centred.
    QSizeF frame(width(), width() * 4.0 / 3.0);
    if (frame.height() > height())
        frame = QSizeF(height() * 0.75, height());
    const QRectF box(QPointF((width() - frame.width()) / 2, (height() - frame.height()) / 2), frame);
    QPainterPath clip;
    clip.addRoundedRect(box, 10, 10);
    painter.setClipPath(clip);
    if (m_picture.isNull()) {
        painter.fillRect(box, PaletteColors::color(Color::surfaceSoft));
    } else {
        // Filled, not letterboxed: the overflow is cut off.
        const double scale = std::max(box.width() / m_picture.width(), box.height() / m_picture.height());
        const QSizeF drawn(m_picture.width() * scale, m_picture.height() * scale);
        const QRectF target(box.center() - QPointF(drawn.width() / 2, drawn.height() / 2), drawn);
        painter.drawImage(target, m_picture);
    }
    if (m_item.kind == ImportedMedia::Kind::video) {
        const double side = Icons::boxForFontSize(10);
        const bool rtl = layoutDirection() == Qt::RightToLeft;
        const double x = rtl ? box.right() - 6 - side : box.left() + 6;
        const QRectF badge(x, box.bottom() - 6 - side, side, side);
        Icons::paint(painter, QStringLiteral("play.fill"), badge.adjusted(-1, -1, 1, 1), QColor(0, 0, 0, 128));
        Icons::paint(painter, QStringLiteral("play.fill"), badge, Qt::white);
    }
}

QString mediaSummary(const QList<ImportedMedia> &media)
{
    if (media.size() == 1) {
        const ImportedMedia &item = media.first();
        const QString size = QStringLiteral("%1x%2").arg(qint64(item.pixelSize.width())).arg(qint64(item.pixelSize.height()));
        if (!item.duration)
            return size;
        const qint64 seconds = qint64(*item.duration);
        return QStringLiteral("%1:%2 \u00B7 %3").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0')).arg(size);
    }
    return L10n::tf("%d items", int(media.size()));
}

namespace {

// A symbol of the icon set in a palette colour, optionally turned (for a disclosure).
class SymbolMark final : public QWidget {
public:
    SymbolMark(const QString &symbol, double side, Color color, QWidget *parent)
        : QWidget(parent), m_symbol(symbol), m_color(color)
    {
        setFixedSize(int(std::ceil(side)), int(std::ceil(side)));
        AppearanceService::repaintOnChange(this);
    }
    void setTurned(bool turned)
    {
        m_turned = turned;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (m_turned) {
            painter.translate(width() / 2.0, height() / 2.0);
            painter.rotate(layoutDirection() == Qt::RightToLeft ? -90 : 90);
            painter.translate(-width() / 2.0, -height() / 2.0);
        }
        Icons::paint(painter, m_symbol, rect(), PaletteColors::color(m_color), layoutDirection());
    }

private:
    QString m_symbol;
    Color m_color;
    bool m_turned = false;
};

// The dashed frame around the empty media column; accent while files are dragged over the sheet.
class DropFrame final : public QWidget {
public:
    explicit DropFrame(QWidget *parent) : QWidget(parent) { AppearanceService::repaintOnChange(this); }
    void setTargeted(bool targeted)
    {
        if (targeted == m_targeted)
            return;
        m_targeted = targeted;
        update();
    }
    bool targeted() const { return m_targeted; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(PaletteColors::color(m_targeted ? Color::accent : Color::line), 1.5);
        pen.setDashPattern({6 / 1.5, 5 / 1.5});
        painter.setPen(pen);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 18, 18);
    }

private:
    bool m_targeted = false;
};

// The remove mark over a tile: a white cross on a dark circle, no chrome. The
// widget leaves room around the 20-point circle for the keyboard's ring. Named
// for its tile's place, so that two marks are never both just "Remove".
class RemoveMark final : public QAbstractButton {
public:
    static constexpr int kMargin = 3;

    RemoveMark(ImportedMedia::Kind kind, int place, int count, QWidget *parent) : QAbstractButton(parent)
    {
        setFixedSize(20 + 2 * kMargin, 20 + 2 * kMargin);
        setUpButton(this);
        FocusRing::drawnByControl(this);
        setAccessibleName(kind == ImportedMedia::Kind::video ? L10n::tf("Remove video %d of %d", place, count)
                                                             : L10n::tf("Remove picture %d of %d", place, count));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 140));
        painter.drawEllipse(QRectF(kMargin, kMargin, 20, 20));
        Icons::paint(painter, QStringLiteral("xmark"), QRectF(kMargin + 5.5, kMargin + 5.5, 9, 9), Qt::white);
        if (FocusRing::shown(this)) {
            // White round the dark circle, and a dark line outside that: it
            // shows on a picture of any colour.
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(Qt::white, 2));
            painter.drawEllipse(QRectF(rect()).adjusted(2, 2, -2, -2));
            painter.setPen(QPen(QColor(0, 0, 0, 170), 1));
            painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
        }
    }
};

// One tile of the grid: the preview, the remove mark and the context menu.
class MediaTile final : public QWidget {
public:
    // `place`: the item's, from 1, among `count`.
    MediaTile(const ImportedMedia &item, int place, int count, ComposerState &state, QWidget *parent) : QWidget(parent)
    {
        setFixedSize(134, 179);
        auto *thumb = new MediaThumb(item, this);
        thumb->setGeometry(rect());
        m_remove = new RemoveMark(item.kind, place, count, this);
        QObject::connect(m_remove, &QAbstractButton::clicked, this, [&state, item] { state.remove(item); });
        setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(this, &QWidget::customContextMenuRequested, this, [this, &state, item](const QPoint &at) {
            QMenu menu(this);
            menu.addAction(L10n::t("Move earlier"), this, [&state, item] { state.move(item, -1); });
            menu.addAction(L10n::t("Move later"), this, [&state, item] { state.move(item, 1); });
            menu.addSeparator();
            MenuLook::markDestructive(menu.addAction(L10n::t("Remove"), this, [&state, item] { state.remove(item); }));
            MenuLook::exec(&menu, mapToGlobal(at));
        });
    }

protected:
    void resizeEvent(QResizeEvent *) override { placeMark(); }
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::LayoutDirectionChange)
            placeMark();
        QWidget::changeEvent(event);
    }

private:
    void placeMark()
    {
        // The circle 6 points in from the top trailing corner.
        const int inset = 6 - RemoveMark::kMargin;
        const bool rtl = layoutDirection() == Qt::RightToLeft;
        m_remove->move(rtl ? inset : width() - inset - m_remove->width(), inset);
    }
    RemoveMark *m_remove;

public:
    QAbstractButton *removeMark() const { return m_remove; }
};

QWidget *field(QWidget *parent, QVBoxLayout *&rows)
{
    auto *box = new QWidget(parent);
    // A field comes into view with its label (and what stands beside it).
    viewTogether(box);
    rows = new QVBoxLayout(box);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(8);
    return box;
}

// A label row: the eyebrow, a flexible space, and a trailing piece.
QHBoxLayout *labelRow(const QString &eyebrow, QWidget *parent, QWidget *trailing = nullptr)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(new Eyebrow(eyebrow, parent), 0, Qt::AlignVCenter);
    row->addStretch(1);
    if (trailing)
        row->addWidget(trailing, 0, Qt::AlignVCenter);
    return row;
}

template <typename W>
void silently(W *widget, const std::function<void()> &change)
{
    const QSignalBlocker blocker(widget);
    change();
}

} // namespace

// ---- ComposerEditor

ComposerEditor::ComposerEditor(ComposerView &view, QWidget *parent)
    : QWidget(parent), m_view(view), m_state(view.state())
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(buildMediaColumn());
    row->addWidget(buildForm(), 1);
    applyColors();
    connect(&AppearanceService::shared(), &AppearanceService::appearanceChanged, this, &ComposerEditor::applyColors);
}

QWidget *ComposerEditor::buildMediaColumn()
{
    auto *backdrop = new Backdrop(Color::canvas, 0.35, this);
    backdrop->setFixedWidth(320);
    // A long carousel scrolls within the column.
    auto *column = new QWidget;
    auto *frame = new QVBoxLayout(backdrop);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->addWidget(scrollArea(column, backdrop));
    auto *pieces = new QVBoxLayout(column);
    pieces->setContentsMargins(22, 22, 22, 22);
    pieces->setSpacing(14);
    pieces->addWidget(new Eyebrow(L10n::t("Media"), column));

    // Empty: the dashed zone that invites a drop or a click.
    auto *zone = new DropFrame(column);
    m_dropZone = zone;
    zone->setFixedHeight(260);
    auto *zoneRows = new QVBoxLayout(zone);
    zoneRows->setContentsMargins(18, 18, 18, 18);
    zoneRows->setSpacing(12);
    zoneRows->addStretch(1);
    zoneRows->addWidget(new SymbolMark(QStringLiteral("photo.on.rectangle.angled"), Icons::boxForFontSize(26),
                                       Color::settled, zone),
                        0, Qt::AlignHCenter);
    auto *invite = text(L10n::t("Drop a picture or a video here"), 13, DesignFonts::Weight::medium, Color::text, zone);
    invite->setCentered(true);
    zoneRows->addWidget(invite);
    auto *kinds = text(L10n::t("JPEG, PNG, HEIC, MP4 or MOV. Videos are converted to MP4 on this computer."), 11.5,
                       DesignFonts::Weight::regular, Color::muted, zone);
    kinds->setCentered(true);
    zoneRows->addWidget(kinds);
    auto *choose = new StyledButton(L10n::t("Choose files"), QuietButtonStyle(true), zone);
    m_choose = choose;
    connect(choose, &QAbstractButton::clicked, this, [this, choose] { m_view.pickFiles(choose->text()); });
    zoneRows->addWidget(choose, 0, Qt::AlignHCenter);
    zoneRows->addStretch(1);
    pieces->addWidget(zone);

    // With media: the tiles, then the add button, the spinner and the summary.
    m_gridBox = new QWidget(column);
    auto *gridRows = new QVBoxLayout(m_gridBox);
    gridRows->setContentsMargins(0, 0, 0, 0);
    gridRows->setSpacing(14);
    m_grid = new QGridLayout;
    m_grid->setSpacing(8);
    for (int c = 0; c < 2; ++c) {
        m_grid->setColumnMinimumWidth(c, 134);
        m_grid->setColumnStretch(c, 1);
    }
    gridRows->addLayout(m_grid);
    auto *actions = new QHBoxLayout;
    actions->setSpacing(8);
    m_add = new StyledButton(QString(), QuietButtonStyle(true), m_gridBox);
    connect(m_add, &QAbstractButton::clicked, this, [this] { m_view.pickFiles(m_add->text()); });
    actions->addWidget(m_add);
    m_spinner = new Spinner(m_gridBox);
    actions->addWidget(m_spinner);
    actions->addStretch(1);
    m_summary = text(QString(), 11.5, DesignFonts::Weight::regular, Color::muted, m_gridBox);
    actions->addWidget(m_summary);
    gridRows->addLayout(actions);
    pieces->addWidget(m_gridBox);

    m_problem = text(QString(), 12, DesignFonts::Weight::regular, Color::attention, column);
    pieces->addWidget(m_problem);

    // A reel's cover.
    auto *cover = new ZephylSurface(14, false, column);
    m_coverRow = cover;
    auto *coverLine = new QHBoxLayout(cover);
    coverLine->setContentsMargins(12, 12, 12, 12);
    coverLine->setSpacing(10);
    auto *thumbBox = new QWidget(cover);
    m_coverThumbBox = new QVBoxLayout(thumbBox);
    m_coverThumbBox->setContentsMargins(0, 0, 0, 0);
    thumbBox->setFixedSize(44, 58);
    coverLine->addWidget(thumbBox);
    auto *coverTexts = new QVBoxLayout;
    coverTexts->setSpacing(4);
    coverTexts->addWidget(text(L10n::t("Cover"), 12, DesignFonts::Weight::semibold, Color::text, cover));
    m_coverDetail = text(QString(), 11.5, DesignFonts::Weight::regular, Color::muted, cover);
    m_coverDetail->setMaxLines(1);
    coverTexts->addWidget(m_coverDetail);
    coverLine->addLayout(coverTexts, 1);
    m_coverButton = new StyledButton(QString(), QuietButtonStyle(true), cover);
    connect(m_coverButton, &QAbstractButton::clicked, this, [this] {
        if (m_state.cover())
            m_state.setCover(std::nullopt);
        else
            m_view.pickCover(L10n::t("Cover")); // the row's name: its button only says "Choose"
    });
    coverLine->addWidget(m_coverButton, 0, Qt::AlignVCenter);
    pieces->addWidget(cover);
    pieces->addStretch(1);
    return backdrop;
}

QWidget *ComposerEditor::buildForm()
{
    QVBoxLayout *column = nullptr;
    QScrollArea *scroll = scrollColumn(column, 100000, QMargins(26, 26, 26, 26), 18, this);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QWidget *page = column->parentWidget();
    QVBoxLayout *rows = nullptr;

    // Format.
    QWidget *format = field(page, rows);
    rows->addWidget(new Eyebrow(L10n::t("Format"), format));
    QStringList labels;
    for (PublishFormat f : PublishFormats::allCases)
        labels << PublishFormats::label(f);
    m_format = new SegmentedPicker(labels, 400, format);
    m_format->setAccessibleName(L10n::t("Format"));
    connect(m_format, &SegmentedPicker::chosen, this,
            [this](int index) { m_state.setFormat(PublishFormats::allCases.at(size_t(index))); });
    rows->addWidget(m_format);
    column->addWidget(format);

    // Caption, counted as it will be published.
    QWidget *caption = field(page, rows);
    m_counter = new TextBlock(QString(), DesignFonts::rounded(11, DesignFonts::Weight::medium), Color::muted, caption);
    rows->addLayout(labelRow(L10n::t("Caption"), caption, m_counter));
    auto *captionCase = new ZephylSurface(12, false, caption);
    captionCase->setFixedHeight(150);
    auto *captionInside = new QVBoxLayout(captionCase);
    captionInside->setContentsMargins(8, 8, 8, 8);
    m_caption = new QPlainTextEdit(captionCase);
    m_caption->setFrameShape(QFrame::NoFrame);
    m_caption->setFont(DesignFonts::system(14, DesignFonts::Weight::regular));
    m_caption->setTabChangesFocus(true);
    m_caption->setAccessibleName(L10n::t("Caption"));
    FieldRing::follow(m_caption, captionCase);
    alignToLeadingSide(m_caption);
    ScrollBars::follow(m_caption->verticalScrollBar()); // a long caption scrolls
    connect(m_caption, &QPlainTextEdit::textChanged, this, [this] { m_state.setCaption(m_caption->toPlainText()); });
    captionInside->addWidget(m_caption);
    rows->addWidget(captionCase);
    column->addWidget(caption);

    // Hashtags.
    QWidget *hashtags = field(page, rows);
    m_hint = text(QString(), 11, DesignFonts::Weight::medium, Color::muted, hashtags);
    rows->addLayout(labelRow(L10n::t("Hashtags"), hashtags, m_hint));
    RoundedField::Look look;
    look.fontSize = 13.5;
    look.radius = 12;
    look.height = 38;
    look.padding = 12;
    m_hashtags = new RoundedField(L10n::t("Optional. Separate with spaces."), look, hashtags);
    connect(m_hashtags, &QLineEdit::textEdited, this, [this](const QString &t) { m_state.setHashtags(t); });
    rows->addWidget(m_hashtags);
    column->addWidget(hashtags);

    // When.
    QWidget *when = field(page, rows);
    rows->addWidget(new Eyebrow(L10n::t("When"), when));
    auto *whenRow = new QHBoxLayout;
    whenRow->setSpacing(12);
    m_when = new SegmentedPicker({L10n::t("Now"), L10n::t("Later")}, 180, when);
    m_when->setAccessibleName(L10n::t("When"));
    connect(m_when, &SegmentedPicker::chosen, this, [this](int index) { m_state.setScheduleLater(index == 1); });
    whenRow->addWidget(m_when);
    // The same date as the confirmation and the plan show, in the language in use.
    m_date = new DateTimeField(when);
    m_date->setAccessibleName(L10n::t("Scheduled"));
    m_date->setFixedHeight(30);
    connect(m_date, &QDateTimeEdit::dateTimeChanged, this,
            [this](const QDateTime &at) { m_state.setScheduledAt(at.toUTC()); });
    whenRow->addWidget(m_date);
    whenRow->addStretch(1);
    rows->addLayout(whenRow);
    m_scheduleNote = text(L10n::t("The server publishes at that time, even if this computer is asleep."), 11.5,
                          DesignFonts::Weight::regular, Color::muted, when);
    rows->addWidget(m_scheduleNote);
    column->addWidget(when);

    // Further options, collapsed at first.
    auto *more = new QWidget(page);
    auto *moreRows = new QVBoxLayout(more);
    moreRows->setContentsMargins(0, 0, 0, 0);
    moreRows->setSpacing(0);
    auto *disclosureRow = new QHBoxLayout;
    disclosureRow->setSpacing(6);
    auto *chevron = new SymbolMark(QStringLiteral("chevron.right"), 12, Color::muted, more);
    chevron->setObjectName(QStringLiteral("disclosureChevron"));
    disclosureRow->addWidget(chevron, 0, Qt::AlignVCenter);
    auto *disclosure = new PlainButton(L10n::t("More options"), DesignFonts::system(13, DesignFonts::Weight::semibold),
                                       Color::text, more);
    m_disclosure = disclosure;
    connect(disclosure, &QAbstractButton::clicked, this, [this] { m_state.setMoreOptions(!m_state.moreOptions()); });
    disclosureRow->addWidget(disclosure, 0, Qt::AlignVCenter);
    disclosureRow->addStretch(1);
    moreRows->addLayout(disclosureRow);
    m_options = new QWidget(more);
    auto *options = new QVBoxLayout(m_options);
    options->setContentsMargins(0, 8, 0, 0);
    options->setSpacing(12);
    m_shareToFeed = new QCheckBox(L10n::t("Also show on the profile grid"), m_options);
    connect(m_shareToFeed, &QCheckBox::toggled, this, [this](bool on) { m_state.setShareToFeed(on); });
    options->addWidget(m_shareToFeed);
    m_trial = new QCheckBox(L10n::t("Trial Reel: show to non-followers first"), m_options);
    connect(m_trial, &QCheckBox::toggled, this, [this](bool on) { m_state.setTrialEnabled(on); });
    options->addWidget(m_trial);
    m_graduation = new QWidget(m_options);
    auto *graduation = new QVBoxLayout(m_graduation);
    graduation->setContentsMargins(0, 0, 0, 0);
    graduation->setSpacing(6);
    graduation->addWidget(text(L10n::t("After the trial"), 12.5, DesignFonts::Weight::medium, Color::text, m_graduation));
    m_manual = new QRadioButton(L10n::t("I decide"), m_graduation);
    m_performance = new QRadioButton(L10n::t("Instagram graduates it on performance"), m_graduation);
    auto *group = new QButtonGroup(m_graduation);
    group->addButton(m_manual);
    group->addButton(m_performance);
    connect(m_manual, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_state.setTrialGraduation(QStringLiteral("MANUAL"));
    });
    connect(m_performance, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_state.setTrialGraduation(QStringLiteral("SS_PERFORMANCE"));
    });
    graduation->addWidget(m_manual);
    graduation->addWidget(m_performance);
    options->addWidget(m_graduation);
    RoundedField::Look small;
    small.fontSize = 13;
    small.radius = 8;
    small.height = 32;
    small.padding = 10;
    m_audio = new RoundedField(L10n::t("Original audio name, optional"), small, m_options);
    connect(m_audio, &QLineEdit::textEdited, this, [this](const QString &t) { m_state.setAudioName(t); });
    options->addWidget(m_audio);
    m_collaborators = new RoundedField(L10n::t("Collaborators, up to three usernames"), small, m_options);
    connect(m_collaborators, &QLineEdit::textEdited, this, [this](const QString &t) { m_state.setCollaboratorsText(t); });
    options->addWidget(m_collaborators);
    m_ai = new QCheckBox(L10n::t("Made with AI: add Instagram's disclosure"), m_options);
    connect(m_ai, &QCheckBox::toggled, this, [this](bool on) { m_state.setIsAIGenerated(on); });
    options->addWidget(m_ai);
    for (QAbstractButton *control :
         std::initializer_list<QAbstractButton *>{m_shareToFeed, m_trial, m_manual, m_performance, m_ai})
        FocusRing::strengthen(control);
    moreRows->addWidget(m_options);
    column->addWidget(more);
    column->addStretch(1);
    return scroll;
}

QList<QWidget *> ComposerEditor::tiles() const
{
    QList<QWidget *> out;
    for (int i = 0; i < m_grid->count(); ++i) {
        if (QWidget *w = m_grid->itemAt(i)->widget())
            out.append(w);
    }
    return out;
}

void ComposerEditor::rebuildTiles()
{
    QStringList ids;
    for (const ImportedMedia &item : m_state.media())
        ids << item.id;
    if (ids == m_tileIds)
        return;
    m_tileIds = ids;
    // A mark that has the keyboard lets it go before its tile goes (see refresh()).
    const QList<QWidget *> going = tiles();
    if (QWidget *at = QApplication::focusWidget();
        at && std::any_of(going.begin(), going.end(), [at](const QWidget *tile) { return tile->isAncestorOf(at); }))
        at->clearFocus();
    clearLayout(m_grid);
    int index = 0;
    // Tab reaches the remove marks in the order the tiles read, between the
    // drop zone's button and the add button, though they are made later.
    QWidget *before = m_choose;
    for (const ImportedMedia &item : m_state.media()) {
        auto *tile = new MediaTile(item, index + 1, int(ids.size()), m_state, m_gridBox);
        m_grid->addWidget(tile, index / 2, index % 2, Qt::AlignLeading | Qt::AlignTop);
        QWidget::setTabOrder(before, tile->removeMark());
        before = tile->removeMark();
        ++index;
    }
}

void ComposerEditor::refresh()
{
    const ComposerState &s = m_state;
    const PublishFormat format = s.format();
    const bool empty = s.media().isEmpty();

    // Media column. The keyboard stays in it as its parts are made again: on
    // the mark of a moved tile in its new place, on the mark of the tile in a
    // removed one's place, on the add button once files came in by "Choose
    // files", on that once the last one went.
    const auto inMedia = [this](const QWidget *w) {
        return w && w->isVisible() && (m_dropZone->isAncestorOf(w) || m_gridBox->isAncestorOf(w));
    };
    const bool held = inMedia(QApplication::focusWidget());
    const QList<QWidget *> before = tiles();
    const qsizetype markAt = std::find_if(before.begin(), before.end(),
                                          [](const QWidget *tile) { return tile->isAncestorOf(QApplication::focusWidget()); }) -
                             before.begin();
    const QString markedId = m_tileIds.value(markAt);
    // What has the keyboard and is about to be hidden lets it go first:
    // hidden with it, it would hand it on down the sheet (a reader calling out
    // each control) before it is given its place below.
    if (held && (empty ? m_gridBox : m_dropZone)->isAncestorOf(QApplication::focusWidget()))
        QApplication::focusWidget()->clearFocus();
    static_cast<DropFrame *>(m_dropZone)->setTargeted(s.dropTargeted());
    m_dropZone->setVisible(empty);
    m_gridBox->setVisible(!empty);
    rebuildTiles();
    const bool onMark = !empty && markAt < before.size();
    if (held && (onMark || !inMedia(QApplication::focusWidget()))) {
        QWidget *next = empty ? static_cast<QWidget *>(m_choose) : m_add;
        if (onMark) {
            const qsizetype same = m_tileIds.indexOf(markedId);
            next = tiles().at(same >= 0 ? same : std::min(markAt, tiles().size() - 1))->findChild<QAbstractButton *>();
        }
        if (next != QApplication::focusWidget())
            next->setFocus(Qt::OtherFocusReason);
    }
    m_add->setText(format == PublishFormat::carousel ? L10n::t("Add more") : L10n::t("Replace"));
    m_spinner->setVisible(s.importing());
    m_summary->setText(mediaSummary(s.media()));
    m_problem->setText(s.importProblem().value_or(QString()));
    m_problem->setVisible(s.importProblem().has_value());
    m_coverRow->setVisible(format == PublishFormat::reel);
    const QString coverId = s.cover() ? s.cover()->id : QString();
    if (coverId != m_coverId) {
        m_coverId = coverId;
        clearLayout(m_coverThumbBox);
        if (s.cover())
            m_coverThumbBox->addWidget(new MediaThumb(*s.cover(), m_coverThumbBox->parentWidget()));
    }
    m_coverThumbBox->parentWidget()->setVisible(s.cover().has_value());
    m_coverDetail->setText(s.cover() ? s.cover()->fileName : L10n::t("Instagram picks a frame unless you choose one."));
    // A file name keeps to one line; the sentence in its place is read whole.
    m_coverDetail->setMaxLines(s.cover() ? 1 : 0);
    m_coverButton->setText(s.cover() ? L10n::t("Remove") : L10n::t("Choose"));

    // Format, caption and hashtags.
    m_format->setCurrentIndex(int(std::find(PublishFormats::allCases.begin(), PublishFormats::allCases.end(), format) -
                                  PublishFormats::allCases.begin()));
    if (m_caption->toPlainText() != s.caption())
        silently(m_caption, [&] { m_caption->setPlainText(s.caption()); });
    const qsizetype length = s.captionLength();
    m_counter->setText(QStringLiteral("%1 / %2").arg(length).arg(ComposerState::kCaptionLimit));
    m_counter->setColorRole(length > ComposerState::kCaptionLimit ? Color::attention : Color::muted);
    if (m_hashtags->text() != s.hashtags())
        m_hashtags->setTextKeepingCursor(s.hashtags());
    const int tags = int(s.hashtagCount());
    m_hint->setText(tags <= 5 ? L10n::tf("%d tags · up to five is plenty", tags)
                              : L10n::tf("%d tags · fewer, narrower tags usually help more", tags));
    m_hint->setColorRole(tags > ComposerState::kHashtagLimit ? Color::attention : Color::muted);

    // When: the picker accepts from the present moment; a time that has since
    // passed stays in the state for the rules to refuse.
    m_when->setCurrentIndex(s.scheduleLater() ? 1 : 0);
    m_date->setVisible(s.scheduleLater());
    m_scheduleNote->setVisible(s.scheduleLater());
    // Both rewrite the field's text, so neither runs under the user's typing:
    // the bound moves on while the picker is not being edited, and the time is
    // written only when the state holds another one.
    silently(m_date, [&] {
        if (!m_date->hasFocus())
            m_date->setMinimumDateTime(m_view.model().clock().now().toLocalTime());
        if (m_date->dateTime() != s.scheduledAt())
            m_date->setDateTime(s.scheduledAt().toLocalTime());
    });

    // Further options by format.
    const bool reel = format == PublishFormat::reel;
    if (auto *chevron = findChild<SymbolMark *>(QStringLiteral("disclosureChevron")))
        chevron->setTurned(s.moreOptions());
    m_options->setVisible(s.moreOptions());
    m_shareToFeed->setVisible(reel);
    m_trial->setVisible(reel);
    m_graduation->setVisible(reel && s.trialEnabled());
    m_audio->setVisible(reel);
    m_collaborators->setVisible(format != PublishFormat::story);
    silently(m_shareToFeed, [&] { m_shareToFeed->setChecked(s.shareToFeed()); });
    silently(m_trial, [&] { m_trial->setChecked(s.trialEnabled()); });
    silently(m_manual, [&] { m_manual->setChecked(s.trialGraduation() != QLatin1String("SS_PERFORMANCE")); });
    silently(m_performance, [&] { m_performance->setChecked(s.trialGraduation() == QLatin1String("SS_PERFORMANCE")); });
    if (m_audio->text() != s.audioName())
        m_audio->setTextKeepingCursor(s.audioName());
    if (m_collaborators->text() != s.collaboratorsText())
        m_collaborators->setTextKeepingCursor(s.collaboratorsText());
    silently(m_ai, [&] { m_ai->setChecked(s.isAIGenerated()); });
}

void ComposerEditor::applyColors()
{
    // The platform's own controls, in the palette's colours.
    QPalette p = palette();
    p.setColor(QPalette::WindowText, PaletteColors::color(Color::text));
    p.setColor(QPalette::Text, PaletteColors::color(Color::text));
    p.setColor(QPalette::ButtonText, PaletteColors::color(Color::text));
    p.setColor(QPalette::Base, PaletteColors::color(Color::surface));
    p.setColor(QPalette::Button, PaletteColors::color(Color::surface));
    p.setColor(QPalette::Window, PaletteColors::color(Color::background));
    p.setColor(QPalette::Highlight, PaletteColors::color(Color::accent));
    p.setColor(QPalette::PlaceholderText, PaletteColors::color(Color::muted));
    for (QWidget *w : std::initializer_list<QWidget *>{m_shareToFeed, m_trial, m_manual, m_performance, m_ai, m_date})
        w->setPalette(p);
    QPalette caption = m_caption->palette();
    caption.setColor(QPalette::Base, Qt::transparent);
    caption.setColor(QPalette::Text, PaletteColors::color(Color::text));
    m_caption->setPalette(caption);
    m_caption->viewport()->setAutoFillBackground(false);
    for (QCheckBox *box : {m_shareToFeed, m_trial, m_ai})
        box->setFont(DesignFonts::system(13, DesignFonts::Weight::regular));
    for (QRadioButton *radio : {m_manual, m_performance})
        radio->setFont(DesignFonts::system(13, DesignFonts::Weight::regular));
}
