// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace zwirl {

class ExportQueue;
class RunStore;

// The runs that earlier processes kept, saved at launch: those in the run store (a quit during
// a run, a failed export) and those in journals of processes that did not end in order.
class RunRecovery {
public:
    // Has the runs saved, oldest first, and `done` run on the main thread after the last;
    // false, with `done` not run, when there was none.
    static bool saveRunsOfEarlierProcesses(RunStore& store, ExportQueue& exports,
                                           std::function<void()> done);
};

} // namespace zwirl
