// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/ExportQueue.h"

namespace zwirl::recovery {

// Saves the runs that earlier processes left unsaved, in the store and in journals, oldest
// first, told once after the last, then runs `done`; false, without `done`, when there was none.
bool saveRunsOfEarlierProcesses(RunStore& store, ExportQueue& exports, std::function<void()> done);

} // namespace zwirl::recovery
