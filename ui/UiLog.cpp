#include "ui/UiLog.h"

namespace zwirl {

Q_LOGGING_CATEGORY(lcUi, "zwirl.ui")

} // namespace zwirl
