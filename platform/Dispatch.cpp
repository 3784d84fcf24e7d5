#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <limits>

#include <chrono>

bool Dispatch::isMainThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void Dispatch::mainAsync(std::function<void()> block) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(block), Qt::QueuedConnection);
}

void Dispatch::mainSync(std::function<void()> block) {
    if (isMainThread()) {
        block();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(block),
                              Qt::BlockingQueuedConnection);
}

QThreadPool& Dispatch::backgroundQueue() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setThreadPriority(QThread::LowestPriority);
        p->setMaxThreadCount(qMax(2, QThread::idealThreadCount()));
        return p;
    }();
    return *pool;
}

void Dispatch::backgroundAsync(std::function<void()> block) {
    backgroundQueue().start(std::move(block));
}

namespace {

// A Qt timer holds at most INT_MAX milliseconds (about 24.8 days); longer delays are waited out
// in steps, so that a far-off block is never run early by a wrapped interval.
void startTimerFor(long long ms, std::function<void()> block) {
    constexpr long long kLongestStep = std::numeric_limits<int>::max();
    const long long step = std::min(ms, kLongestStep);
    QTimer::singleShot(std::chrono::milliseconds(step), Qt::PreciseTimer,
                       QCoreApplication::instance(),
                       [rest = ms - step, block = std::move(block)]() mutable {
                           if (rest > 0)
                               startTimerFor(rest, std::move(block));
                           else
                               block();
                       });
}

} // namespace

void Dispatch::mainAfter(long long nanoseconds, std::function<void()> block) {
    // Timers count whole milliseconds; rounding up keeps the block from running early.
    const long long ms =
        nanoseconds <= 0 ? 0 : nanoseconds / 1'000'000 + (nanoseconds % 1'000'000 != 0);
    mainAsync([ms, block = std::move(block)]() mutable { startTimerFor(ms, std::move(block)); });
}
