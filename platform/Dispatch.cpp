#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

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

void Dispatch::mainAfter(long long nanoseconds, std::function<void()> block) {
    // Timers count whole milliseconds; rounding up keeps the block from running early.
    const long long ms = nanoseconds <= 0 ? 0 : (nanoseconds + 999'999) / 1'000'000;
    mainAsync([ms, block = std::move(block)]() mutable {
        QTimer::singleShot(std::chrono::milliseconds(ms), Qt::PreciseTimer,
                           QCoreApplication::instance(), std::move(block));
    });
}
