#pragma once

#include "design/ZephylSpring.h"

#include <QEasingCurve>

class QVariantAnimation;

// zephylSpring for Qt animations: an easing curve over the spring's settling time.
namespace ZephylSpringCurve {
QEasingCurve curve();
int durationMs();
// Sets the animation's duration and easing to the spring's.
void apply(QVariantAnimation &animation);
} // namespace ZephylSpringCurve
