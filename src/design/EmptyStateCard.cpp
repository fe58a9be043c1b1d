#include "design/EmptyStateCard.h"

#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/DesignFonts.h"
#include "design/Icons.h"
#include "design/PaletteColors.h"
#include "design/TextBlock.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

using ZephylPalette::Color;

namespace {
constexpr int kMaxWidth = 520;

// The 44 x 44 symbol tile.
class SymbolTile final : public QWidget {
public:
    SymbolTile(QString symbol, QWidget *parent) : QWidget(parent), m_symbol(std::move(symbol))
    {
        setFixedSize(44, 44);
        AppearanceService::repaintOnChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath tile;
        tile.addRoundedRect(QRectF(rect()), 14, 14);
        painter.fillPath(tile, PaletteColors::color(Color::surfaceSoft));
        const double box = Icons::boxForFontSize(20);
        Icons::paint(painter, m_symbol, QRectF((width() - box) / 2, (height() - box) / 2, box, box),
                     PaletteColors::color(Color::text));
    }

private:
    QString m_symbol;
};
} // namespace

EmptyStateCard::EmptyStateCard(const QString &symbol, const QString &title, const QString &detail,
                               const std::optional<QString> &actionTitle, std::function<void()> action,
                               QWidget *parent)
    : QWidget(parent),
      m_symbol(symbol),
      m_title(new TextBlock(title, DesignFonts::system(19, DesignFonts::Weight::semibold), Color::text, this)),
      m_detail(new TextBlock(detail, DesignFonts::system(13.5, DesignFonts::Weight::regular), Color::muted, this)),
      m_action(std::move(action))
{
    setMaximumWidth(kMaxWidth);
    m_title->setPreferredWidth(kMaxWidth - 48);
    m_detail->setPreferredWidth(kMaxWidth - 48);
    m_detail->setLineSpacing(3);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(14);
    layout->addWidget(new SymbolTile(symbol, this), 0, Qt::AlignLeft);
    layout->addWidget(m_title);
    layout->addWidget(m_detail);
    if (actionTitle && m_action) {
        m_button = new StyledButton(*actionTitle, PrimaryButtonStyle(false), this);
        connect(m_button, &QPushButton::clicked, this, [this] { m_action(); });
        layout->addWidget(m_button, 0, Qt::AlignLeft);
    }
    AppearanceService::repaintOnChange(this);
}

void EmptyStateCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()), 24, 24);
    painter.fillPath(card, PaletteColors::color(Color::warmPaper));
}
