#pragma once

// The user's wish for less screen motion: while it holds, every animation is immediate.

namespace velmora {

/// VELMORA_REDUCE_MOTION=1 in the environment. Read anew on every call, so a change takes
/// effect with the next animation.
bool reduceMotion();

}  // namespace velmora
