#pragma once

// The URL schemes the application's web views use: the workspace's private
// message scheme and the "sorvane" sign-in callback; and the engine's switches
// (WebRules::engineSwitches). QtWebEngine takes both only before it starts, so
// every program with a web view calls this first thing in main(), before the
// QApplication exists.
namespace WebSchemes {

void registerAll();

} // namespace WebSchemes
