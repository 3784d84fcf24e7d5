#include "services/TVKBlock.h"

#include "platform/Dispatch.h"

#include <cmath>
#include <limits>

long long TVKBlock::nanosecondsForDelay(double delay) {
    const double nanoseconds = delay * 1'000'000'000.0;
    if (std::isnan(nanoseconds))
        return 0;
    // Converting a double outside the 64-bit range is undefined; 2^63 itself is out of range.
    constexpr double limit = 9223372036854775808.0;
    if (nanoseconds >= limit)
        return std::numeric_limits<long long>::max();
    if (nanoseconds <= -limit)
        return std::numeric_limits<long long>::min();
    return static_cast<long long>(nanoseconds);
}

void TVKBlock::performBlock(std::function<void()> block, double delay) {
    Dispatch::mainAfter(nanosecondsForDelay(delay), std::move(block));
}
