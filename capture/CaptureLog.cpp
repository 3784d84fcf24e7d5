#include "capture/CaptureLog.h"

namespace zwirl {

Q_LOGGING_CATEGORY(lcCapture, "zwirl.capture")

} // namespace zwirl
