// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sound/ClickToneRenderer.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace zwirl {

// Renders a recording's tone slice by slice on one thread of its own, kept for the whole
// recording, one slice ahead of the caller: while the caller encodes a slice the next one is
// rendered. Destroying the worker stops and joins its thread.
class ClickToneWorker {
public:
    // `samples` must outlive the worker and not change while it renders.
    ClickToneWorker(const Samples& samples, int64_t sliceFrames);
    ~ClickToneWorker();
    ClickToneWorker(const ClickToneWorker&) = delete;
    ClickToneWorker& operator=(const ClickToneWorker&) = delete;

    int64_t totalFrames() const { return m_totalFrames; }
    // The next slice of the tone, empty at the end. The caller may change its frames (the
    // writer clips them in place); they are its own until the next call.
    std::span<float> next();

private:
    void run();

    ClickToneRenderer m_renderer; // used by the worker thread alone once it runs
    const int64_t m_totalFrames;
    std::vector<float> m_slices[2]; // slice k lives in m_slices[k % 2]
    int64_t m_frames[2] = {};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int64_t m_rendered = 0; // slices rendered so far
    int64_t m_returned = 0; // slices the caller has given back
    int64_t m_taken = 0;    // slices handed to the caller
    bool m_ended = false;   // the empty slice that ends the tone is rendered
    bool m_stop = false;
    std::thread m_thread; // last: it starts once everything above is set up
};

} // namespace zwirl
