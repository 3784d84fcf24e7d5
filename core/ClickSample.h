// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace zwirl {

// Red, green and blue under a click, each 0 to 1; three zeros when no colour could be read.
using ClickSample = std::array<double, 3>;

// A run's samples, oldest first.
using Samples = std::vector<ClickSample>;

// Checked on samples from outside: a NaN would reach the tone and never equal itself.
inline bool isValidSample(const ClickSample& sample) {
    return std::all_of(sample.begin(), sample.end(),
                       [](double c) { return std::isfinite(c) && c >= 0.0 && c <= 1.0; });
}

} // namespace zwirl
