#pragma once

#include <QLoggingCategory>

namespace zwirl {

inline Q_LOGGING_CATEGORY(lcServices, "zwirl.services")

} // namespace zwirl
