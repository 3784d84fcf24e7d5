// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/TVKBlock.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>

namespace zwirl {

void TVKBlock::performBlock(std::function<void()> block, double delay) {
    // Rounded up to whole milliseconds, so never early; NaN and delays below zero count as zero.
    const double ms = std::max(0.0, std::ceil(std::trunc(delay * 1e9) / 1e6));
    // A timer holds at most INT_MAX ms (24.8 days): a longer delay is waited out in steps.
    const int step = int(std::min(ms, double(INT_MAX)));
    const double rest = (ms - step) / 1e3;
    // To the main thread first: a timer belongs to the thread that starts it.
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
