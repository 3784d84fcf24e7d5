// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ClickSample.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace zwirl {

// A recording's tone in slices, any slicing giving the same frames: 2205 per click of a sine at
// its pitch, the phase carried over, scaled to +-35000 so that the writer's clipping squares it.
class ClickToneRenderer {
public:
    // `samples` must outlive the renderer and not change while it renders.
    explicit ClickToneRenderer(const Samples& samples)
        : m_samples(samples), m_total(frameCountForClicks(samples.size())) {}

    // count x 2205 in single precision: beyond 2^24 frames a frame or two is lost.
    static int64_t frameCountForClicks(std::size_t count);

    int64_t totalFrames() const { return m_total; }
    int64_t framesLeft() const { return m_total - m_frame; }
    // Up to `count` next frames into `out`; the number rendered, 0 at the end.
    int64_t render(float* out, int64_t count);

private:
    const Samples& m_samples;
    const int64_t m_total;
    int64_t m_frame = 0;
    int64_t m_nextClick = 0;
    float m_increment = 0.0f; // the phase step of the current click's pitch
    float m_phase = 0.0f;
};

// Renders the tone on one thread of its own, kept for the whole recording, one slice ahead of
// the caller, who encodes the slice before. Destroying the worker stops and joins its thread.
class ClickToneWorker {
public:
    ClickToneWorker(const Samples& samples, int64_t sliceFrames);
    ~ClickToneWorker();
    ClickToneWorker(const ClickToneWorker&) = delete;
    ClickToneWorker& operator=(const ClickToneWorker&) = delete;

    // Fixed at construction, so safe to read while the worker renders.
    int64_t totalFrames() const { return m_renderer.totalFrames(); }
    // The next slice, empty at the end. The caller may change its frames (the writer clips them
    // in place); they are its own until the next call.
    std::span<float> next();

private:
    void run();

    ClickToneRenderer m_renderer;   // rendered by the worker thread alone once it runs
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
