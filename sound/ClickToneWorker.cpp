// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/ClickToneWorker.h"

namespace zwirl {

ClickToneWorker::ClickToneWorker(const Samples& samples, int64_t sliceFrames)
    : m_renderer(samples),
      m_totalFrames(m_renderer.totalFrames()), m_slices{std::vector<float>(size_t(sliceFrames)),
                                                        std::vector<float>(size_t(sliceFrames))},
      m_thread(&ClickToneWorker::run, this) {}

ClickToneWorker::~ClickToneWorker() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

std::span<float> ClickToneWorker::next() {
    std::unique_lock lock(m_mutex);
    // Asking for the next slice gives the one handed out before back.
    m_returned = m_taken;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_rendered > m_taken || m_ended; });
    if (m_rendered <= m_taken)
        return {}; // asked again after the end
    const size_t slot = size_t(m_taken++ % 2);
    return {m_slices[slot].data(), size_t(m_frames[slot])};
}

void ClickToneWorker::run() {
    for (int64_t slice = 0;; ++slice) {
        {
            std::unique_lock lock(m_mutex);
            // Two slots: slice k is rendered once the caller has given slice k - 2 back.
            m_changed.wait(lock, [&] { return m_stop || slice - m_returned < 2; });
            if (m_stop)
                return;
        }
        std::vector<float>& out = m_slices[slice % 2];
        const int64_t frames = m_renderer.render(out.data(), int64_t(out.size()));
        {
            const std::lock_guard lock(m_mutex);
            m_frames[slice % 2] = frames;
            m_rendered = slice + 1;
            m_ended = frames == 0;
        }
        m_changed.notify_all();
        if (frames == 0)
            return;
    }
}

} // namespace zwirl
