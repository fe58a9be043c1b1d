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

} // namespace DraftPlace
