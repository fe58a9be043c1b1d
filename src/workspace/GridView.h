#pragma once

#include "app/AppValues.h"
#include "services/WireModels.h"
#include "workspace/PlannerKit.h"
#include "workspace/ScreenKit.h"

#include <QPointer>

#include <optional>

class DraftEditorView;
class QMenu;
class SheetLayer;

// The frame both tiles share: a 3:4 portrait cell, clipped square, the whole
// rectangle answering clicks. The picture comes from the picture cache, asked
// for only when the tile is painted, that is, while it is on screen.
class GridTile : public ActiveCard {
    Q_OBJECT
public:
    explicit GridTile(std::optional<QUrl> picture, QWidget *parent = nullptr);
    const std::optional<QUrl> &pictureAddress() const { return m_picture; }
    // The picture loaded for the tile; null while loading, when it failed or
    // when there is none.
    QImage loadedPicture() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override { return {218, 291}; }

protected:
    // Draws the picture covering the tile; false when there is none yet.
    bool paintPicture(QPainter &painter);
    // The keyboard's ring inside the tile's edge, while the keyboard is on it.
    void paintFocusRing(QPainter &painter);

private:
    std::optional<QUrl> m_picture;
};

// A plan draft not yet published: its picture, else a warm placeholder with
// the format's symbol and the title (or the format's name); a "Draft" badge.
class DraftTile final : public GridTile {
    Q_OBJECT
public:
    explicit DraftTile(const ZephylWire::PlanDraft &draft, QWidget *parent = nullptr);
    const ZephylWire::PlanDraft &draft() const { return m_draft; }
    // The placeholder's words: the title when it has one, else the format's label.
    QString placeholderText() const;
    QString placeholderSymbol() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ZephylWire::PlanDraft m_draft;
};

// A post already on the profile: its picture on a soft fill, and a small mark
// for reels and carousels.
class FeedTile final : public GridTile {
    Q_OBJECT
public:
    explicit FeedTile(const ZephylWire::InstagramFeedItem &item, QWidget *parent = nullptr);
    const ZephylWire::InstagramFeedItem &item() const { return m_item; }
    // "play.fill" for a reel, "square.on.square" for a carousel, else none.
    static std::optional<QString> badgeSymbol(ZephylWire::InstagramFeedItem::Kind kind);
    // What the tile is called: its kind, then the start of its caption, else
    // the day it was posted.
    static QString spokenName(const ZephylWire::InstagramFeedItem &item);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ZephylWire::InstagramFeedItem m_item;
};

// The grid screen: the plan's drafts first, then the published posts, three
// to a row, with the drafts hidden from the grid listed below. Drafts are
// moved, hidden, shown, edited and prepared through the state object.
class GridView final : public Screen {
    Q_OBJECT
public:
    explicit GridView(AppModel &model, QWidget *parent = nullptr);
    ~GridView() override;

    // The line under the grid for the feed's state; none when there is nothing to say.
    static std::optional<QString> feedNote(const FeedStatus &status, bool noItems);

    // The draft is the one at `place` among the plan's drafts under its id (DraftPlace).
    void editDraft(const ZephylWire::PlanDraft &draft, int place = 0);
    // Reopens the editor the account left open here when its session expired.
    void resumeDraftEdit();
    DraftEditorView *editor() const;
    QMenu *menuFor(const ZephylWire::PlanDraft &draft, QWidget *parent, int place = 0);
    // A click on a post: its Instagram address, when it has one, goes to the desktop.
    void openPost(const ZephylWire::InstagramFeedItem &item);

    // What is on screen now.
    QList<GridTile *> tiles() const;
    QStringList hiddenTitles() const;
    std::optional<QString> shownFeedNote() const;
    QAbstractButton *button(const QString &text) const;
    QScrollArea *scroller() const { return m_area; }

protected:
    QWidget *build() override;
    void showEvent(QShowEvent *event) override;

private:
    QWidget *grid(QWidget *parent);
    // `hidden`: where the hidden drafts stand in the plan.
    QWidget *hiddenSection(const QList<qsizetype> &hidden, QWidget *parent);

    QPointer<SheetLayer> m_sheet;
    QPointer<QScrollArea> m_area;
};
