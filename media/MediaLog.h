// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

namespace zwirl::media {

// Failures of the media libraries, with the libraries' own text: what a caller gets back is
// only the kind of failure.
inline Q_LOGGING_CATEGORY(lcMedia, "zwirl.media")

} // namespace zwirl::media
