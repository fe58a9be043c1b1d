#pragma once

class QObject;
class QWidget;
class QWindow;

// What an application-wide event filter is handed: every object the
// application delivers an event to, among them the web engine's own (its
// page's surface takes the focus and the keys), whose classes are built
// without type information. The undefined-behaviour sanitizer cannot tell
// such an object's type and stops the process at any call made on it from
// code it checks. The filters learn what an event is for through these,
// which look no further than its meta-object, and leave everything else alone.
namespace EventTargets {

// `receiver` as a widget; none for anything else.
QWidget *widget(QObject *receiver);
// `receiver` as a window of the platform (a QWindow); none for anything else.
QWindow *window(QObject *receiver);

} // namespace EventTargets
