#pragma once

#include "companion/CatLook.h"
#include "services/Surface.h"
#include "services/WireModels.h"

#include <QList>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <optional>

class DefaultsStore;
class RecordStore;

// One chip under an answer of the cat. Only the payload field of `kind` is
// meaningful; the others keep their defaults, so equality compares like with like.
struct AskAction {
    // In declaration order.
    enum class Kind : std::uint8_t { server, startFocus, openSurface, stopFocus, tuckAway, compose,
                                     requestAccessibility };

    QString id;
    QString label;
    Kind kind = Kind::compose;
    ZephylWire::AssistantReply::Action server; // server: the assistant's proposed action
    int minutes = 0;                            // startFocus
    Surface surface = Surface::plan;            // openSurface

    static AskAction make(QString id, QString label, Kind kind)
    {
        AskAction a;
        a.id = std::move(id);
        a.label = std::move(label);
        a.kind = kind;
        return a;
    }
    static AskAction serverAction(QString id, QString label, ZephylWire::AssistantReply::Action action)
    {
        AskAction a = make(std::move(id), std::move(label), Kind::server);
        a.server = std::move(action);
        return a;
    }
    static AskAction startFocus(QString id, QString label, int minutes)
    {
        AskAction a = make(std::move(id), std::move(label), Kind::startFocus);
        a.minutes = minutes;
        return a;
    }
    static AskAction openSurface(QString id, QString label, Surface s)
    {
        AskAction a = make(std::move(id), std::move(label), Kind::openSurface);
        a.surface = s;
        return a;
    }

    friend bool operator==(const AskAction &, const AskAction &) = default;
};

// The cat's current answer in the ask panel.
struct AskReply {
    QString text;
    QList<AskAction> actions;
    CatLook look = CatLook::neutral;

    friend bool operator==(const AskReply &, const AskReply &) = default;
};

// One line of the ask conversation. The last 40 lines are kept across launches,
// without their actions.
struct CatChatLine {
    static constexpr const char *kDefaultsKey = "zephyl.mac.catChat";
    static constexpr qsizetype kKept = 40;

    QUuid id;
    bool mine = false;
    QString text;
    CatLook look = CatLook::neutral;
    QList<AskAction> actions; // in memory only

    // The stored conversation, oldest first; empty when absent or when any line
    // does not decode. An unknown look reads as neutral.
    static QList<CatChatLine> load(const DefaultsStore &defaults);
    // Keeps the last 40 lines; an empty list removes the record.
    static void save(const QList<CatChatLine> &lines, DefaultsStore &defaults);

    // The same, as the record of one account (the conversation is its owner's:
    // another account never sees it nor sends it as history).
    static constexpr const char *kRecordName = "ask-conversation";
    static QList<CatChatLine> load(const RecordStore &records, const QString &owner);
    static void save(const QList<CatChatLine> &lines, RecordStore &records, const QString &owner);
    // The stored form; decoding never throws, and what it cannot read is the empty list.
    static QByteArray encode(const QList<CatChatLine> &lines);
    static std::optional<QList<CatChatLine>> decode(const QByteArray &bytes);

    friend bool operator==(const CatChatLine &, const CatChatLine &) = default;
};
