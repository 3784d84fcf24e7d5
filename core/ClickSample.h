#pragma once

#include <array>
#include <vector>

namespace zwirl {

// One recorded click: red, green and blue of the pixel under the pointer, each nominally
// 0.0 to 1.0, in the capture's own colour space; three zeros when no colour could be read.
using ClickSample = std::array<double, 3>;

// The recording: click samples in click order, oldest first.
using Samples = std::vector<ClickSample>;

} // namespace zwirl
