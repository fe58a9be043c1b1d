#include "app/PlanMerge.h"

#include "app/DraftPlace.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QVarLengthArray>

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
    if (a.preview == b.preview)
        return a == b;
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

// One thing a draft holds, merged on its own: a field this application
// reads (with the member as another client wrote it, where it did), or a
// member other clients wrote that it does not read.
struct Field {
    bool (*equal)(const Field &, const Draft &, const Draft &);
    void (*copy)(const Field &, Draft &, const Draft &);
    const char *name = nullptr;
    QString other = QString();

    bool same(const Draft &a, const Draft &b) const { return equal(*this, a, b); }
    void take(Draft &to, const Draft &from) const { copy(*this, to, from); }
};

bool sameAsWritten(const Draft &a, const Draft &b, const char *name)
{
    if (a.asWritten.isEmpty() && b.asWritten.isEmpty())
        return true;
    return a.keptAsWritten(QLatin1StringView(name)) == b.keptAsWritten(QLatin1StringView(name));
}

void takeAsWritten(Draft &to, const Draft &from, const char *name)
{
    if (to.asWritten.isEmpty() && from.asWritten.isEmpty())
        return;
    const QJsonValue came = from.keptAsWritten(QLatin1StringView(name));
    if (came.isUndefined())
        to.asWritten.remove(QLatin1StringView(name));
    else
        to.asWritten.insert(QLatin1StringView(name), came);
}

template <auto Member>
Field member(const char *name)
{
    return {[](const Field &f, const Draft &a, const Draft &b) {
                return a.*Member == b.*Member && sameAsWritten(a, b, f.name);
            },
            [](const Field &f, Draft &to, const Draft &from) {
                to.*Member = from.*Member;
                takeAsWritten(to, from, f.name);
            },
            name};
}

const std::vector<Field> &knownFields()
{
    static const std::vector<Field> known = {
        member<&Draft::title>("title"),
        member<&Draft::caption>("caption"),
        member<&Draft::hashtags>("hashtags"),
        member<&Draft::format>("format"),
        member<&Draft::scheduledAt>("scheduledAt"),
        member<&Draft::gridSlot>("gridSlot"),
        member<&Draft::hiddenFromGrid>("hiddenFromGrid"),
        // The media, its poster and the preview the service made of them go together:
        // a poster from one side and a video from the other would not belong.
        {[](const Field &, const Draft &a, const Draft &b) {
             return a.mediaId == b.mediaId && a.posterMediaId == b.posterMediaId && sameAsWritten(a, b, "mediaId") &&
                    sameAsWritten(a, b, "posterMediaId");
         },
         [](const Field &, Draft &to, const Draft &from) {
             to.mediaId = from.mediaId;
             to.posterMediaId = from.posterMediaId;
             to.preview = from.preview;
             takeAsWritten(to, from, "mediaId");
             takeAsWritten(to, from, "posterMediaId");
         }},
    };
    return known;
}

// Every field the application writes, then each member other clients wrote
// on any of these drafts, a field of its own (its absence a value too). A
// member drafts gain gets its line in `knownFields`.
class Fields {
public:
    explicit Fields(std::initializer_list<const Draft *> drafts)
    {
        QStringList others;
        for (const Draft *draft : drafts) {
            if (!draft)
                continue;
            for (auto it = draft->others.constBegin(); it != draft->others.constEnd(); ++it) {
                if (!others.contains(it.key()))
                    others << it.key();
            }
        }
        if (others.isEmpty())
            return;
        m_all = knownFields();
        for (const QString &key : std::as_const(others)) {
            m_all.push_back({[](const Field &f, const Draft &a, const Draft &b) {
                                 return a.others.value(f.other) == b.others.value(f.other);
                             },
                             [](const Field &f, Draft &to, const Draft &from) {
                                 if (from.others.contains(f.other))
                                     to.others.insert(f.other, from.others.value(f.other));
                                 else
                                     to.others.remove(f.other);
                             },
                             nullptr, key});
        }
    }
    const Field *begin() const { return m_all.empty() ? knownFields().data() : m_all.data(); }
    const Field *end() const { return begin() + (m_all.empty() ? knownFields().size() : m_all.size()); }

private:
    std::vector<Field> m_all; // empty: the known fields alone
};

