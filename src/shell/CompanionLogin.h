#pragma once

#include "workspace/CompanionSettingsWindow.h"

// The companion settings' login switch over the application's XDG autostart entry.
LoginItemSwitch companionLoginSwitch();
