#pragma once

#include <functional>

class QThreadPool;

// The application's queues: the main thread's event loop, one low-priority background pool,
// and blocks submitted to the main thread after a delay.
class Dispatch {
public:
    static bool isMainThread();
    // Runs the block on the main thread later, never inside the call.
    static void mainAsync(std::function<void()> block);
    // Runs the block on the main thread and returns once it has run. Called on the main thread
    // it runs the block at once, since waiting for ourselves would never end.
    static void mainSync(std::function<void()> block);
    // Runs the block on the background pool at the lowest thread priority.
    static void backgroundAsync(std::function<void()> block);
    // Runs the block once on the main thread, `nanoseconds` from now (at the earliest), never
    // inside the call even for zero or negative delays.
    static void mainAfter(long long nanoseconds, std::function<void()> block);
    // The background pool, for waiting until its jobs are done.
    static QThreadPool& backgroundQueue();
};
