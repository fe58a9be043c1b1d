#include "app/DraftPlace.h"

#include "app/PlanMerge.h"

#include <algorithm>
#include <vector>

namespace DraftPlace {

int at(const QList<ZephylWire::PlanDraft> &drafts, qsizetype index)
{
    if (index < 0 || index >= drafts.size())
        return 0;
    int place = 0;
    for (qsizetype i = 0; i < index; ++i)
        place += drafts[i].id == drafts[index].id;
    return place;
}

qsizetype indexOf(const QList<ZephylWire::PlanDraft> &drafts, qint64 id, int place)
{
    for (qsizetype i = 0; i < drafts.size(); ++i) {
        if (drafts[i].id == id && place-- == 0)
            return i;
    }
    return -1;
}

qsizetype find(const QList<ZephylWire::PlanDraft> &drafts, const ZephylWire::PlanDraft &shown, int place)
{
    qsizetype atPlace = -1;
    qsizetype same = -1;
    int under = 0;
    for (qsizetype i = 0; i < drafts.size(); ++i) {
        if (drafts[i].id != shown.id)
            continue;
        if (under == place)
            atPlace = i;
        if (same < 0 && PlanMerge::sameDraft(drafts[i], shown))
            same = i;
        ++under;
    }
    if (atPlace >= 0 && PlanMerge::sameDraft(drafts[atPlace], shown))
        return atPlace;
    if (same >= 0)
        return same;
    // Changed since it was shown (another device's change merged in): known by what it holds.
    return PlanMerge::closest(drafts, shown, place);
}

int placeOf(const QList<ZephylWire::PlanDraft> &drafts, const ZephylWire::PlanDraft &shown, int place)
{
    const qsizetype index = find(drafts, shown, place);
    return index < 0 ? -1 : at(drafts, index);
}

QList<qsizetype> gridOrder(const QList<ZephylWire::PlanDraft> &drafts)
{
    struct Placed {
        qint64 key;
        qsizetype position;
        qsizetype index;
    };
    std::vector<Placed> placed;
    for (qsizetype i = 0; i < drafts.size(); ++i) {
        const auto &draft = drafts[i];
        if (draft.hiddenFromGrid)
            continue;
        const auto position = qsizetype(placed.size());
        placed.push_back({draft.gridSlot.value_or(position), position, i});
    }
    std::sort(placed.begin(), placed.end(), [](const Placed &a, const Placed &b) {
        return a.key != b.key ? a.key < b.key : a.position < b.position;
    });
    QList<qsizetype> out;
    out.reserve(qsizetype(placed.size()));
    for (const auto &p : placed)
        out.append(p.index);
    return out;
}

} // namespace DraftPlace
