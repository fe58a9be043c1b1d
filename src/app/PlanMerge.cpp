#include "app/PlanMerge.h"

#include "app/DraftPlace.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <tuple>
#include <vector>

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

using Draft = ZephylWire::PlanDraft;

// One thing a draft holds, merged on its own.
struct Field {
    std::function<bool(const Draft &, const Draft &)> same;
    std::function<void(Draft &to, const Draft &from)> take;
};

template <auto Member>
Field member()
{
    return {[](const Draft &a, const Draft &b) { return a.*Member == b.*Member; },
            [](Draft &to, const Draft &from) { to.*Member = from.*Member; }};
}

// Every field the application writes, then each member other clients wrote
// on any of these drafts, a field of its own (its absence a value too). A
// member drafts gain gets its line in `known`.
std::vector<Field> fieldsOf(std::initializer_list<const Draft *> drafts)
{
    static const std::vector<Field> known = {
        member<&Draft::title>(),
        member<&Draft::caption>(),
        member<&Draft::hashtags>(),
        member<&Draft::format>(),
        member<&Draft::scheduledAt>(),
        member<&Draft::gridSlot>(),
        member<&Draft::hiddenFromGrid>(),
        // The media, its poster and the preview the service made of them go together:
        // a poster from one side and a video from the other would not belong.
        {[](const Draft &a, const Draft &b) { return a.mediaId == b.mediaId && a.posterMediaId == b.posterMediaId; },
         [](Draft &to, const Draft &from) {
             to.mediaId = from.mediaId;
             to.posterMediaId = from.posterMediaId;
             to.preview = from.preview;
         }},
    };
    std::vector<Field> all = known;
    QSet<QString> others;
    for (const Draft *draft : drafts)
        if (draft)
            for (auto it = draft->others.constBegin(); it != draft->others.constEnd(); ++it)
                others.insert(it.key());
    for (const QString &key : std::as_const(others)) {
        all.push_back({[key](const Draft &a, const Draft &b) { return a.others.value(key) == b.others.value(key); },
                       [key](Draft &to, const Draft &from) {
                           if (from.others.contains(key))
                               to.others.insert(key, from.others.value(key));
                           else
                               to.others.remove(key);
                       }});
    }
    return all;
}

// How alike two drafts under one id are: the fields they share, then how much
// of their texts they share at either end (an edited title keeps most of itself).
std::pair<int, qsizetype> likeness(const Draft &a, const Draft &b)
{
    int same = 0;
    for (const Field &field : fieldsOf({&a, &b}))
        same += field.same(a, b);
    const auto ends = [](const QString &x, const QString &y) {
        const qsizetype most = std::min(x.size(), y.size());
        qsizetype head = 0;
        while (head < most && x[head] == y[head])
            ++head;
        qsizetype tail = 0;
        while (tail < most - head && x[x.size() - 1 - tail] == y[y.size() - 1 - tail])
            ++tail;
        return head + tail;
    };
    return {same, ends(a.title, b.title) + ends(a.caption, b.caption) + ends(a.hashtags, b.hashtags)};
}

// One draft as each list holds it: the base's, the one last sent, ours, the
// service's; any of them may be missing.
struct Lineage {
    const Draft *base = nullptr;
    const Draft *sent = nullptr;
    const Draft *ours = nullptr;
    const Draft *theirs = nullptr;

    std::pair<int, qsizetype> likeness(const Draft &d) const
    {
        std::pair<int, qsizetype> best{-1, -1};
        for (const Draft *known : {base, sent, ours, theirs})
            if (known)
                best = std::max(best, PlanMerge::likeness(*known, d));
        return best;
    }
    // Known to the service before our edits: the base's, or one sent from here.
    const Draft *was() const { return base ? base : sent; }
    bool changedThere(const Field &field) const
    {
        return !(base && field.same(*theirs, *base)) && !(sent && field.same(*theirs, *sent));
    }
};

// Meets each of `drafts` (one list's drafts under one id, in list order) with
// the lineage under that id it is most like, each lineage taking one; the
// nearer place decides between equals. Those left start lineages of their own.
void meet(QList<Lineage> &lineages, const QList<const Draft *> &drafts, const Draft *Lineage::*slot)
{
    struct Pair {
        std::pair<int, qsizetype> likeness;
        qsizetype distance;
        qsizetype lineage;
        qsizetype draft;
    };
    std::vector<Pair> pairs;
    for (qsizetype l = 0; l < lineages.size(); ++l)
        for (qsizetype d = 0; d < drafts.size(); ++d)
            pairs.push_back({lineages[l].likeness(*drafts[d]), std::abs(l - d), l, d});
    std::sort(pairs.begin(), pairs.end(), [](const Pair &a, const Pair &b) {
        return std::tie(b.likeness, a.distance, a.lineage, a.draft) < std::tie(a.likeness, b.distance, b.lineage, b.draft);
    });
    std::vector<bool> placed(size_t(drafts.size()), false);
    for (const Pair &pair : pairs) {
        Lineage &lineage = lineages[pair.lineage];
        if (lineage.*slot || placed[size_t(pair.draft)])
            continue;
        lineage.*slot = drafts[pair.draft];
        placed[size_t(pair.draft)] = true;
    }
    for (qsizetype d = 0; d < drafts.size(); ++d) {
        if (!placed[size_t(d)]) {
            Lineage lineage;
            lineage.*slot = drafts[d];
            lineages.append(lineage);
        }
    }
}

