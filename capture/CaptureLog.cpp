#include "capture/CaptureLog.h"

Q_LOGGING_CATEGORY(lcCapture, "zwirl.capture")
