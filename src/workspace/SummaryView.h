#pragma once

#include "app/AppValues.h"
#include "design/AppNotice.h"
#include "workspace/ScreenKit.h"

class EmptyStateCard;
class StatusPill;
class StyledButton;

// The summary screen: the observation cards the state object built from the
// plan, the publications and the feed, each taken to the assistant or to the
// screen it is about; with no cards, why not and one step onward.
class SummaryView final : public Screen {
    Q_OBJECT
public:
    explicit SummaryView(AppModel &model, QWidget *parent = nullptr);

    // The cards shown, in order; empty while an empty state shows.
    QList<class ObservationCard *> cards() const;
    // The empty state shown, else null.
    EmptyStateCard *emptyState() const;

protected:
    QWidget *build() override;
};

// One observation: its category pill, title, detail, "Discuss" and, when it is
// about a screen, the button that opens it.
class ObservationCard final : public QWidget {
    Q_OBJECT
public:
    ObservationCard(AppModel &model, const Observation &observation, QWidget *parent = nullptr);

    const Observation &observation() const { return m_observation; }
    StatusPill *pill() const { return m_pill; }
    StyledButton *discussButton() const { return m_discuss; }
    // Null when the observation names no screen.
    StyledButton *openButton() const { return m_open; }

    // The pill's tone: attention only for the category that reads, in the
    // current language, "Needs attention".
    static PillTone toneFor(const QString &category);
    // Takes the observation to the assistant: its prompt as the draft, the
    // assistant screen, and the coordinator told.
    void discuss();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    AppModel &m_model;
    Observation m_observation;
    StatusPill *m_pill;
    StyledButton *m_discuss;
    StyledButton *m_open = nullptr;
};
