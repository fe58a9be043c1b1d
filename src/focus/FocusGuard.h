#pragma once

#include <QRectF>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// A window of another application that shows a social feed or short-video site.
struct DistractingWindow {
    // The owning process id in decimal, "-", and the window's position (from 0)
    // in that application's window list at the time of the scan.
    QString id;
    // The application's name; "Browser" (translated) when it has none.
    QString appName;
    // The title as the application set it (not lower-cased).
    QString title;
    // Global points, y upwards from the bottom of the primary screen (the
    // companion's convention); absent when the position could not be read.
    std::optional<QRectF> frame;
    // The window's handle in the window source, for minimising it later.
    uint64_t element = 0;

    friend bool operator==(const DistractingWindow &, const DistractingWindow &) = default;
};

// What the focus guard reads of the desktop, and the one change it asks for.
class WindowSource {
public:
    struct Window {
        uint64_t element = 0;
        // None when the title cannot be read.
        std::optional<QString> title;
        // None when the state cannot be read (counts as not minimised).
        std::optional<bool> minimized;
        std::optional<QRectF> frame; // as DistractingWindow::frame
    };
    struct Application {
        int64_t pid = 0;
        QString name; // may be empty
        // An application with windows a task bar would show; others are skipped.
        bool regular = true;
        // Its windows, front-most first.
        std::vector<Window> windows;
    };

    virtual ~WindowSource() = default;

    // Whether other applications' windows may be read and minimised at all.
    virtual bool trusted() const = 0;
    // The running applications with their windows, in the desktop's order;
    // this process's own windows are not among them.
    virtual std::vector<Application> applications() const = 0;
    // Asks the window manager to minimise the window; false when it cannot be asked.
    virtual bool minimize(uint64_t element) = 0;

    // The desktop's source, installed by the shell; until then one that is not
    // trusted and lists nothing.
    static WindowSource &system();
    static void setSystem(WindowSource *source);
};

// Finds distracting windows. A pure query: no state, no window changed.
namespace FocusGuard {

// The keywords, lower case, in the order they are tried.
extern const std::array<QString, 12> keywords;

// The distracting windows on screen now: applications in the source's order,
// each one's windows in its window order. Empty when the source is not trusted.
std::vector<DistractingWindow> scan(const WindowSource &source);
inline std::vector<DistractingWindow> scan() { return scan(WindowSource::system()); }

// The first keyword the title contains after full Unicode lower-casing.
std::optional<QString> matchingKeyword(const QString &title);

} // namespace FocusGuard
