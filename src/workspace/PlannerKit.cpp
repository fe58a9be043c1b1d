#include "workspace/PlannerKit.h"

#include "app/AppModel.h"
#include "app/DraftPlace.h"
#include "design/AppearanceService.h"
#include "design/Controls.h"
#include "design/PaletteColors.h"
#include "design/ReadingOrder.h"
#include "design/ZephylSurface.h"
#include "workspace/KeyboardHold.h"
#include "workspace/ProfilePicture.h"
#include "workspace/ScreenKit.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <limits>

namespace PlannerKit {

UrlOpener &urlOpener()
{
    static UrlOpener opener = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    return opener;
}

bool openInstagram(const std::optional<QUrl> &url)
{
    if (!url)
        return false;
    const auto safe = ZephylWire::InstagramFeedItem::safeInstagramURL(url->toString(QUrl::FullyEncoded));
    if (!safe)
        return false;
    if (urlOpener())
        urlOpener()(*safe);
    return true;
}

QString symbol(PublishFormat format)
{
    switch (format) {
    case PublishFormat::reel: return QStringLiteral("play.rectangle");
    case PublishFormat::story: return QStringLiteral("circle.dashed");
    case PublishFormat::feed: return QStringLiteral("photo");
    case PublishFormat::carousel: return QStringLiteral("rectangle.stack");
    }
    return QStringLiteral("photo");
}

ComposerPrefill prefill(const ZephylWire::PlanDraft &draft)
{
    return ComposerPrefill{PublishFormats::fromPlanValue(draft.format), draft.title, draft.caption, draft.hashtags};
}

qsizetype removeDraft(AppModel &model, const ZephylWire::PlanDraft &shown, int place)
{
    model.forgetDraftEditsOf(shown, place);
    QList<ZephylWire::PlanDraft> drafts = model.planDrafts();
    const qsizetype at = DraftPlace::find(drafts, shown, place);
    if (at >= 0) {
        drafts.removeAt(at);
        model.setPlanDrafts(std::move(drafts));
    }
    return at;
}

QString shownText(const QString &text, qsizetype limit)
{
    if (text.size() <= limit)
        return text;
    qsizetype end = limit;
    if (end > 0 && text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end);
}

QLocale systemLocale() { return QLocale::system(); }

QAbstractButton *findButton(const QWidget *root, const QString &label)
{
    if (!root)
        return nullptr;
    for (QAbstractButton *b : root->findChildren<QAbstractButton *>()) {
        if (b->text() == label || b->accessibleName() == label)
            return b;
    }
    return nullptr;
}

QVBoxLayout *bareColumn(QWidget *box, int spacing)
{
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    return column;
}

} // namespace PlannerKit

// ---- ActiveCard

void ActiveCard::takeKeyboard()
{
    setFocusPolicy(Qt::StrongFocus);
    FocusRing::track(this);
}

void ActiveCard::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
    QWidget::mouseReleaseEvent(event);
}

void ActiveCard::contextMenuEvent(QContextMenuEvent *event)
{
    Q_EMIT menuRequested(event->globalPos());
    event->accept();
}

void ActiveCard::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers held = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) && held == Qt::NoModifier) {
        // Holding the key down opens it once.
        if (!event->isAutoRepeat())
            Q_EMIT clicked();
    } else if (key == Qt::Key_Menu) { // Shift+F10 comes as a context menu request
        Q_EMIT menuRequested(mapToGlobal(rect().center()));
    } else {
        QWidget::keyPressEvent(event);
    }
}

void ActiveCard::focusInEvent(QFocusEvent *event)
{
    update();
    QWidget::focusInEvent(event);
}

void ActiveCard::focusOutEvent(QFocusEvent *event)
{
    update();
    QWidget::focusOutEvent(event);
}

// ---- SheetLayer

