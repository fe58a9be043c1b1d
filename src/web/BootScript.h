#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// The script injected into the service's page before any of its own: the
// configuration object `window.__zephylMacConfig`, then the page-side bridge
// from the bundle's Web folder ("zephyl-mac.js", with "zephyl-mac.css" carried
// in the configuration).
namespace BootScript {

// "ZephylMac/<version>", or "ZephylMac" without a version.
QString userAgentName(const QString &version);

// The nine keys: paths, the selected look's pictures, the style sheet, and the
// words "Focus" and "%d min" in every language the application speaks.
QJsonObject configuration();
QJsonObject words();

// The whole user script.
QString script();

// A "data:" URI of a picture file; none when it cannot be read.
std::optional<QString> dataURI(const std::optional<QString> &path);

// The UTF-8 text of the Web resource "zephyl-mac.<ext>"; empty when missing.
QString resource(const QString &ext);

} // namespace BootScript
