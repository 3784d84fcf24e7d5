#pragma once

#include <QLoggingCategory>

namespace zwirl {

inline Q_LOGGING_CATEGORY(lcApp, "zwirl.app")

} // namespace zwirl
