#include "sound/SoundLog.h"

namespace zwirl {

Q_LOGGING_CATEGORY(lcSound, "zwirl.sound")

} // namespace zwirl
