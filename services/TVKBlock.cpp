#include "services/TVKBlock.h"

#include <QCoreApplication>
#include <QTimer>

#include <climits>
#include <cmath>

namespace zwirl {

void TVKBlock::performBlock(std::function<void()> block, double delay) {
    const double nanoseconds = std::trunc(delay * 1e9);
    // Timers count whole milliseconds: rounding up keeps the block from running early, and the
    // longest interval a timer holds keeps a far-off block from wrapping round to "now".
    const int ms =
        nanoseconds > 0 ? int(std::min(std::ceil(nanoseconds / 1e6), double(INT_MAX))) : 0;
    // The hop to the main thread's event loop comes first: a timer belongs to the thread that
    // starts it, and the block must never run inside this call.
    QMetaObject::invokeMethod(
        qApp,
        [ms, block = std::move(block)]() mutable {
            QTimer::singleShot(ms, Qt::PreciseTimer, qApp, std::move(block));
        },
        Qt::QueuedConnection);
}

} // namespace zwirl
