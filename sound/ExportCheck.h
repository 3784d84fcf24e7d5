// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ClickSample.h"

#include <QString>

namespace zwirl {

// Reads a written recording back: its length must be the clicks' frames, and the clicks of one
// block of 64 in four (and of the last) must cross zero as their pitch does.
class ExportCheck {
public:
    ExportCheck() = delete;

    // Empty when `path` holds `samples`; otherwise what is wrong, for the log.
    static QString mismatch(const Samples& samples, const QString& path);
};

} // namespace zwirl
