#pragma once

#include "app/AppValues.h"
#include "app/PublishFormat.h"
#include "services/WireModels.h"

#include <QCache>
#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <QWidget>

#include <deque>
#include <functional>
#include <optional>

class AppModel;
class KeyboardHold;
class QAbstractButton;
class QNetworkAccessManager;
class QScrollArea;
class QSpacerItem;
class QVBoxLayout;
class QNetworkReply;

// Pieces the plan and grid screens share: where links go, the format's symbol,
// the composer's prefill from a draft, a sheet over the window, and the pictures
// the tiles and the draft editor load from the web.
namespace PlannerKit {

// Hands an address to the desktop's default handler. Replaceable so tests can
// see what would be opened.
using UrlOpener = std::function<void(const QUrl &)>;
UrlOpener &urlOpener();
// Opens `url` only when it is an https address on Instagram's own site; says
// whether it did. A publication's address comes from the service as any text.
bool openInstagram(const std::optional<QUrl> &url);

// "play.rectangle", "circle.dashed", "photo" or "rectangle.stack".
QString symbol(PublishFormat format);
// The composer's prefill from a draft: its format and texts, never its media or date.
ComposerPrefill prefill(const ZephylWire::PlanDraft &draft);
// Removes `shown`, the draft shown at that place under its id (DraftPlace::find),
// from the plan, and no other under its id, keeping the order of the rest;
// saving is the caller's. Where it stood, or -1 when the plan holds it no more.
qsizetype removeDraft(AppModel &model, const ZephylWire::PlanDraft &shown, int place);
// At most `limit` UTF-16 units of `text`, not splitting a surrogate pair: a
// title shown on one line needs no more, however long the stored one is.
QString shownText(const QString &text, qsizetype limit = 400);
// The user's own locale, whose rules order the plan's undated titles (its
// dates are written in the interface language, see DateText).
QLocale systemLocale();
// The button below `root` whose text or accessible name is `label`, else null.
QAbstractButton *findButton(const QWidget *root, const QString &label);
// A column without margins on `box`, `spacing` apart.
QVBoxLayout *bareColumn(QWidget *box, int spacing);

} // namespace PlannerKit

// A plan row or a grid tile: a card that answers as a button does. A click
// anywhere on it (the gaps between its parts too) opens it, a secondary click
// asks for its menu; once it takes the keyboard, Return or Space opens it and
// the Menu key or Shift+F10 asks for its menu.
class ActiveCard : public QWidget {
    Q_OBJECT
public:
    explicit ActiveCard(QWidget *parent = nullptr) : QWidget(parent) {}

Q_SIGNALS:
    void clicked();
    void menuRequested(const QPoint &globalPosition);

protected:
    // Puts the card in the Tab order, where the order it was made places it;
    // its painting draws the ring while FocusRing::shown().
    void takeKeyboard();
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
};

// A sheet: a dimmed layer over the whole window holding one card near its top,
// whose content scrolls when the window is too short for it; the content's
// action buttons, when given, stay in view under it. Escape, or the
// card's content emitting `closeRequested`, closes it. The layer
// takes every click and keeps the keyboard, so the window beneath waits while it
// is up; once closed, the keyboard goes back to where it was. It deletes itself
// when closed or when its owner goes.
class SheetLayer final : public QWidget {
    Q_OBJECT
public:
    SheetLayer(QWidget *content, QWidget *owner, QWidget *actions = nullptr);
    QWidget *content() const { return m_content; }
    void dismiss();

Q_SIGNALS:
    void dismissed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *) override {}
    bool focusNextPrevChild(bool next) override;

private:
    void place();
    QWidget *m_card;
    QScrollArea *m_area;
    QWidget *m_content;
    QWidget *m_footer = nullptr;
    QSpacerItem *m_barGap = nullptr;
    KeyboardHold *m_hold;
    bool m_closed = false;
};

// Pictures from web addresses. Only https addresses with a host are fetched, at
// most kMaxBytes each and at most kConcurrent at a time, newest request first;
// each is decoded off the main thread within the decoder's allocation limit,
// scaled down to the size asked for, and kept in a memory cache bounded in
// bytes. An address that failed is not fetched again.
class PictureCache final : public QObject {
    Q_OBJECT
public:
    static constexpr int kConcurrent = 6;
    static constexpr qsizetype kMaxQueued = 64;
    static constexpr qint64 kDefaultBudgetBytes = 96ll * 1024 * 1024;

    explicit PictureCache(qint64 budgetBytes = kDefaultBudgetBytes, QObject *parent = nullptr);
    ~PictureCache() override;
    static PictureCache &shared();

    // The picture when it is in the cache; else a null image, and the address
    // is fetched (unless it is being fetched, or failed). `target` is the size
    // in device pixels the picture must cover. A picture decoded for a size more
    // than a quarter smaller is answered meanwhile and fetched again.
    QImage picture(const QUrl &url, QSize target);
    bool hasFailed(const QUrl &url) const { return m_failed.contains(url.toString()); }
    bool isPending(const QUrl &url) const;
    qint64 cachedBytes() const { return m_cache.totalCost() * 1024; }
    int cachedCount() const { return m_cache.count(); }
    // For tests: the network the fetches go through (the cache does not own it).
    void setNetwork(QNetworkAccessManager *network) { m_network = network; }

Q_SIGNALS:
    // The address has settled: its picture is in the cache, or it failed.
    void settled(const QUrl &url);

private:
    struct Wanted {
        QUrl url;
        QSize target;
    };
    struct Decoded {
        QImage image;
        QSize target; // the size it was decoded to cover
    };
    void pump();
    void finish(QNetworkReply *reply, QSize target);
    void store(const QString &key, const QImage &image, QSize target);
    void fail(const QString &key);

    QCache<QString, Decoded> m_cache;
    QSet<QString> m_failed;
    std::deque<Wanted> m_queue;
    QHash<QString, QPointer<QNetworkReply>> m_running;
    QSet<QString> m_decoding;
    QNetworkAccessManager *m_network = nullptr;
    QNetworkAccessManager *m_ownNetwork = nullptr;
};
