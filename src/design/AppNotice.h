#pragma once

#include <QString>
#include <QUuid>

// A transient message the application state holds as its current notice. The text
// is already translated. Two notices with the same text and tone but different ids
// are different notices, so re-posting a message counts as a change.
struct AppNotice {
    enum class Tone : quint8 { settled, attention };

    QUuid id;
    QString text;
    Tone tone = Tone::settled;

    static AppNotice make(QString text, Tone tone) { return {QUuid::createUuid(), std::move(text), tone}; }

    friend bool operator==(const AppNotice &, const AppNotice &) = default;
};

// How a status pill looks.
enum class PillTone : quint8 { neutral, accent, settled, attention };
