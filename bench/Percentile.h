// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <vector>

namespace bench {

// The value below which `percent` of `values` lie (100: the largest); -1 when there is none.
inline double percentile(std::vector<double> values, double percent) {
    if (values.empty())
        return -1.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(percent / 100.0 * double(values.size())))];
}

} // namespace bench
