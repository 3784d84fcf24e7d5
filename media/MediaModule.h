// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/MediaBackend.h"

namespace zwirl::media {

// The media module's entry points, loaded once at the first call from any thread; null (with
// the reason logged once) when the module cannot be loaded or belongs to another build.
const MediaBackend* mediaModule();

// Uses `backend` instead of loading the module; before the first use only. For a program that
// has the implementation built in.
void useBuiltInMediaModule(const MediaBackend* backend);

} // namespace zwirl::media
