#include "design/SettingRow.h"

#include "design/AppearanceService.h"
#include "design/DesignFonts.h"
#include "design/PaletteColors.h"
#include "design/TextBlock.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QPainter>
#include <QSpacerItem>
#include <QVBoxLayout>

using ZephylPalette::Color;

SettingRow::SettingRow(const QString &title, const std::optional<QString> &detail, QWidget *content, QWidget *parent)
    : QWidget(parent),
      m_title(new TextBlock(title, DesignFonts::system(13.5, DesignFonts::Weight::medium), Color::text, this)),
      m_content(content)
{
    auto *text = new QVBoxLayout;
    text->setContentsMargins(0, 0, 0, 0);
    text->setSpacing(3);
    text->addWidget(m_title);
    if (detail) {
        m_detail = new TextBlock(*detail, DesignFonts::system(12, DesignFonts::Weight::regular), Color::muted, this);
        text->addWidget(m_detail);
    }

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 10, 0, 10);
    row->setSpacing(16);
    row->addLayout(text, 1);
    row->addSpacerItem(new QSpacerItem(12, 0, QSizePolicy::Minimum, QSizePolicy::Minimum));
    if (m_content) {
        // A control that shows no words of its own (a switch, a picker) is
        // called by its row, for assistive technology and the keyboard's trace.
        const auto *button = qobject_cast<const QAbstractButton *>(m_content);
        if (m_content->accessibleName().isEmpty() && !(button && !button->text().isEmpty()))
            m_content->setAccessibleName(title);
        m_content->setParent(this);
        row->addWidget(m_content, 0, Qt::AlignVCenter);
    }
}

Divider2::Divider2(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    AppearanceService::repaintOnChange(this);
}

void Divider2::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), PaletteColors::color(Color::line));
}
