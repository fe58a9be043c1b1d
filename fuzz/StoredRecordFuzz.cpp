// Every record the application keeps between runs, read from whatever bytes a
// damaged disk, an older version or a hand edit may leave: the readers never
// throw, never crash, and what they accept is written back the same way. The
// first byte chooses the record (a draft editor left open by an expiry, the
// composer's post and the publications not known to be made among them); the kept plan's drafts are also merged with what a service might hold.
#include "app/AskValues.h"
#include "app/DraftEditStore.h"
#include "app/PlanMerge.h"
#include "app/PublishRecords.h"
#include "app/UnsavedPlanStore.h"
#include "app/UnsentTextStore.h"
#include "companion/CatWellbeing.h"
#include "CorpusRun.h"

#include <QSet>

#include <algorithm>

#include <cstdint>
#include <cstdlib>

namespace {
const QString kOwner = QStringLiteral("kitty@example.com");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    try {
        switch (data[0] % 7) {
        case 0: {
            const auto text = UnsentTextStore::decode(bytes, kOwner);
            if (!text.isEmpty() && UnsentTextStore::decode(UnsentTextStore::encode(kOwner, text), kOwner) != text)
                std::abort(); // read back otherwise than it was written
            break;
        }
        case 1: {
            const auto kept = UnsavedPlanStore::decode(bytes, kOwner);
            if (!kept)
                break;
            if (UnsavedPlanStore::decode(UnsavedPlanStore::encode(kOwner, *kept), kOwner) != kept)
                std::abort();
            // What the service holds: the list last sent (where there is one,
            // as the service took it) or else the base, its order turned round.
            const QList<ZephylWire::PlanDraft> &held = kept->sent ? *kept->sent : kept->base;
            QList<ZephylWire::PlanDraft> theirs(held.crbegin(), held.crend());
            const auto merged = PlanMerge::merge(kept->base, kept->drafts, theirs, 1,
                                                 kept->sent.value_or(QList<ZephylWire::PlanDraft>()));
            const auto unique = [](const QList<ZephylWire::PlanDraft> &list) {
                QSet<qint64> ids;
                for (const auto &d : list)
                    ids.insert(d.id);
                return ids.size() == list.size();
            };
            // With one draft per id, a draft written here is in the merge unless the base holds it unchanged.
            if (unique(kept->drafts) && unique(kept->base) && unique(held)) {
                for (const auto &draft : kept->drafts) {
                    const auto same = [&](const auto &d) { return PlanMerge::sameDraft(d, draft); };
                    if (std::none_of(merged.drafts.cbegin(), merged.drafts.cend(), same) &&
                        std::none_of(kept->base.cbegin(), kept->base.cend(), same))
                        std::abort();
                }
            }
            break;
        }
        case 2: {
            const auto lines = CatChatLine::decode(bytes);
            if (lines && lines->size() > CatChatLine::kKept)
                std::abort();
            break;
        }
        case 3:
            if (const auto record = CatWellbeing::decode(bytes))
                (void)record->encode();
            break;
        case 4:
            if (const auto edits = DraftEditStore::decode(bytes, kOwner);
                !edits.isEmpty() && DraftEditStore::decode(DraftEditStore::encode(kOwner, edits), kOwner) != edits)
                std::abort();
            break;
        case 5:
            if (const auto post = KeptComposerStore::decode(bytes, kOwner);
                post && KeptComposerStore::decode(KeptComposerStore::encode(kOwner, *post), kOwner) != post)
                std::abort();
            break;
        case 6:
            if (const auto pending = PendingPublicationStore::decode(bytes, kOwner);
                pending && PendingPublicationStore::decode(PendingPublicationStore::encode(kOwner, *pending), kOwner) != pending)
                std::abort();
            break;
        }
    } catch (...) {
        std::abort(); // a reader threw out of the flow that called it
    }
    return 0;
}

#ifndef ZK_LIBFUZZER
// Standalone: every seed once, then again in a few hundred deterministic
// mutations (bytes flipped, cut short, repeated), so the corpus run stays
// within a few seconds.
int main(int argc, char **argv)
{
    // The readers say in the log what they pass over: thousands of times here.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    const auto next = [&state] {
        state += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    };
    return CorpusRun::main(argc, argv, [&](const QByteArray &seed) {
        CorpusRun::test(seed);
        int runs = 1;
        for (int m = 0; m < 400 && seed.size() > 1; ++m) {
            QByteArray input = seed;
            const qsizetype at = 1 + qsizetype(next() % std::uint64_t(seed.size() - 1));
            switch (next() % 4) {
            case 0: input[at] = char(input[at] ^ char(1 << (next() % 8))); break;
            case 1: input.truncate(at); break;
            case 2: input.insert(at, input.mid(at, qsizetype(next() % 16))); break;
            case 3: input[at] = "{}[]\",:0.5e-\\"[next() % 13]; break;
            }
            CorpusRun::test(input);
            ++runs;
        }
        return runs;
    });
}
#endif