SheetLayer::SheetLayer(QWidget *content, QWidget *owner, QWidget *actions)
    : QWidget(owner->window()), m_content(content)
{
    setFocusPolicy(Qt::StrongFocus);
    m_hold = new KeyboardHold(this);
    auto *card = new ZephylSurface(16, true, this);
    m_card = card;
    auto *inside = new QVBoxLayout(card);
    inside->setContentsMargins(0, 0, 0, 0);
    // The footer's own margin is the space above it: a gap more would make the
    // content scroll by it where it fits (place() counts none).
    inside->setSpacing(0);
    // A window too short for the content scrolls it, rather than squeezing its fields.
    m_area = scrollArea(content, card);
    m_area->setFocusPolicy(Qt::NoFocus); // the keyboard goes round the content's controls only
    inside->addWidget(m_area);
    if (actions) {
        // Under the scrolling content, with the content's own inset round them
        // and its row spacing above: always in view, however short the window.
        m_footer = new QWidget(card);
        auto *row = new QHBoxLayout(m_footer);
        row->setContentsMargins(24, 16, 24, 24);
        row->setSpacing(0);
        row->addWidget(actions, 1);
        // Beside a scroll bar the buttons end where the fields do.
        m_barGap = new QSpacerItem(0, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
        row->addSpacerItem(m_barGap);
        inside->addWidget(m_footer);
        m_footer->installEventFilter(this);
    }
    AppearanceService::repaintOnChange(this);
    parentWidget()->installEventFilter(this);
    content->installEventFilter(this);
    m_area->installEventFilter(this);
    // The sheet belongs to the screen that opened it.
    connect(owner, &QObject::destroyed, this, [this] {
        m_closed = true;
        // Hidden first, so the keyboard stays in the window rather than going
        // with the sheet; once the screen's teardown is over, as the keyboard's
        // way back looks through the window.
        QTimer::singleShot(0, this, [this] {
            hide();
            deleteLater();
        });
    });
    place();
    show();
    raise();
    // The keyboard goes to the first field of the sheet (the draft's working
    // title), ready for typing; the layer holds it where there is none.
    QWidget *first = this;
    for (QWidget *control : ReadingOrder::controls(content)) {
        if ((qobject_cast<QLineEdit *>(control) || qobject_cast<QPlainTextEdit *>(control)) && control->isVisible() &&
            control->isEnabled()) {
            first = control;
            break;
        }
    }
    first->setFocus(Qt::OtherFocusReason);
}

void SheetLayer::dismiss()
{
    if (m_closed)
        return;
    m_closed = true;
    hide();
    Q_EMIT dismissed();
    deleteLater();
}

void SheetLayer::place()
{
    setGeometry(parentWidget()->rect());
    QSize wanted = m_content->sizeHint().expandedTo(m_content->minimumSizeHint()).grownBy(m_card->contentsMargins());
    if (m_footer)
        wanted.rheight() += m_footer->sizeHint().height();
    const int room = std::max(0, height() - 40);
    // Scrolled, the content keeps its width beside the scroll bar.
    const int bar = wanted.height() > room ? m_area->verticalScrollBar()->sizeHint().width() : 0;
    if (m_barGap && m_barGap->sizeHint().width() != bar) {
        m_barGap->changeSize(bar, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
        m_footer->layout()->invalidate();
    }
    const int w = std::min(wanted.width() + bar, std::max(0, width() - 40));
    const int h = std::min(wanted.height(), room);
    m_card->setGeometry((width() - w) / 2, 20, w, h);
}

bool SheetLayer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        place();
    // The content or the footer grows or shrinks (a problem line shows): the card follows it.
    if ((watched == parentWidget() || watched == m_content || (m_footer && watched == m_footer)) &&
        event->type() == QEvent::LayoutRequest)
        place();
    // The scroll bar's column in the sheet's own colour, not the card's: the
    // bar stands in the sheet rather than beside it. The buttons under it too.
    if ((watched == m_area || (m_footer && watched == m_footer)) && event->type() == QEvent::Paint) {
        auto *painted = static_cast<QWidget *>(watched);
        QPainter(painted).fillRect(painted->rect(), PaletteColors::color(ZephylPalette::Color::background));
    }
    return QWidget::eventFilter(watched, event);
}

void SheetLayer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, AppearanceService::shared().appearance() == Appearance::dark ? 110 : 60));
}

bool SheetLayer::focusNextPrevChild(bool next)
{
    return isVisible() ? m_hold->cycle(next) : QWidget::focusNextPrevChild(next);
}

void SheetLayer::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

// ---- PictureCache

PictureCache::PictureCache(qint64 budgetBytes, QObject *parent) : QObject(parent)
{
    // Costs are counted in KiB so a large budget fits the cache's int.
    m_cache.setMaxCost(int(std::max<qint64>(1, budgetBytes / 1024)));
}

PictureCache::~PictureCache()
{
    for (const auto &reply : std::as_const(m_running)) {
        if (reply) {
            reply->disconnect(this);
            reply->abort();
        }
    }
}

PictureCache &PictureCache::shared()
{
    static auto *cache = new PictureCache();
    return *cache;
}

