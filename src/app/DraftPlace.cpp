#include "app/DraftPlace.h"

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

} // namespace DraftPlace
