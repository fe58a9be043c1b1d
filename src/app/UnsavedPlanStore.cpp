#include "app/UnsavedPlanStore.h"

#include "base/DefaultsStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QString key() { return QString::fromLatin1(UnsavedPlanStore::kDefaultsKey); }
} // namespace

UnsavedPlanStore::UnsavedPlanStore(DefaultsStore &defaults) : m_defaults(&defaults) {}

void UnsavedPlanStore::save(const QString &owner, const QList<ZephylWire::PlanDraft> &drafts)
{
    if (owner.isEmpty())
        return;
    QJsonArray list;
    for (const auto &draft : drafts)
        list.append(draft.toJson());
    const QJsonObject record{{QStringLiteral("owner"), owner.toLower()}, {QStringLiteral("drafts"), list}};
    m_defaults->setData(key(), QJsonDocument(record).toJson(QJsonDocument::Compact));
}

std::optional<QList<ZephylWire::PlanDraft>> UnsavedPlanStore::load(const QString &owner) const
{
    if (owner.isEmpty())
        return std::nullopt;
    const auto data = m_defaults->data(key());
    if (!data)
        return std::nullopt;
    const QJsonObject record = QJsonDocument::fromJson(*data).object();
    const QJsonValue drafts = record.value(QStringLiteral("drafts"));
    if (record.value(QStringLiteral("owner")).toString() != owner.toLower() || !drafts.isArray())
        return std::nullopt;
    QList<ZephylWire::PlanDraft> out;
    for (const QJsonValue &value : drafts.toArray()) {
        // A draft without a usable id is not a draft; the whole record is then suspect.
        if (!value.isObject() || !value.toObject().value(QStringLiteral("id")).isDouble())
            return std::nullopt;
        out.append(ZephylWire::PlanDraft::fromJson(value));
    }
    return out;
}

void UnsavedPlanStore::remove(const QString &owner)
{
    const auto data = m_defaults->data(key());
    if (data && !owner.isEmpty() &&
        QJsonDocument::fromJson(*data).object().value(QStringLiteral("owner")).toString() == owner.toLower())
        m_defaults->remove(key());
}
