#pragma once

// A spring animation as a value: how far (0 to 1) a change has travelled after a
// given time, for a unit mass released from rest. `response` is the period of the
// undamped spring in seconds; `dampingFraction` 1 is critical damping.
struct SpringAnimation {
    double response = 0.5;
    double dampingFraction = 0.825;
    double blendDuration = 0.0;

    // Progress of a change after `seconds`: 0 at the start, settling at 1.
    double position(double seconds) const;
    // The time after which the progress stays within `tolerance` of 1.
    double settlingDuration(double tolerance = 0.001) const;
};

// The one spring the plan screen and the workspace animate their changes with.
const SpringAnimation &zephylSpring();