bool PictureCache::isPending(const QUrl &url) const
{
    const QString key = url.toString();
    return m_running.contains(key) || m_decoding.contains(key) ||
           std::any_of(m_queue.begin(), m_queue.end(), [&](const Wanted &w) { return w.url.toString() == key; });
}

QImage PictureCache::picture(const QUrl &url, QSize target)
{
    const QString key = url.toString();
    QImage cached;
    if (const Decoded *decoded = m_cache.object(key)) {
        // The same address shows small in the draft editor and large on a tile:
        // a picture decoded for the small one would be blurred on the large one.
        // Up to a quarter larger is drawn from it as it is (a tile a few pixels
        // wider once a scroll bar went is not worth a new fetch).
        if (qint64(decoded->target.width()) * 5 / 4 >= target.width() &&
            qint64(decoded->target.height()) * 5 / 4 >= target.height())
            return decoded->image;
        cached = decoded->image;
    }
    if (m_failed.contains(key) || m_running.contains(key) || m_decoding.contains(key))
        return cached;
    if (!ProfilePicture::address(key)) {
        fail(key);
        return {};
    }
    // The newest request goes first: it is the one on screen now.
    const auto queued =
        std::find_if(m_queue.begin(), m_queue.end(), [&](const Wanted &w) { return w.url.toString() == key; });
    if (queued != m_queue.end())
        m_queue.erase(queued);
    m_queue.push_front({url, target});
    // Requests of tiles long scrolled past are forgotten; they ask again when shown.
    while (qsizetype(m_queue.size()) > kMaxQueued)
        m_queue.pop_back();
    QMetaObject::invokeMethod(this, &PictureCache::pump, Qt::QueuedConnection);
    return cached;
}

void PictureCache::pump()
{
    while (m_running.size() < kConcurrent && !m_queue.empty()) {
        const Wanted wanted = m_queue.front();
        m_queue.pop_front();
        if (!m_network) {
            m_ownNetwork = new QNetworkAccessManager(this);
            m_network = m_ownNetwork;
        }
        QNetworkRequest request(wanted.url);
        // Redirects may not leave https.
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setMaximumRedirectsAllowed(5);
        request.setTransferTimeout(30000);
        QNetworkReply *reply = m_network->get(request);
        m_running.insert(wanted.url.toString(), reply);
        // A body larger than the limit is cut off as soon as it says so or shows it.
        connect(reply, &QNetworkReply::metaDataChanged, this, [reply] {
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toLongLong() > ProfilePicture::kMaxBytes)
                reply->abort();
        });
        connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
            if (received > ProfilePicture::kMaxBytes)
                reply->abort();
        });
        const QSize target = wanted.target;
        connect(reply, &QNetworkReply::finished, this, [this, reply, target] { finish(reply, target); });
    }
}

void PictureCache::finish(QNetworkReply *reply, QSize target)
{
    reply->deleteLater();
    const QString key = reply->request().url().toString();
    m_running.remove(key);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status < 200 || status >= 300 ||
        reply->url().scheme() != QLatin1String("https")) {
        fail(key);
        pump();
        return;
    }
    const QByteArray bytes = reply->read(ProfilePicture::kMaxBytes + 1);
    m_decoding.insert(key);
    auto *watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, key, target] {
        watcher->deleteLater();
        m_decoding.remove(key);
        const QImage image = watcher->result();
        if (image.isNull())
            fail(key);
        else
            store(key, image, target);
    });
    watcher->setFuture(QtConcurrent::run([bytes, target] { return ProfilePicture::decode(bytes, target); }));
    pump();
}

void PictureCache::store(const QString &key, const QImage &image, QSize target)
{
    // Decoded at its own size, smaller than asked for: no larger ask can do better.
    if (image.width() < target.width() || image.height() < target.height())
        target = QSize(std::numeric_limits<int>::max(), std::numeric_limits<int>::max());
    const Decoded *former = m_cache.object(key);
    // A picture decoded for a larger size already is not replaced by a smaller one.
    if (!former || former->target.width() < target.width() || former->target.height() < target.height()) {
        const qint64 kib = std::max<qint64>(1, image.sizeInBytes() / 1024);
        m_cache.insert(key, new Decoded{image, target}, int(std::min<qint64>(kib, m_cache.maxCost())));
    }
    Q_EMIT settled(QUrl(key));
}

void PictureCache::fail(const QString &key)
{
    // Kept small: a long session of failing addresses must not grow without end.
    if (m_failed.size() > 4096)
        m_failed.clear();
    m_failed.insert(key);
    Q_EMIT settled(QUrl(key));
}
