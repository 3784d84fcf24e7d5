#include "services/DROVHelper.h"

#include "platform/UserNotificationCenter.h"
#include "services/ServicesLog.h"

#include <random>

float DROVHelper::randomFloatBetween(float a, float b) {
    // A uniformly distributed 32-bit value from the system's entropy-seeded source; the low 31
    // bits scaled by 2^-31 in single precision give [0, 1], both ends included.
    static thread_local std::mt19937 generator{std::random_device{}()};
    const float d = b - a;
    const std::uint32_t bits = static_cast<std::uint32_t>(generator()) & 0x7FFFFFFFu;
    const float fraction = static_cast<float>(bits) * 4.656612873077393e-10f;
    return fraction * d + a;
}

void DROVHelper::notify(const QString& message) {
    UserNotification note;
    note.title = QStringLiteral("zwirl");
    note.informativeText = message;
    note.soundName.clear();
    note.hasActionButton = false;
    UserNotificationCenter::defaultUserNotificationCenter()->deliverNotification(note);
}
