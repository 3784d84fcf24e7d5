// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/TVKBlock.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>

namespace zwirl {

void TVKBlock::performBlock(std::function<void()> block, double delay) {
    // Timers count whole milliseconds: rounding up keeps the block from running early. NaN and
    // delays of zero or less count as zero.
    const double ms = std::max(0.0, std::ceil(std::trunc(delay * 1e9) / 1e6));
    // A timer holds at most INT_MAX ms (about 24.8 days): a longer delay is waited out in steps.
    const int step = int(std::min(ms, double(INT_MAX)));
    const double rest = (ms - step) / 1e3;
    // The hop to the main thread's event loop comes first: a timer belongs to the thread that
    // starts it, and the block must never run inside this call.
    QMetaObject::invokeMethod(
        qApp,
        [step, rest, block = std::move(block)]() mutable {
            QTimer::singleShot(step, Qt::PreciseTimer, qApp,
                               [rest, block = std::move(block)]() mutable {
                                   if (rest > 0)
                                       performBlock(std::move(block), rest);
                                   else
                                       block();
                               });
        },
        Qt::QueuedConnection);
}

} // namespace zwirl
