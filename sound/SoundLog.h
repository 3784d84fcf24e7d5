#pragma once

#include <QLoggingCategory>

namespace zwirl {

inline Q_LOGGING_CATEGORY(lcSound, "zwirl.sound")

} // namespace zwirl
