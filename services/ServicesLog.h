// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

namespace zwirl {

inline Q_LOGGING_CATEGORY(lcServices, "zwirl.services")

} // namespace zwirl
