#pragma once

// Screen motion: the user's wish for less of it, and the curves every screen animates with.

#include <QEasingCurve>

namespace velmora {

/// While this holds, every animation is immediate. VELMORA_REDUCE_MOTION=1 turns it on and any
/// other non-empty value off; unset, the desktop's setting decides (the portal's GNOME
/// "enable-animations" key, false until known or where there is none). Read anew on every
/// call, so a change takes effect with the next animation.
bool reduceMotion();

/// A duration and an easing curve.
struct MotionCurve {
    int durationMs = 0;
    QEasingCurve easing;

    /// Ease-out: a cubic Bézier from (0, 0) over (0, 0) and (0.58, 1) to (1, 1).
    static MotionCurve easeOut(int durationMs);
    /// Ease-in-out: the cubic Bézier over (0.42, 0) and (0.58, 1).
    static MotionCurve easeInOut(int durationMs);
    /// A spring with this response (seconds) and damping fraction, run until it has settled to
    /// within a thousandth of its travel.
    static MotionCurve spring(double response, double dampingFraction);

    /// The screens' standard change: ease-out, 0.18 s.
    static MotionCurve standard() { return easeOut(180); }
    /// Growing under the pointer and pressing: ease-out, 0.12 s.
    static MotionCurve hover() { return easeOut(120); }
    /// The screens' spring: response 0.32 s, damping fraction 0.85.
    static MotionCurve standardSpring() { return spring(0.32, 0.85); }
};

}  // namespace velmora
