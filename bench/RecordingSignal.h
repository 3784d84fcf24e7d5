// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The recording the sound benchmarks work on, and the 16-bit signal the writer encodes from it.

#include "core/ClickSample.h"

#include <cstdint>
#include <vector>

namespace bench {

// `count` clicks of random colours, the same ones in every run.
zwirl::Samples randomClicks(int count);
// What the writer hands to the encoder: the rendered values after its clipping.
std::vector<int16_t> sixteenBitSignal(const zwirl::Samples& samples);

} // namespace bench
