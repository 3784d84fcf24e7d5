// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/ClickSource.h"

#include <span>

namespace zwirl {

// One way of getting clicks: a desktop is one entry here and one folder beside this file.
struct ClickSourceKind {
    // Whether this login session can use it at all.
    bool (*availableHere)();
    // Whether presses on this process's windows are known only if they are X11 windows.
    bool needsX11Windows;
    std::unique_ptr<ClickSource> (*create)();
};

// Every kind, the preferred first: a run takes the first available one that starts.
std::span<const ClickSourceKind> clickSourceKinds();

bool waylandSession();
// Whether XDG_CURRENT_DESKTOP names `desktop`.
bool currentDesktopIs(QLatin1String desktop);

} // namespace zwirl
