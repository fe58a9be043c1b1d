#include "app/PlanMerge.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <limits>
#include <utility>

namespace PlanMerge {

bool sameDraft(const ZephylWire::PlanDraft &a, const ZephylWire::PlanDraft &b)
{
    ZephylWire::PlanDraft x = a;
    x.preview = b.preview;
    return x == b;
}

bool sameList(const QList<ZephylWire::PlanDraft> &a, const QList<ZephylWire::PlanDraft> &b)
{
    return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(), sameDraft);
}

namespace {

// A draft's place in matching: its id and which of the drafts under that id it
// is. The service may hold two drafts under one id; each is met with the one at
// the same place in the other lists, so neither is taken for the other or lost.
using Key = std::pair<qint64, int>;

// Numbers the drafts of a list under one id 0, 1, 2, ... in list order.
struct Occurrences {
    QHash<qint64, int> seen;
    Key next(qint64 id) { return {id, seen[id]++}; }
};

QHash<Key, const ZephylWire::PlanDraft *> byKey(const QList<ZephylWire::PlanDraft> &list)
{
    QHash<Key, const ZephylWire::PlanDraft *> out;
    Occurrences occurrences;
    for (const auto &draft : list)
        out.insert(occurrences.next(draft.id), &draft);
    return out;
}

} // namespace

QList<ZephylWire::PlanDraft> merge(const QList<ZephylWire::PlanDraft> &base, const QList<ZephylWire::PlanDraft> &ours,
                                   const QList<ZephylWire::PlanDraft> &theirs, qint64 now,
                                   const QList<ZephylWire::PlanDraft> &sent)
{
    const auto baseByKey = byKey(base);
    const auto oursByKey = byKey(ours);
    const auto sentByKey = byKey(sent);

    qint64 top = 0;
    for (const auto *list : {&base, &ours, &theirs})
        for (const auto &d : *list)
            top = std::max(top, d.id);
    qint64 next = top < std::numeric_limits<qint64>::max() ? std::max(top + 1, now) : now;
    QList<ZephylWire::PlanDraft> copies;
    const auto keepOursAsNew = [&](const ZephylWire::PlanDraft &d) {
        ZephylWire::PlanDraft copy = d;
        copy.id = next++;
        // Where it stands in the grid is the service's draft's place.
        copy.gridSlot.reset();
        copies.append(copy);
    };

    QList<ZephylWire::PlanDraft> out;
    QSet<Key> placed;
    Occurrences theirPlaces;
    for (const auto &their : theirs) {
        const Key key = theirPlaces.next(their.id);
        placed.insert(key);
        const ZephylWire::PlanDraft *sentOne = sentByKey.value(key);
        const ZephylWire::PlanDraft *was =
            sentOne && sameDraft(their, *sentOne) ? sentOne : baseByKey.value(key);
        const ZephylWire::PlanDraft *our = oursByKey.value(key);
        if (was) {
            const bool theyChanged = !sameDraft(their, *was);
            if (!our) {
                // Deleted here: gone unless the service changed it meanwhile.
                if (theyChanged)
                    out.append(their);
                continue;
            }
            const bool weChanged = !sameDraft(*our, *was);
            if (weChanged && !theyChanged) {
                out.append(*our);
            } else {
                out.append(their);
                if (weChanged && !sameDraft(*our, their))
                    keepOursAsNew(*our);
            }
        } else {
            // Added on the service; added under the same id here too, differently, is kept as well.
            out.append(their);
            if (our && !sameDraft(*our, their))
                keepOursAsNew(*our);
        }
    }
    Occurrences ourPlaces;
    for (const auto &our : ours) {
        const Key key = ourPlaces.next(our.id);
        if (placed.contains(key))
            continue;
        const ZephylWire::PlanDraft *was = baseByKey.value(key);
        // Not on the service any more: deleted there, unless we changed it (or added it).
        if (!was || !sameDraft(our, *was))
            out.append(our);
    }
    out.append(copies);
    return out;
}

} // namespace PlanMerge
