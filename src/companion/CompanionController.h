#pragma once

// The desktop cat's controller. For now it answers only what the web workspace
// asks of it: how long the user has been away from mouse and keyboard.
class CompanionController {
public:
    // Seconds since the last mouse or keyboard input; 0 when the desktop cannot
    // tell, so an unknown idle time never counts as the user being away.
    static double secondsSinceInput();
};
