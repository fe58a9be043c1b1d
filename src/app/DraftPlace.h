#pragma once

#include "services/WireModels.h"

#include <QList>

// The service may hold several drafts under one id. A screen names the draft it
// acts on by its id and its place among the drafts under that id (0 for the
// first, in list order), the way a kept plan is matched with the service's.
namespace DraftPlace {

// The place of the draft at `index` among the drafts of `drafts` under its id.
int at(const QList<ZephylWire::PlanDraft> &drafts, qsizetype index);
// The index of the draft with `id` at `place`; -1 when there is none.
qsizetype indexOf(const QList<ZephylWire::PlanDraft> &drafts, qint64 id, int place);
// Where `shown`, the draft a screen showed at `place` under its id, stands in
// `drafts` now, the list having changed since (a load, a merge): at that place
// while it is still the draft shown there, else wherever under its id it still
// is; changed since, the draft under its id most like it (PlanMerge::closest).
// -1 when none is under its id.
qsizetype find(const QList<ZephylWire::PlanDraft> &drafts, const ZephylWire::PlanDraft &shown, int place);
// The place under its id that `shown` has now (find); -1 when it is gone.
int placeOf(const QList<ZephylWire::PlanDraft> &drafts, const ZephylWire::PlanDraft &shown, int place);
// The indexes of the drafts the grid shows (not hidden from it), in grid order:
// by `gridSlot`, else by the place among the shown drafts; equal keys by that place.
QList<qsizetype> gridOrder(const QList<ZephylWire::PlanDraft> &drafts);

} // namespace DraftPlace
