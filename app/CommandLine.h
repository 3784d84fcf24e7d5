// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

namespace zwirl {

// The command line, read before any window system is touched: --help, --version and mistakes
// are answered at once (`exitStatus`); an action (--start, --stop, --toggle-window, --live-tone,
// --debug, --quit) is for the running instance, or, for --start and --debug, for this one once
// it has launched.
struct CommandLine {
    std::optional<int> exitStatus;
    QString action;
};
CommandLine parseCommandLine(int argc, char** argv);
// Whether a window system can be reached: without one, only a running instance can be asked to
// do something, over the session bus.
bool hasDisplay();

} // namespace zwirl
