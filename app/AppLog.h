#pragma once

#include <QLoggingCategory>

namespace zwirl {

Q_DECLARE_LOGGING_CATEGORY(lcApp)

} // namespace zwirl
