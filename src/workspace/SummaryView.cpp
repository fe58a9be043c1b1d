#include "workspace/SummaryView.h"

#include "app/AppModel.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/EmptyStateCard.h"
#include "design/L10n.h"
#include "design/PaletteColors.h"
#include "design/StatusPill.h"
#include "design/TextBlock.h"
#include "design/Titles.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>

using ZephylPalette::Color;

SummaryView::SummaryView(AppModel &model, QWidget *parent) : Screen(model, parent)
{
    populate();
    // The cards and the empty states follow the state object.
    connect(&model, &AppModel::observationsChanged, this, &Screen::rebuild);
    connect(&model, &AppModel::instagramChanged, this, [this] {
        if (this->model().observations().isEmpty())
            rebuild();
    });
}

QList<ObservationCard *> SummaryView::cards() const
{
    return content() ? content()->findChildren<ObservationCard *>() : QList<ObservationCard *>();
}

EmptyStateCard *SummaryView::emptyState() const
{
    return content() ? content()->findChild<EmptyStateCard *>() : nullptr;
}

QWidget *SummaryView::build()
{
    AppModel &model = this->model();
    QVBoxLayout *column = nullptr;
    QScrollArea *area = scrollColumn(column, 980, QMargins(32, 44, 32, 32), 26);
    keepScroll(area);
    QWidget *body = column->parentWidget();
    column->addWidget(new ScreenTitle(L10n::t("Summary"), L10n::t("What is working now"), body));

    if (!model.observations().isEmpty()) {
        auto *grid = new QWidget(body);
        auto *layout = new AdaptiveGridLayout(300, 420, 16, grid);
        for (const Observation &observation : model.observations())
            layout->addWidget(new ObservationCard(model, observation, grid));
        column->addWidget(grid);
    } else if (model.instagramConnected() || !model.instagramKnown()) {
        // Off line nothing says whether Instagram is connected: nothing to report.
        column->addWidget(leading(new EmptyStateCard(
            QStringLiteral("sparkles"), L10n::t("Nothing to report yet"),
            L10n::t("Observations appear here only when the plan, your publications or your feed give evidence for "
                    "them. A quiet summary is an honest one."),
            L10n::t("Open the assistant"), [&model] { model.setSurface(Surface::assistant); })));
    } else {
        column->addWidget(leading(new EmptyStateCard(
            QStringLiteral("camera"), L10n::t("Connect Instagram"),
            L10n::t("Once a professional account is connected, short observations about your profile appear here. No "
                    "likes, no percentages, no rankings."),
            L10n::t("Go to Profile"), [&model] { model.setSurface(Surface::profile); })));
    }

    column->addWidget(text(L10n::t("Observations rest only on data Zephyl actually holds: your plan, your "
                                   "publications and your own feed. Each card says what it is based on."),
                           12, DesignFonts::Weight::regular, Color::muted, body));
    column->addStretch(1);
    return area;
}

// ---- ObservationCard

ObservationCard::ObservationCard(AppModel &model, const Observation &observation, QWidget *parent)
    : QWidget(parent), m_model(model), m_observation(observation)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(22, 22, 22, 22);
    column->setSpacing(12);

    auto *pillRow = new QHBoxLayout;
    m_pill = new StatusPill(observation.category, toneFor(observation.category), this);
    pillRow->addWidget(m_pill);
    pillRow->addStretch(1);
    column->addLayout(pillRow);

    auto *title = new TextBlock(
        observation.title,
        DesignFonts::tracked(DesignFonts::serif(21, DesignFonts::Weight::semibold), L10n::languageTracking(-0.5)),
        Color::text, this);
    column->addWidget(title);
    auto *detail = text(observation.detail, 13, DesignFonts::Weight::regular, Color::muted, this);
    detail->setLineSpacing(3);
    column->addWidget(detail);

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    buttons->setSpacing(8);
    m_discuss = new StyledButton(L10n::t("Discuss"), PrimaryButtonStyle(true), this);
    connect(m_discuss, &QPushButton::clicked, this, &ObservationCard::discuss);
    buttons->addWidget(m_discuss);
    if (const auto surface = observation.surface) {
        m_open = new StyledButton(L10n::tf("Open %@", Surfaces::title(*surface)), QuietButtonStyle(true), this);
        const Surface target = *surface;
        // No event: only the screen changes.
        connect(m_open, &QPushButton::clicked, this, [this, target] { m_model.setSurface(target); });
        buttons->addWidget(m_open);
    }
    buttons->addStretch(1);
    column->addLayout(buttons);
    AppearanceService::repaintOnChange(this);
}

PillTone ObservationCard::toneFor(const QString &category)
{
    return category == L10n::t("Needs attention") ? PillTone::attention : PillTone::settled;
}

void ObservationCard::discuss()
{
    // The card may be gone once the surface changes, so everything is read first.
    AppModel &model = m_model;
    const QString prompt = m_observation.prompt;
    model.setAssistantDraft(prompt);
    model.setSurface(Surface::assistant);
    model.raiseEvent(AppEvent::wantsWorkspace(Surface::assistant));
}

void ObservationCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()), 22, 22);
    painter.fillPath(card, PaletteColors::color(Color::warmPaper));
}
