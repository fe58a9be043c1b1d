#pragma once

#include "services/Surface.h"
#include "services/WireModels.h"

#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>

// What the application state tells the coordinator. The coordinator switches on
// `kind`; only the payload field of that kind is meaningful.
struct AppEvent {
    // In dispatch order.
    enum class Kind : std::uint8_t {
        wantsWorkspace,              // surface
        published,                   // publication
        scheduled,                   // publication
        visitWindow,                 // frame, screen coordinates
        say,                         // text
        catFed,                      // text
        catHungry,                   // text
        breakTime,                   // text
        lateNight,                   // text
        companionEnabledChanged,     // enabled
        wantsComposer,
        demoRequested,
        askRequested,
        focusStarted,
        restStarted,
        focusEnded,
        visitEnded,                  // frame of the visit that ended (empty when none)
        settingsRequested,
        companionPreferencesChanged,
        themeChanged,
    };

    Kind kind = Kind::themeChanged;
    Surface surface = Surface::assistant;
    std::optional<ZephylWire::Publication> publication;
    QRectF frame;
    QString text;
    bool enabled = false;

    static AppEvent of(Kind kind)
    {
        AppEvent e;
        e.kind = kind;
        return e;
    }
    static AppEvent wantsWorkspace(Surface s)
    {
        AppEvent e = of(Kind::wantsWorkspace);
        e.surface = s;
        return e;
    }
    static AppEvent published(ZephylWire::Publication p) { return withPublication(Kind::published, std::move(p)); }
    static AppEvent scheduled(ZephylWire::Publication p) { return withPublication(Kind::scheduled, std::move(p)); }
    static AppEvent visitWindow(const QRectF &frame)
    {
        AppEvent e = of(Kind::visitWindow);
        e.frame = frame;
        return e;
    }
    static AppEvent say(QString line) { return withText(Kind::say, std::move(line)); }
    static AppEvent catFed(QString line) { return withText(Kind::catFed, std::move(line)); }
    static AppEvent catHungry(QString line) { return withText(Kind::catHungry, std::move(line)); }
    static AppEvent breakTime(QString line) { return withText(Kind::breakTime, std::move(line)); }
    static AppEvent lateNight(QString line) { return withText(Kind::lateNight, std::move(line)); }
    static AppEvent companionEnabledChanged(bool on)
    {
        AppEvent e = of(Kind::companionEnabledChanged);
        e.enabled = on;
        return e;
    }

    friend bool operator==(const AppEvent &, const AppEvent &) = default;

private:
    static AppEvent withText(Kind kind, QString line)
    {
        AppEvent e = of(kind);
        e.text = std::move(line);
        return e;
    }
    static AppEvent withPublication(Kind kind, ZephylWire::Publication p)
    {
        AppEvent e = of(kind);
        e.publication = std::move(p);
        return e;
    }
};
