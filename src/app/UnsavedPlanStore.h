#pragma once

#include "services/WireModels.h"

#include <QList>
#include <QString>

#include <optional>

class DefaultsStore;

// The plan as last sent, kept until the service has taken it: a save cut short
// (the application ended, the connection failed) is found again after a
// restart and offered to the same account, never to another one.
class UnsavedPlanStore {
public:
    static constexpr const char *kDefaultsKey = "zephyl.mac.unsavedPlan.v1";

    explicit UnsavedPlanStore(DefaultsStore &defaults);

    // Replaces the record; nothing happens for an empty owner.
    void save(const QString &owner, const QList<ZephylWire::PlanDraft> &drafts);
    // The kept list when it belongs to the owner; none otherwise, or when the
    // record does not decode.
    std::optional<QList<ZephylWire::PlanDraft>> load(const QString &owner) const;
    // Forgets the record when it belongs to the owner.
    void remove(const QString &owner);

private:
    DefaultsStore *m_defaults;
};
