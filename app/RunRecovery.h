// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace zwirl {

class ExportQueue;
class RunStore;

// The runs that earlier processes kept, saved at launch: those in the run store (a quit during
// a run, a failed export) and those in journals of processes that did not end in order.
// Which copy counts: a journal noted as saved under names whose files are there is done, and
// the same run in the store goes with it; a journal of a run that is also stored was left by the
// quit that stored it, and the store's copy is saved. Runs longer than a file takes are split
// into journals of one file each first, so that each file saved removes its own part. Journals
// that could not be read are told of once.
class RunRecovery {
public:
    // Has the runs saved, in the order they were made, and `done` run on the main thread after
    // the last; false, with `done` not run, when there was none.
    static bool saveRunsOfEarlierProcesses(RunStore& store, ExportQueue& exports,
                                           std::function<void()> done);
};

} // namespace zwirl
