#pragma once

#include <QString>

class DefaultsStore;
class RecordStore;

// Text typed but not sent, in the assistant's input and in the ask panel, kept
// across restarts for each account apart. Each record is tagged with its owner
// (an e-mail address, as RecordStore::ownerKey keys it), so another account
// never sees it, and lives in a small file of its own: a keystroke rewrites
// only that, never the settings.
class UnsentTextStore {
public:
    struct Text {
        QString assistant;
        QString ask;

        bool isEmpty() const { return assistant.isEmpty() && ask.isEmpty(); }
        friend bool operator==(const Text &, const Text &) = default;
    };

    // Where older versions kept the one record of the computer, in the settings.
    static constexpr const char *kDefaultsKey = "zephyl.mac.unsentText.v1";
    static constexpr const char *kRecordName = "unsent-text";
    // Each text is kept up to this many user-perceived characters.
    static constexpr qsizetype kMaxCharacters = 6000;

    explicit UnsentTextStore(RecordStore &records);
    // The records kept beside those settings.
    explicit UnsentTextStore(DefaultsStore &defaults);

    // Replaces the owner's record (two empty texts leave none); nothing happens
    // for an empty owner. False when it could not be written: the store keeps
    // it and tries again with the next write.
    bool save(const QString &owner, const Text &text);
    // The owner's stored texts, else two empty texts. A record that cannot be
    // read counts as absent (and is said in the log only).
    Text load(const QString &owner) const;
    // Forgets the owner's record; false when it could not be removed yet.
    bool remove(const QString &owner);

    // The record as stored, and the reading of stored bytes for an owner.
    static QByteArray encode(const QString &owner, const Text &text);
    static Text decode(const QByteArray &bytes, const QString &owner);

    // The first `limit` grapheme clusters of the text: an emoji sequence or a
    // letter with its marks is never split.
    static QString prefix(const QString &text, qsizetype limit);

private:
    RecordStore *m_records;
};
