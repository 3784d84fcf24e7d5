#include "services/ServicesLog.h"

namespace zwirl {

Q_LOGGING_CATEGORY(lcServices, "zwirl.services")

} // namespace zwirl
