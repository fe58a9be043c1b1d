#include "app/PlanMerge.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <limits>

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
QHash<qint64, const ZephylWire::PlanDraft *> byId(const QList<ZephylWire::PlanDraft> &list)
{
    QHash<qint64, const ZephylWire::PlanDraft *> out;
    // The first of a repeated id is the one that counts.
    for (auto it = list.crbegin(); it != list.crend(); ++it)
        out[it->id] = &*it;
    return out;
}
} // namespace

QList<ZephylWire::PlanDraft> merge(const QList<ZephylWire::PlanDraft> &base, const QList<ZephylWire::PlanDraft> &ours,
                                   const QList<ZephylWire::PlanDraft> &theirs, qint64 now)
{
    const auto baseById = byId(base);
    const auto oursById = byId(ours);
    const auto theirsById = byId(theirs);

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
    QSet<qint64> placed;
    for (const auto &their : theirs) {
        if (placed.contains(their.id))
            continue;
        placed.insert(their.id);
        const ZephylWire::PlanDraft *was = baseById.value(their.id);
        const ZephylWire::PlanDraft *our = oursById.value(their.id);
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
    for (const auto &our : ours) {
        if (placed.contains(our.id))
            continue;
        placed.insert(our.id);
        const ZephylWire::PlanDraft *was = baseById.value(our.id);
        // Not on the service any more: deleted there, unless we changed it (or added it).
        if (!was || !sameDraft(our, *was))
            out.append(our);
    }
    out.append(copies);
    return out;
}

} // namespace PlanMerge
