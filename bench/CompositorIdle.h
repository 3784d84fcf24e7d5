// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a compositor's click source costs the compositor while a run waits for clicks.

#include "capture/ClickSource.h"

namespace bench {

// Takes zwirl's name on the session bus, to which the compositor parts report; false (and a
// message) when another process has it.
bool takeZwirlsName();

// Prints the CPU time of the process owning `compositorName` on the session bus over `seconds`
// with `source` stopped, then started, and the difference; 1 when the source does not start.
int compositorIdle(zwirl::ClickSource& source, const QString& compositorName, int seconds);

} // namespace bench
