#pragma once

#include <QString>

class DefaultsStore;

// Text typed but not sent, in the assistant's input and in the ask panel, kept
// across restarts for one account at a time. The record is tagged with its
// owner (a lower-cased e-mail address), so another account never sees it.
class UnsentTextStore {
public:
    struct Text {
        QString assistant;
        QString ask;

        bool isEmpty() const { return assistant.isEmpty() && ask.isEmpty(); }
        friend bool operator==(const Text &, const Text &) = default;
    };

    static constexpr const char *kDefaultsKey = "zephyl.mac.unsentText.v1";
    // Each text is kept up to this many user-perceived characters.
    static constexpr qsizetype kMaxCharacters = 6000;

    UnsentTextStore(DefaultsStore &defaults, QString key = QString::fromLatin1(kDefaultsKey));

    // Replaces the stored record; nothing happens for an empty owner.
    void save(const QString &owner, const Text &text);
    // The stored texts when they belong to the owner, else two empty texts.
    // A record that does not decode counts as absent.
    Text load(const QString &owner) const;
    // Forgets the stored record.
    void remove();

    // The first `limit` grapheme clusters of the text: an emoji sequence or a
    // letter with its marks is never split.
    static QString prefix(const QString &text, qsizetype limit);

private:
    DefaultsStore *m_defaults;
    QString m_key;
};
