// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

namespace zwirl {

// One recorded click: red, green and blue of the pixel under the pointer, each 0.0 to 1.0, in
// the capture's own colour space; three zeros when no colour could be read.
using ClickSample = std::array<double, 3>;

// The recording: click samples in click order, oldest first.
using Samples = std::vector<ClickSample>;

// Whether every component is a number from 0 to 1. What comes from outside the process (a
// journal, the settings file, a compositor's report) is taken only when it is: a NaN or an
// infinity would reach the tone's arithmetic, and a NaN never equals itself, so a run holding
// one could not be found again to be forgotten.
inline bool isValidSample(const ClickSample& sample) {
    return std::all_of(sample.begin(), sample.end(),
                       [](double c) { return std::isfinite(c) && c >= 0.0 && c <= 1.0; });
}

// Removes the samples that are not valid, keeping the order; how many were removed.
inline std::size_t dropInvalidSamples(Samples& samples) {
    return std::erase_if(samples, [](const ClickSample& s) { return !isValidSample(s); });
}

} // namespace zwirl
