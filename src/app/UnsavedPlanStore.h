#pragma once

#include "services/WireModels.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class DefaultsStore;
class RecordStore;

// The plan as last sent, kept until the service has taken it: a save cut short
// (the application ended, the connection failed) is found again after a
// restart and offered to the same account, never to another one. Each account
// keeps its own.
class UnsavedPlanStore {
public:
    // Where older versions kept the one record of the computer, in the settings.
    static constexpr const char *kDefaultsKey = "zephyl.mac.unsavedPlan.v1";
    static constexpr const char *kRecordName = "kept-plan";

    struct Kept {
        // The list as edited here.
        QList<ZephylWire::PlanDraft> drafts;
        // The service's list the edits were made from: what the service holds
        // later is compared with it, so its own changes meanwhile are not undone.
        QList<ZephylWire::PlanDraft> base;
        // The service refused this list for what it holds: it is not sent again
        // by itself, only with the user's next change.
        bool refused = false;
        // The last list sent whose answer has not come: the service may hold
        // it, and a draft it holds as sent counts as ours when met, not as a
        // change made there. None when every list sent was answered.
        std::optional<QList<ZephylWire::PlanDraft>> sent = std::nullopt;
        friend bool operator==(const Kept &, const Kept &) = default;
    };

    explicit UnsavedPlanStore(RecordStore &records);
    explicit UnsavedPlanStore(DefaultsStore &defaults);

    // Replaces the owner's record; nothing happens for an empty owner. False
    // when it could not be written: the store keeps it and tries again.
    bool save(const QString &owner, const Kept &kept);
    // The owner's record; none when there is none or it cannot be read whole
    // (a damaged record is never restored in part).
    std::optional<Kept> load(const QString &owner) const;
    bool remove(const QString &owner);
    // The owner's record is written as last saved: a restart finds it.
    bool isKept(const QString &owner) const;

    static QByteArray encode(const QString &owner, const Kept &kept);
    // Never throws: what cannot be read is none, said in the log only.
    static std::optional<Kept> decode(const QByteArray &bytes, const QString &owner);
    // A draft as this store writes it, every field of its type, the members
    // this application does not read as they came; none otherwise.
    static std::optional<ZephylWire::PlanDraft> readDraft(const QJsonValue &value);
    // The members of a draft that go back as another client wrote them, kept
    // beside the draft (older versions read the draft alone, as before).
    static QJsonObject writtenJson(const ZephylWire::PlanDraft &draft) { return draft.keptAsWritten(); }
    // Puts them back on the draft; false when `value` is no such object.
    static bool readWritten(const QJsonValue &value, ZephylWire::PlanDraft &draft);

    // One list as the record holds it: its bytes, and beside them the members
    // its drafts keep as another client wrote them, by the draft's place.
    struct Encoded {
        QList<ZephylWire::PlanDraft> drafts;
        QByteArray bytes;
        QJsonObject written;
    };

private:
    // Each list of the record last written, as encoded: the next record mostly
    // holds the same lists (the list sent is the list as edited, the list read
    // is often the one read before), and a plan of thousands of drafts takes
    // longer to encode than to write.
    QList<Encoded> m_encoded;
    RecordStore *m_records;
};