// How alike two drafts under one id are: the fields they share, then how much
// of their texts they share at either end (an edited title keeps most of itself).
std::pair<int, qsizetype> likeness(const Draft &a, const Draft &b)
{
    int same = 0;
    for (const Field &field : Fields({&a, &b}))
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

// The drafts of one id in each list, in list order.
using Twins = QVarLengthArray<const Draft *, 1>;

// Meets each of `drafts` (one list's drafts under one id, in list order) with
// the lineage under that id it is most like, each lineage taking one; the
// nearer place decides between equals. Those left start lineages of their own.
void meet(QList<Lineage> &lineages, const Twins &drafts, const Draft *Lineage::*slot)
{
    if (lineages.size() == 1 && drafts.size() == 1) {
        // The one way to meet them (most ids are held once on each side).
        lineages[0].*slot = drafts[0];
        return;
    }
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

// Everything under one id: each list's drafts and the lineages they make.
struct Group {
    Twins base, ours, sent, theirs;
    QList<Lineage> lineages;
};

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
    Renumbering(std::array<const QList<Draft> *, 4> lists, const QHash<qint64, Group> &groups)
        : m_lists(lists), m_groups(groups)
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
        for (const Group &group : m_groups) {
            for (const Lineage &lineage : group.lineages) {
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
    const QHash<qint64, Group> &m_groups;
    std::optional<QHash<const Draft *, qsizetype>> m_ranks;
    std::optional<QSet<const Draft *>> m_kept[4][4];
};

} // namespace

Draft edited(const Draft &shown, const Draft &edit, const Draft &now)
{
    Draft draft = now;
    for (const Field &field : Fields({&shown, &edit, &now}))
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
    QHash<qint64, Group> groups;
    groups.reserve(std::max(ours.size(), theirs.size()) + 1);
    for (const auto &[list, slot] : {std::pair(&base, &Group::base), std::pair(&ours, &Group::ours),
                                     std::pair(&sent, &Group::sent), std::pair(&theirs, &Group::theirs)})
        for (const Draft &draft : *list)
            (groups[draft.id].*slot).append(&draft);
    // Where each of our drafts and the service's lands, by its place in its list.
    std::vector<const Lineage *> ofOurs(size_t(ours.size())), ofTheirs(size_t(theirs.size()));
    for (Group &group : groups) {
        for (const Draft *b : std::as_const(group.base)) {
            Lineage lineage;
            lineage.base = b;
            group.lineages.append(lineage);
        }
        meet(group.lineages, group.ours, &Lineage::ours);
        meet(group.lineages, group.sent, &Lineage::sent);
        meet(group.lineages, group.theirs, &Lineage::theirs);
        for (const Lineage &lineage : std::as_const(group.lineages)) {
            if (lineage.ours)
                ofOurs[size_t(lineage.ours - ours.constData())] = &lineage;
            if (lineage.theirs)
                ofTheirs[size_t(lineage.theirs - theirs.constData())] = &lineage;
        }
    }

    qint64 top = 0;
    for (const auto *list : {&base, &ours, &theirs, &sent})
        for (const auto &d : *list)
            top = std::max(top, d.id);
    qint64 next = top < std::numeric_limits<qint64>::max() ? std::max(top + 1, now) : now;
    QList<Draft> copies;

    Renumbering renumbering({&base, &sent, &ours, &theirs}, groups);

    Merged merged;
    merged.drafts.reserve(theirs.size() + ours.size());
    for (qsizetype i = 0; i < theirs.size(); ++i) {
        const Draft &their = theirs[i];
        const Lineage &lineage = *ofTheirs[size_t(i)];
        const Draft *was = lineage.was();
        const Draft *our = lineage.ours;
        if (!was) {
            // Added on the service; one added here under the same id stays beside it.
            merged.drafts.append(their);
            if (our && !sameDraft(*our, their)) {
                Draft copy = *our;
                copy.id = next++;
                copy.gridSlot.reset(); // where it stands in the grid is the service's draft's place
                copy.asWritten.remove(QLatin1StringView("gridSlot"));
                copies.append(copy);
            }
            continue;
        }
        if (our && sameDraft(*our, *was) && sameDraft(their, *was)) {
            merged.drafts.append(*our); // changed on neither side: as every field taken from ours would be
            continue;
        }
        const Fields fields({lineage.base, lineage.sent, our, &their});
        if (!our) {
            // Deleted here: gone unless the service changed it meanwhile.
            const auto changedThere = [&](const Field &field) { return lineage.changedThere(field); };
            if (std::any_of(fields.begin(), fields.end(), changedThere) &&
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
    for (qsizetype i = 0; i < ours.size(); ++i) {
        const Draft &our = ours[i];
        const Lineage &lineage = *ofOurs[size_t(i)];
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
