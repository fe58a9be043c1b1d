#pragma once

#include "design/AppNotice.h"
#include "planner/PlanCalendar.h"
#include "workspace/PlannerKit.h"
#include "workspace/ScreenKit.h"

#include <QAbstractButton>
#include <QDate>
#include <QPointer>

#include <functional>
#include <vector>

class AppModel;
class DraftEditorView;
class QMenu;
class SheetLayer;
class StatusPill;
class StyledButton;
class TextBlock;

// One line of the week plan, drawn: the format's symbol on a soft tile, the
// title over a secondary line (format, date, failure reason), and the state's
// pill, on a card. It draws only; what its clicks, keys and menu do belongs to
// the plan view.
class PlanRow final : public ActiveCard {
    Q_OBJECT
public:
    explicit PlanRow(const PlanEntry &entry, QWidget *parent = nullptr);

    const PlanEntry &entry() const { return m_entry; }
    TextBlock *titleText() const { return m_title; }
    TextBlock *subtitleText() const { return m_subtitle; }
    StatusPill *pill() const { return m_pill; }

    // The format's label, the date (abbreviated, with its short time, in the
    // language in use and the system's zone) and a failure's reason with "_" read as spaces,
    // joined by " · ".
    static QString subtitle(const PlanEntry &entry);
    // The pill's words (translated) and tone for a state.
    static QString pillText(const PlanEntry::State &state);
    static PillTone pillTone(const PlanEntry::State &state);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    PlanEntry m_entry;
    TextBlock *m_title;
    TextBlock *m_subtitle;
    StatusPill *m_pill;
};

// One day of the week strip: the abbreviated weekday, the day's number in a
// circle when selected, and a dot when the day has entries.
class DayCell final : public QAbstractButton {
    Q_OBJECT
public:
    DayCell(const QDate &date, bool selected, bool today, bool hasEntries, QWidget *parent = nullptr);
    const QDate &date() const { return m_date; }
    bool isSelectedDay() const { return m_selected; }
    bool isToday() const { return m_today; }
    bool hasEntries() const { return m_hasEntries; }
    // The colours the cell draws with, for its state.
    ZephylPalette::Color weekdayColor() const;
    ZephylPalette::Color numberColor() const;
    // Grows the selection's circle in with the shared spring.
    void animateSelection();
    // 0 to 1: how far the circle has grown in (1 when not animating).
    double selectionProgress() const { return m_grow; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QDate m_date;
    bool m_selected;
    bool m_today;
    bool m_hasEntries;
    double m_grow = 1.0;
};

// The plan screen: one week at a time, what needs attention, the selected day's
// entries and the drafts without a date; new drafts and publications start here.
// The plan lives in the state object; this keeps only the week shown, the day
// selected and the open editor.
class PlanView final : public Screen {
    Q_OBJECT
public:
    explicit PlanView(AppModel &model, QWidget *parent = nullptr);
    ~PlanView() override;

    int weekOffset() const { return m_weekOffset; }
    const QDate &selectedDay() const { return m_selectedDay; }
    void setWeekOffset(int offset);
    void selectDay(const QDate &day);
    // Back to the current week, today selected.
    void showToday();

    // Derived afresh on each call, never stored.
    QDate today() const;
    std::vector<QDate> days() const;
    std::vector<PlanEntry> entries() const;
    QString weekTitle() const;

    // The draft the "New draft" sheet edits: noon of the selected day, but
    // never less than an hour from now.
    ZephylWire::PlanDraft newDraft() const;
    // Opens the draft editor for a draft of the plan (the one at `place` among
    // the drafts under its id), or for a new one.
    void editDraft(const ZephylWire::PlanDraft &draft, int place = 0);
    void createDraft();
    // Reopens the editor the account left open here when its session expired.
    void resumeDraftEdit();
    // The editor open in the sheet, else null.
    DraftEditorView *editor() const;

    // The menu of a row: edit, prepare and delete for a draft; "Open on
    // Instagram" for a publication with an Instagram address; else empty.
    QMenu *menuFor(const PlanEntry &entry, QWidget *parent);
    // What a click on a row does: a draft opens in the editor.
    void activate(const PlanEntry &entry);

    // What is on screen now, for tests and the screenshots.
    QList<PlanRow *> rows() const;
    QList<DayCell *> dayCells() const;
    QStringList sectionTitles() const;
    QAbstractButton *button(const QString &text) const;

protected:
    QWidget *build() override;
    void showEvent(QShowEvent *event) override;

private:
    QWidget *section(const QString &title, QWidget *content, QWidget *parent);
    QWidget *list(const std::vector<PlanEntry> &entries, QWidget *parent);
    QWidget *row(const PlanEntry &entry, QWidget *parent);
    QWidget *weekStrip(const std::vector<PlanEntry> &all, QWidget *parent);
    void openEditor(const ZephylWire::PlanDraft &draft, bool isNew, int place);

    int m_weekOffset = 0;
    QDate m_selectedDay;
    // Only a day chosen by its cell is animated; the arrows and "Today" are not.
    bool m_animateSelection = false;
    QPointer<SheetLayer> m_sheet;
};
