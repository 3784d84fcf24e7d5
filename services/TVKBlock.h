// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace zwirl {

// Blocks run once on the main thread after a delay, asked for from any thread.
class TVKBlock {
public:
    TVKBlock() = delete;

    // Runs `block` once on the main thread `delay` seconds from now, never inside the call.
    static void performBlock(std::function<void()> block, double delay);
};

} // namespace zwirl
