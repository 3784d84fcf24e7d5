#pragma once

#include <functional>

// Blocks run once on the main thread after a delay, from any thread.
class TVKBlock {
public:
    TVKBlock() = delete;

    // Runs `block` once on the main thread `delay` seconds from now. It never runs inside the
    // call, not even for a delay of zero or less; a delay below one nanosecond counts as zero.
    // A scheduled block cannot be cancelled.
    static void performBlock(std::function<void()> block, double delay);

    // The delay as whole nanoseconds, truncated toward zero; delays beyond the 64-bit range
    // saturate and NaN counts as zero.
    static long long nanosecondsForDelay(double delay);
};
