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

// --- Pictures and icons: to be completed. ---
bool DROVHelper::setIconForPath(const QString& path) {
    Q_UNUSED(path);
    return false;
}

bool DROVHelper::setIconForPath(const QString& path, const QImage& image) {
    Q_UNUSED(path);
    Q_UNUSED(image);
    return false;
}

QImage DROVHelper::iconImageForSamples(const Samples& samples, bool watermark) {
    Q_UNUSED(samples);
    Q_UNUSED(watermark);
    QImage image(512, 512, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QSizeF DROVHelper::size(QSizeF size, float scale) {
    return {size.width() * double(scale), size.height() * double(scale)};
}

int tileSideForCount(int w, int h, int n) {
    Q_UNUSED(w);
    Q_UNUSED(h);
    Q_UNUSED(n);
    return 0;
}
