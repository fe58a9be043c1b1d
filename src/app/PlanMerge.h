#pragma once

#include "services/WireModels.h"

#include <QList>

// Brings a plan edited here together with what the service holds now, given
// the list both began from (the base). Drafts are matched by id (and, where
// the service holds several under one id, by their order among those):
// - changed or deleted only here: our change;
// - added here: added;
// - added, changed or deleted only on the service: as the service has it;
// - changed on both sides (or added on both under one id) differently: the
//   service's version stays and ours is added as a new draft, so nothing either
//   side wrote is lost; changed here and deleted there: ours stays.
// The service's order is kept; drafts added here follow in our order.
namespace PlanMerge {

// Equal in what a user writes (the preview address the service adds is not).
bool sameDraft(const ZephylWire::PlanDraft &a, const ZephylWire::PlanDraft &b);
bool sameList(const QList<ZephylWire::PlanDraft> &a, const QList<ZephylWire::PlanDraft> &b);

// `now` is the current time in milliseconds: a new draft's id is above every id
// of the three lists and not below it, as a new draft's id always is.
// `sent` is a list sent to the service whose answer never came: a draft the
// service holds as it was sent stands there as sent since, so what was edited
// here after it is a change of ours alone, not one of both sides.
QList<ZephylWire::PlanDraft> merge(const QList<ZephylWire::PlanDraft> &base, const QList<ZephylWire::PlanDraft> &ours,
                                   const QList<ZephylWire::PlanDraft> &theirs, qint64 now,
                                   const QList<ZephylWire::PlanDraft> &sent = {});

} // namespace PlanMerge
