#pragma once

#include "app/PublishFormat.h"
#include "services/Surface.h"
#include "services/WireModels.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class RecordStore;

// The forms the draft editor writes a draft in.
namespace DraftForms {

// The planned time a draft holds; none for an empty or unreadable text.
std::optional<QDateTime> plannedTime(const QString &scheduledAt);
// A draft as the editor writes it: a plan word for its format, the planned
// time in UTC with whole seconds, the title trimmed.
ZephylWire::PlanDraft written(ZephylWire::PlanDraft draft, PublishFormat format, std::optional<QDateTime> planned);

} // namespace DraftForms

// What a draft editor holds and the plan does not: the edits typed in it, kept
// as they are typed for the account that typed them (in memory and on disk), so
// that neither a kill nor a session's end loses them. Each is offered again when
// that draft's editor next opens; one left open when the service ended the
// session reopens by itself when the account signs in again. Another account
// never sees them.
struct KeptDraftEdit {
    // The working copy as the fields hold it.
    ZephylWire::PlanDraft draft;
    bool isNew = false;
    PublishFormat format = PublishFormat::feed;
    // The time in the picker, kept even while "Planned for" is off.
    QDateTime date;
    bool hasDate = false;
    // The screen the editor was open on: the plan or the grid.
    Surface surface = Surface::plan;
    // Which of the plan's drafts under its id it edits (DraftPlace).
    int place = 0;
    // The picture of a file attached in the editor, as its preview shows it
    // (JPEG); empty when none was attached there.
    QByteArray picture;
    // Open when the session ended: it opens again at the next sign-in.
    bool reopen = false;
    // The draft as the plan held it under the sheet: which of the drafts under
    // its id this is, wherever the plan has put it since (DraftPlace::find).
    ZephylWire::PlanDraft shown;

    // Kept by the editor of the same draft: any new draft's, or the one shown at
    // that place under its id (whatever the service's preview address).
    bool sameDraft(const KeptDraftEdit &other) const;
    // The draft as its editor's "Save draft" writes it.
    ZephylWire::PlanDraft saved() const;
    // It changes the draft shown (in a form the editor writes, not only reads).
    bool changesShown() const;

    friend bool operator==(const KeptDraftEdit &, const KeptDraftEdit &) = default;
};

class DraftEditStore {
public:
    static constexpr const char *kRecordName = "draft-edit";

    // Each is rewritten with every change typed: a sheet left without being
    // closed, for a draft since deleted, is not kept for ever.
    static constexpr qsizetype kKept = 10;

    explicit DraftEditStore(RecordStore &records);

    // Replaces the owner's edit of the same draft, or adds it; one to reopen is
    // then the only one to reopen. The newest kKept are kept. Nothing for an
    // empty owner. False when it could not be written: the store keeps it and
    // tries again.
    bool save(const QString &owner, const KeptDraftEdit &edit);
    // The owner's edits, oldest first; none when there are none or the record
    // cannot be read whole.
    QList<KeptDraftEdit> load(const QString &owner) const;
    // Forgets the owner's edit of the same draft as `edit`.
    void remove(const QString &owner, const KeptDraftEdit &edit);
    // Forgets all of the owner's edits.
    void remove(const QString &owner);

    static QByteArray encode(const QString &owner, const QList<KeptDraftEdit> &edits);
    // Never throws: what cannot be read is none, said in the log only. A record
    // of one edit alone, as kept at a session's end before edits were kept as
    // typed, is that edit, to reopen.
    static QList<KeptDraftEdit> decode(const QByteArray &bytes, const QString &owner);

private:
    bool write(const QString &owner, const QList<KeptDraftEdit> &edits);
    RecordStore *m_records;
};
