#pragma once

#include "app/PublishFormat.h"
#include "services/Surface.h"
#include "services/WireModels.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

class RecordStore;

// A draft editor that was open, with its unsaved edits, when the service ended
// the session under it. It is kept for the account that typed it (in memory and
// on disk, so a quit before the next sign-in loses nothing either) and reopened
// when that account signs in again; another account never sees it.
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

    friend bool operator==(const KeptDraftEdit &, const KeptDraftEdit &) = default;
};

class DraftEditStore {
public:
    static constexpr const char *kRecordName = "draft-edit";

    explicit DraftEditStore(RecordStore &records);

    // Replaces the owner's record; nothing for an empty owner. False when it
    // could not be written: the store keeps it and tries again.
    bool save(const QString &owner, const KeptDraftEdit &edit);
    // The owner's record; none when there is none or it cannot be read whole.
    std::optional<KeptDraftEdit> load(const QString &owner) const;
    void remove(const QString &owner);

    static QByteArray encode(const QString &owner, const KeptDraftEdit &edit);
    // Never throws: what cannot be read is none, said in the log only.
    static std::optional<KeptDraftEdit> decode(const QByteArray &bytes, const QString &owner);

private:
    RecordStore *m_records;
};