QHash<qint64, QList<const Draft *>> twins(const QList<Draft> &list)
{
    QHash<qint64, QList<const Draft *>> out;
    for (const Draft &draft : list)
        out[draft.id].append(&draft);
    return out;
}

// The four lists a merge meets, as Lineage holds them.
enum List { baseList, sentList, ourList, theirList };

// A move in the grid numbers every shown draft anew (AppModel::moveDraft), so
// a draft one side deleted may meet the other side's copy with a new slot and
// nothing else new. That is no change of its own, to outweigh the deletion,
// while it stands before and after the same drafts in both grids: another
// tile moved, not it.
class Renumbering {
public:
    // The lists in List's order; the lineages of their drafts.
    Renumbering(std::array<const QList<Draft> *, 4> lists, const QHash<qint64, QList<Lineage>> &lineages)
        : m_lists(lists), m_lineages(lineages)
    {
    }

    // The lineage's draft in `nowList` is its draft in `wasList` numbered anew, and nothing else.
    bool only(const Lineage &lineage, List wasList, List nowList)
    {
        const Draft *was = draft(lineage, wasList);
        const Draft *now = draft(lineage, nowList);
        if (!was || !now || was->gridSlot == now->gridSlot)
            return false;
        Draft renumbered = *now;
        renumbered.gridSlot = was->gridSlot;
        if (!sameDraft(renumbered, *was))
            return false;
        std::optional<QSet<const Draft *>> &kept = m_kept[wasList][nowList];
        if (!kept)
            kept = keptTheirPlace(wasList, nowList);
        return kept->contains(now);
    }

private:
    static const Draft *draft(const Lineage &lineage, List list)
    {
        const Draft *const of[] = {lineage.base, lineage.sent, lineage.ours, lineage.theirs};
        return of[list];
    }

    const QHash<const Draft *, qsizetype> &ranks()
    {
        if (!m_ranks) {
            m_ranks.emplace();
            for (const QList<Draft> *list : m_lists) {
                const QList<qsizetype> order = DraftPlace::gridOrder(*list);
                for (qsizetype rank = 0; rank < order.size(); ++rank)
                    m_ranks->insert(&list->at(order[rank]), rank);
            }
        }
        return *m_ranks;
    }

    // The drafts of list `nowList` that no draft both grids show passes
    // between the two: each lower in rank before it in one grid is lower in the other.
    QSet<const Draft *> keptTheirPlace(List wasList, List nowList)
    {
        struct Shown {
            qsizetype was, now;
            const Draft *draft;
        };
        std::vector<Shown> shown;
        const auto &rank = ranks();
        for (const QList<Lineage> &underId : m_lineages) {
            for (const Lineage &lineage : underId) {
                const auto was = rank.constFind(draft(lineage, wasList));
                const auto now = rank.constFind(draft(lineage, nowList));
                if (was != rank.cend() && now != rank.cend())
                    shown.push_back({*was, *now, draft(lineage, nowList)});
            }
        }
        std::sort(shown.begin(), shown.end(), [](const Shown &a, const Shown &b) { return a.was < b.was; });
        std::vector<qsizetype> lowestAfter(shown.size() + 1, std::numeric_limits<qsizetype>::max());
        for (size_t i = shown.size(); i-- > 0;)
            lowestAfter[i] = std::min(lowestAfter[i + 1], shown[i].now);
        QSet<const Draft *> kept;
        qsizetype highestBefore = -1;
        for (size_t i = 0; i < shown.size(); ++i) {
            if (highestBefore < shown[i].now && shown[i].now < lowestAfter[i + 1])
                kept.insert(shown[i].draft);
            highestBefore = std::max(highestBefore, shown[i].now);
        }
        return kept;
    }

    std::array<const QList<Draft> *, 4> m_lists;
    const QHash<qint64, QList<Lineage>> &m_lineages;
    std::optional<QHash<const Draft *, qsizetype>> m_ranks;
    std::optional<QSet<const Draft *>> m_kept[4][4];
};

} // namespace

