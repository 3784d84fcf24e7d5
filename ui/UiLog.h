#pragma once

#include <QLoggingCategory>

namespace zwirl {

Q_DECLARE_LOGGING_CATEGORY(lcUi)

} // namespace zwirl
