#pragma once

#include "services/WireModels.h"

#include <QList>

// Brings a plan edited here together with what the service holds now, given
// the list both began from (the base), field by field. Drafts are matched by id
// and, where several share one id, by content: each is met with the one under
// that id that it has most fields in common with (then the nearer place), so a
// twin removed on one side does not shift the others onto the wrong draft.
// For a draft the base knows:
// - each field changed on one side only takes that side's value (each member
//   other clients wrote, which this application never edits, is a field too);
// - a field changed on both sides to different values is a conflict: the value
//   written here wins (it is the one the user just made and sees), and the
//   draft is named among `conflicted` so the user hears the other device's
//   value was replaced; one draft stays, never a second copy;
// - deleted here: gone unless the service changed it meanwhile (then named among
//   `keptDeleted`); deleted on the service: gone unless it was changed here
//   (then named among `keptChanged`). A draft of a list sent without an answer
//   is the service's once sent: gone there and not changed here since it was
//   sent, it was deleted there. A new grid slot alone, while the draft keeps
//   its place among the others (a move of another tile numbers the whole grid
//   anew), is no change that outweighs a deletion on the other side.
// Added on one side: added. Added on both under one id with no base (two
// drafts that share an id by chance, or a record of an older version that kept
// no base): both stay, ours under a new id, for neither can be told to be the
// other. The service's order is kept; drafts only here follow in our order.
namespace PlanMerge {

// Equal in what a user writes (the preview address the service adds is not).
bool sameDraft(const ZephylWire::PlanDraft &a, const ZephylWire::PlanDraft &b);
bool sameList(const QList<ZephylWire::PlanDraft> &a, const QList<ZephylWire::PlanDraft> &b);

// A draft as an editor changed it from `shown`, laid over `now`, the plan's
// draft since (a load or a merge may have changed it while the editor was
// open): what was changed in the editor is its, every other field as `now`.
ZephylWire::PlanDraft edited(const ZephylWire::PlanDraft &shown, const ZephylWire::PlanDraft &edit,
                             const ZephylWire::PlanDraft &now);

// The index of the draft under `draft`'s id in `drafts` most like it (as
// twins are met in a merge), the one nearer `place` among those under that id
// between equals; -1 when none has that id.
qsizetype closest(const QList<ZephylWire::PlanDraft> &drafts, const ZephylWire::PlanDraft &draft, int place);

struct Merged {
    QList<ZephylWire::PlanDraft> drafts;
    // The merged drafts (as in `drafts`) where a field was changed differently
    // on both sides, in list order.
    QList<ZephylWire::PlanDraft> conflicted;
    // Drafts deleted here that the service changed meanwhile: kept, as the
    // service has them, so the user hears the deletion did not hold.
    QList<ZephylWire::PlanDraft> keptDeleted = {};
    // Drafts deleted on the service that were changed here: kept, as changed
    // here, so the user hears the other device's deletion did not hold.
    QList<ZephylWire::PlanDraft> keptChanged = {};
};

// `now` is the current time in milliseconds: a new draft's id is above every id
// of the lists and not below it, as a new draft's id always is.
// `sent` is a list sent to the service whose answer never came: the service
// may hold it. A field the service holds as it was sent is one written from
// here, not a change made there, so what was edited here after it is a change
// of ours alone.
Merged merge(const QList<ZephylWire::PlanDraft> &base, const QList<ZephylWire::PlanDraft> &ours,
             const QList<ZephylWire::PlanDraft> &theirs, qint64 now, const QList<ZephylWire::PlanDraft> &sent = {});

} // namespace PlanMerge