Draft edited(const Draft &shown, const Draft &edit, const Draft &now)
{
    Draft draft = now;
    for (const Field &field : fieldsOf({&shown, &edit, &now}))
        if (!field.same(edit, shown))
            field.take(draft, edit);
    return draft;
}

qsizetype closest(const QList<Draft> &drafts, const Draft &draft, int place)
{
    qsizetype best = -1;
    std::pair<std::pair<int, qsizetype>, int> bestKey;
    int under = 0;
    for (qsizetype i = 0; i < drafts.size(); ++i) {
        if (drafts[i].id != draft.id)
            continue;
        const std::pair key{likeness(drafts[i], draft), -std::abs(under++ - place)};
        if (best < 0 || key > bestKey)
            std::tie(best, bestKey) = std::pair(i, key);
    }
    return best;
}

Merged merge(const QList<Draft> &base, const QList<Draft> &ours, const QList<Draft> &theirs, qint64 now,
             const QList<Draft> &sent)
{
    const auto baseTwins = twins(base);
    const auto ourTwins = twins(ours);
    const auto sentTwins = twins(sent);
    const auto theirTwins = twins(theirs);
    QHash<qint64, QList<Lineage>> lineages;
    for (const auto *list : {&baseTwins, &ourTwins, &sentTwins, &theirTwins})
        for (auto it = list->cbegin(); it != list->cend(); ++it)
            lineages[it.key()];
    for (auto it = lineages.begin(); it != lineages.end(); ++it) {
        for (const Draft *b : baseTwins.value(it.key())) {
            Lineage lineage;
            lineage.base = b;
            it->append(lineage);
        }
        meet(*it, ourTwins.value(it.key()), &Lineage::ours);
        meet(*it, sentTwins.value(it.key()), &Lineage::sent);
        meet(*it, theirTwins.value(it.key()), &Lineage::theirs);
    }
    QHash<const Draft *, const Lineage *> ofDraft;
    for (const QList<Lineage> &underId : std::as_const(lineages))
        for (const Lineage &lineage : underId)
            for (const Draft *d : {lineage.ours, lineage.theirs})
                if (d)
                    ofDraft.insert(d, &lineage);

    qint64 top = 0;
    for (const auto *list : {&base, &ours, &theirs, &sent})
        for (const auto &d : *list)
            top = std::max(top, d.id);
    qint64 next = top < std::numeric_limits<qint64>::max() ? std::max(top + 1, now) : now;
    QList<Draft> copies;

    Renumbering renumbering({&base, &sent, &ours, &theirs}, lineages);

    Merged merged;
    for (const Draft &their : theirs) {
        const Lineage &lineage = *ofDraft.value(&their);
        const Draft *was = lineage.was();
        const Draft *our = lineage.ours;
        if (!was) {
            // Added on the service; one added here under the same id stays beside it.
            merged.drafts.append(their);
            if (our && !sameDraft(*our, their)) {
                Draft copy = *our;
                copy.id = next++;
                copy.gridSlot.reset(); // where it stands in the grid is the service's draft's place
                copies.append(copy);
            }
            continue;
        }
        const std::vector<Field> fields = fieldsOf({lineage.base, lineage.sent, our, &their});
        if (!our) {
            // Deleted here: gone unless the service changed it meanwhile.
            if (std::any_of(fields.cbegin(), fields.cend(), [&](const Field &field) { return lineage.changedThere(field); }) &&
                !renumbering.only(lineage, baseList, theirList) && !renumbering.only(lineage, sentList, theirList)) {
                merged.drafts.append(their);
                merged.keptDeleted.append(their);
            }
            continue;
        }
        Draft draft = their;
        bool conflict = false;
        for (const Field &field : fields) {
            const bool theyChanged = lineage.changedThere(field);
            if (theyChanged && field.same(*our, *was))
                continue; // theirs alone
            field.take(draft, *our);
            conflict = conflict || (theyChanged && !field.same(*our, their));
        }
        merged.drafts.append(draft);
        if (conflict)
            merged.conflicted.append(draft);
    }
    for (const Draft &our : ours) {
        const Lineage &lineage = *ofDraft.value(&our);
        if (lineage.theirs)
            continue;
        // Not on the service any more. Added here: ours. Known to it (read, or
        // sent since, whose answer was lost): deleted there, unless changed
        // here since it was last read or sent (more than numbered anew).
        const Draft *known = lineage.sent ? lineage.sent : lineage.base;
        if (known && (sameDraft(our, *known) || renumbering.only(lineage, lineage.sent ? sentList : baseList, ourList)))
            continue;
        merged.drafts.append(our);
        if (known)
            merged.keptChanged.append(our);
    }
    merged.drafts.append(copies);
    return merged;
}

} // namespace PlanMerge
