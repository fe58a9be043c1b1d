#include "workspace/InWindowCatStage.h"

#include <array>
#include <utility>

namespace {
constexpr std::array<std::pair<InWindowCatStage::Look, const char *>, 6> kLooks{{
    {InWindowCatStage::Look::leap, "leap"},
    {InWindowCatStage::Look::happy, "happy"},
    {InWindowCatStage::Look::curious, "curious"},
    {InWindowCatStage::Look::concerned, "concerned"},
    {InWindowCatStage::Look::sleepy, "sleepy"},
    {InWindowCatStage::Look::sit, "sit"},
}};
} // namespace

std::optional<InWindowCatStage::Look> InWindowCatStage::lookFromRaw(const QString &raw)
{
    for (const auto &[look, name] : kLooks) {
        if (raw == QLatin1String(name))
            return look;
    }
    return std::nullopt;
}

QString InWindowCatStage::rawValue(Look look)
{
    for (const auto &[l, name] : kLooks) {
        if (l == look)
            return QString::fromLatin1(name);
    }
    return {};
}

InWindowCatStage::InWindowCatStage(QObject *parent) : QObject(parent) {}
InWindowCatStage::~InWindowCatStage() = default;

bool InWindowCatStage::say(const QString &text, double seconds)
{
    Q_UNUSED(seconds);
    if (!occupied())
        return false;
    setCaption(text);
    return true;
}

void InWindowCatStage::show(Look, QSizeF, double) {}
void InWindowCatStage::composerOpened(std::optional<QRectF>, std::optional<QRectF>, QSizeF) {}
void InWindowCatStage::sheetMoved(std::optional<QRectF>) {}
void InWindowCatStage::visit(std::optional<QRectF>, std::optional<QRectF>, QSizeF) {}
void InWindowCatStage::composerClosed(const QString &, std::optional<QRectF>, std::optional<QRectF>, QSizeF) {}

void InWindowCatStage::clear()
{
    setActor(std::nullopt);
    setPerch(std::nullopt);
    setCaption(QString());
}

void InWindowCatStage::setActor(std::optional<Actor> actor)
{
    if (m_actor == actor)
        return;
    m_actor = std::move(actor);
    emit actorChanged();
}

void InWindowCatStage::setPerch(std::optional<QRectF> perch)
{
    if (m_perch == perch)
        return;
    m_perch = std::move(perch);
    emit perchChanged();
}

void InWindowCatStage::setCaption(const QString &caption)
{
    if (m_caption == caption)
        return;
    m_caption = caption;
    emit captionChanged();
}
