#pragma once

// The web workspace at rest beside a bare engine view of the same stand-in
// page: the CPU time of the whole process tree and the main thread's
// wake-ups during ten seconds in which nothing happens.

#include <QHash>
#include <QString>

#include <optional>

namespace restbench {

enum class Kind { workspace, bare };
// When the rest begins: once the page is usable (its load's own after-work
// included), or once that and the welcome line are over.
enum class Start { ready, settled };

// What one process tree did during its rest.
struct Rest {
    double cpuMs = 0;
    // The same CPU time by the engine's kind of process ("browser", "renderer"...).
    QHash<QString, double> cpuMsByKind;
    qint64 wakeups = 0;     // voluntary context switches of the main thread
    qint64 preemptions = 0; // involuntary ones
    // From the start of the load to the page's own load finishing (the same
    // engine signal on both sides), and to the page being usable (the
    // workspace's readiness; the bare page showing the account).
    double loadMs = 0;
    double usableMs = 0;
};

std::optional<Kind> kindNamed(const QString &name);
QString kindName(Kind kind);
std::optional<Start> startNamed(const QString &name);
QString startName(Start start);

// In a process of its own: shows `kind` on the workspace page of an in-process
// stand-in, waits for `from`, rests for `seconds` and prints one line "rest {json}".
int runAlone(Kind kind, double seconds, Start from);

// Reads the line a lone run printed.
std::optional<Rest> parse(const QByteArray &output);

} // namespace restbench
