#include "app/AppLog.h"

namespace zwirl {

Q_LOGGING_CATEGORY(lcApp, "zwirl.app")

} // namespace zwirl
