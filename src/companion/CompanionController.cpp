#include "companion/CompanionController.h"

#include "platform/IdleTime.h"

double CompanionController::secondsSinceInput() { return IdleTime::system().secondsSinceInput().value_or(0.0); }
