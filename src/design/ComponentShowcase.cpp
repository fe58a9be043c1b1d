#include "design/ComponentShowcase.h"

#include "design/AppNotice.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/EmptyStateCard.h"
#include "design/GrowingTextField.h"
#include "design/Icons.h"
#include "design/L10n.h"
#include "design/NoticeBanner.h"
#include "design/PaletteColors.h"
#include "design/SettingRow.h"
#include "design/StatusPill.h"
#include "design/Titles.h"
#include "design/UnevenCorners.h"
#include "design/ZephylSpring.h"
#include "design/ZephylSurface.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

using ZephylPalette::Color;

namespace {

// A page area painted in the palette's background.
class Backdrop final : public QWidget {
public:
    explicit Backdrop(Color color = Color::background) : m_color(color) { AppearanceService::repaintOnChange(this); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), PaletteColors::color(m_color));
    }

private:
    Color m_color;
};

QWidget *column(std::initializer_list<QWidget *> widgets, int spacing = 12)
{
    auto *box = new Backdrop;
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(spacing);
    for (QWidget *widget : widgets)
        layout->addWidget(widget, 0, Qt::AlignLeft);
    layout->addStretch(1);
    return box;
}

QWidget *row(std::initializer_list<QWidget *> widgets)
{
    auto *box = new QWidget;
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    for (QWidget *widget : widgets)
        layout->addWidget(widget, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    return box;
}

QWidget *sized(QWidget *widget, int width)
{
    widget->setFixedWidth(width);
    return widget;
}

StyledButton *button(const char *key, const ButtonStyle &style, bool enabled = true)
{
    auto *b = new StyledButton(L10n::t(key), style);
    b->setEnabled(enabled);
    return b;
}

// A button shown held down: the press follows isDown() after any event.
StyledButton *pressedButton(const char *key, const ButtonStyle &style)
{
    auto *b = new StyledButton(L10n::t(key), style);
    b->setDown(true);
    QEvent poke(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(b, &poke);
    return b;
}

// Shapes with uneven corners, as chat bubbles use them.
class CornersSample final : public QWidget {
public:
    CornersSample()
    {
        setFixedSize(360, 64);
        AppearanceService::repaintOnChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // Leading and trailing follow the reading direction here, as a layout would.
        const bool rtl = layoutDirection() == Qt::RightToLeft;
        auto mirrored = [&](UnevenCorners c) {
            return rtl ? UnevenCorners{c.topTrailing, c.bottomTrailing, c.bottomLeading, c.topLeading} : c;
        };
        auto place = [&](double x, double w) { return rtl ? QRectF(width() - x - w, 12, w, 40) : QRectF(x, 12, w, 40); };
        painter.fillPath(mirrored({18, 18, 4, 18}).path(place(0, 140)), PaletteColors::color(Color::accentSoft));
        painter.fillPath(mirrored({18, 4, 18, 18}).path(place(156, 100)), PaletteColors::color(Color::surfaceStrong));
        painter.fillPath(mirrored({30, 0, 0, 0}).path(place(272, 80)), PaletteColors::color(Color::primaryFill));
    }
};

// Every icon of the set, in the text colour.
class IconStrip final : public QWidget {
public:
    IconStrip()
    {
        setFixedSize(int(Icons::names().size()) * 30, 28);
        AppearanceService::repaintOnChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QStringList names = Icons::names();
        for (int i = 0; i < names.size(); ++i) {
            const int slot = layoutDirection() == Qt::RightToLeft ? int(names.size()) - 1 - i : i;
            Icons::paint(painter, names[i], QRectF(slot * 30 + 3, 3, 22, 22), PaletteColors::color(Color::text),
                         layoutDirection());
        }
    }
};

// The spring's progress over its settling time.
class SpringPlot final : public QWidget {
public:
    SpringPlot()
    {
        setFixedSize(220, 80);
        AppearanceService::repaintOnChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const SpringAnimation &spring = zephylSpring();
        const double duration = spring.settlingDuration();
        const QRectF area(6, 10, width() - 12, height() - 20);
        painter.setPen(QPen(PaletteColors::color(Color::line), 1));
        painter.drawLine(area.topLeft(), area.topRight());
        painter.drawLine(area.bottomLeft(), area.bottomRight());
        QPainterPath curve;
        for (int i = 0; i <= 100; ++i) {
            const double t = duration * i / 100.0;
            const QPointF point(area.left() + area.width() * i / 100.0,
                                area.bottom() - area.height() * spring.position(t));
            if (i == 0)
                curve.moveTo(point);
            else
                curve.lineTo(point);
        }
        painter.setPen(QPen(PaletteColors::color(Color::accent), 2));
        painter.drawPath(curve);
    }
};

QWidget *surfaces()
{
    auto build = [](bool raised) {
        auto *surface = new ZephylSurface(18, raised);
        auto *layout = new QVBoxLayout(surface);
        layout->setContentsMargins(18, 16, 18, 16);
        layout->addWidget(new Eyebrow(L10n::t("Companion")));
        auto *text = new TextBlock(L10n::t("It walks on top of your windows and naps when you are away."),
                                   DesignFonts::system(13.5, DesignFonts::Weight::regular), Color::text);
        text->setPreferredWidth(220);
        layout->addWidget(text);
        surface->setFixedWidth(raised ? 300 : 260);
        return surface;
    };
    return row({build(true), build(false)});
}

const std::vector<ComponentShowcase::Piece> kPieces = {
    {QStringLiteral("notice-banner"),
     [](const ComponentShowcase::Options &) {
         return column({
             new NoticeBanner(AppNotice::make(L10n::t("Published. That one is out in the world."),
                                              AppNotice::Tone::settled)),
             new NoticeBanner(AppNotice::make(L10n::t("That one did not go through. The plan says why."),
                                              AppNotice::Tone::attention)),
             sized(new NoticeBanner(AppNotice::make(
                       L10n::t("Observations appear here only when the plan, your publications or your feed "
                               "give evidence for them. A quiet summary is an honest one."),
                       AppNotice::Tone::attention)),
                   380),
         });
     }},
    {QStringLiteral("buttons"),
     [](const ComponentShowcase::Options &options) {
         auto *back = new StyledButton(QString(), QuietButtonStyle(true));
         back->setSymbol(QStringLiteral("chevron.left"));
         auto *forward = new StyledButton(QString(), QuietButtonStyle(true));
         forward->setSymbol(QStringLiteral("chevron.right"));
         QWidget *primary = row({button("Send", PrimaryButtonStyle(false)), button("Update", PrimaryButtonStyle(true)),
                                 button("Send", PrimaryButtonStyle(false), false)});
         QWidget *quiet = row({button("Cancel", QuietButtonStyle(false)), button("Try again", QuietButtonStyle(true)),
                               back, forward, button("Cancel", QuietButtonStyle(false), false)});
         QWidget *chips = row({button("Discuss", ChipButtonStyle()), button("Discuss", ChipButtonStyle(), false)});
         if (!options.pressedSamples)
             return column({primary, quiet, chips});
         QWidget *pressed = row({pressedButton("Send", PrimaryButtonStyle(false)),
                                 pressedButton("Cancel", QuietButtonStyle(false)),
                                 pressedButton("Discuss", ChipButtonStyle())});
         return column({primary, quiet, chips, pressed});
     }},
    {QStringLiteral("empty-state-card"),
     [](const ComponentShowcase::Options &) {
         return column({
             new EmptyStateCard(
                 QStringLiteral("sparkles"), L10n::t("Nothing to report yet"),
                 L10n::t("Observations appear here only when the plan, your publications or your feed give "
                         "evidence for them. A quiet summary is an honest one."),
                 L10n::t("Open the assistant"), [] {}),
             new EmptyStateCard(QStringLiteral("camera"), L10n::t("Connect Instagram"),
                                L10n::t("Once a professional account is connected, short observations about your "
                                        "profile appear here. No likes, no percentages, no rankings.")),
         });
     }},
    {QStringLiteral("screen-title"),
     [](const ComponentShowcase::Options &) {
         return column({new ScreenTitle(L10n::t("Connection and settings"), L10n::t("Profile"))});
     }},
    {QStringLiteral("status-pill"),
     [](const ComponentShowcase::Options &) {
         return column({row({new StatusPill(L10n::t("Draft"), PillTone::neutral),
                             new StatusPill(L10n::t("Scheduled"), PillTone::accent),
                             new StatusPill(L10n::t("Published"), PillTone::settled),
                             new StatusPill(L10n::t("Failed"), PillTone::attention)})});
     }},
    {QStringLiteral("setting-row"),
     [](const ComponentShowcase::Options &) {
         auto *list = new Backdrop(Color::surface);
         auto *layout = new QVBoxLayout(list);
         layout->setContentsMargins(18, 4, 18, 4);
         layout->setSpacing(0);
         layout->addWidget(new SettingRow(
             L10n::t("Walk on other windows"),
             L10n::t("Uses only window positions from the window server; no permission is needed and nothing is "
                     "read from the windows."),
             new StyledButton(L10n::t("Allow"), QuietButtonStyle(true))));
         layout->addWidget(new Divider2);
         layout->addWidget(
             new SettingRow(L10n::t("Theme"), std::nullopt, new StatusPill(L10n::t("System"), PillTone::neutral)));
         list->setFixedWidth(520);
         return column({list});
     }},
    {QStringLiteral("surface"), [](const ComponentShowcase::Options &) { return column({surfaces()}); }},
    {QStringLiteral("growing-text-field"),
     [](const ComponentShowcase::Options &) {
         auto field = [](const QString &text) {
             auto *surface = new ZephylSurface(14, false);
             auto *layout = new QVBoxLayout(surface);
             layout->setContentsMargins(12, 8, 12, 8);
             auto *edit = new GrowingTextField(L10n::t("Ask anything…"), 4);
             edit->setFont(DesignFonts::system(13.5, DesignFonts::Weight::regular));
             edit->setText(text);
             layout->addWidget(edit);
             surface->setFixedWidth(340);
             return surface;
         };
         return column({field(QString()), field(L10n::t("Hi! Let me show you what I can do.") + QLatin1Char('\n') +
                                                 L10n::t("I live on the edge of your window. Move it, and I ride "
                                                         "along."))});
     }},
    {QStringLiteral("uneven-corners"),
     [](const ComponentShowcase::Options &) { return column({new CornersSample}); }},
    {QStringLiteral("icons-and-spring"),
     [](const ComponentShowcase::Options &) { return column({new IconStrip, new SpringPlot}); }},
};

} // namespace

namespace ComponentShowcase {

const std::vector<Piece> &pieces() { return kPieces; }

QWidget *page(const Options &options)
{
    auto *page = new Backdrop;
    auto *columns = new QHBoxLayout(page);
    columns->setContentsMargins(12, 12, 12, 12);
    columns->setSpacing(0);
    const auto &all = pieces();
    // Two columns, filled down each column so tall pieces sit side by side.
    const size_t perColumn = (all.size() + 1) / 2;
    for (size_t start = 0; start < all.size(); start += perColumn) {
        auto *column = new QVBoxLayout;
        column->setSpacing(0);
        for (size_t i = start; i < std::min(all.size(), start + perColumn); ++i)
            column->addWidget(all[i].build(options));
        column->addStretch(1);
        columns->addLayout(column);
    }
    return page;
}

} // namespace ComponentShowcase
