// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/ClickTone.h"

#include "sound/AudioFormat.h"

#include <algorithm>
#include <cmath>

namespace zwirl {

namespace {

// Click boundaries are computed in single precision.
constexpr float kClickFrames = float(kFramesPerClick);
constexpr double kPi = 3.141592653589793;
constexpr float kPhaseReset = 10000.0f;
constexpr double kAmplitude = 35000.0;

// Truncated to a whole number; silence for NaN, which no integer conversion is defined for.
float wholeSample(double value) {
    return std::isfinite(value) ? float(int32_t(std::clamp(value, -kAmplitude, kAmplitude))) : 0.0f;
}

} // namespace

int64_t ClickToneRenderer::frameCountForClicks(std::size_t count) {
    return int64_t(float(count) * kClickFrames);
}

int64_t ClickToneRenderer::render(float* out, int64_t count) {
    const int64_t end = m_frame + std::min(count, framesLeft());
    const int64_t last = int64_t(m_samples.size()) - 1;
    const int64_t first = m_frame;
    for (; m_frame < end; ++m_frame) {
        if (float(m_frame) == float(m_nextClick) * kClickFrames) {
            const float pitch = clickPitch(m_samples[size_t(m_nextClick)]);
            m_increment = float(double(pitch + pitch) * kPi / kSampleRate);
            if (m_nextClick < last)
                ++m_nextClick;
        }
        m_phase += m_increment;
        // NaN or infinite phases restart from zero too.
        if (!(std::abs(m_phase) <= kPhaseReset))
            m_phase = 0.0f;
        out[m_frame - first] = wholeSample(std::sin(double(m_phase)) * kAmplitude);
    }
    return end - first;
}

ClickToneWorker::ClickToneWorker(const Samples& samples, int64_t sliceFrames)
    : m_renderer(samples), m_slices{std::vector<float>(size_t(sliceFrames)),
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
    std::unique_lock lock(m_mutex);
    for (int64_t slice = 0;; ++slice) {
        // Two slots: slice k is rendered once the caller has given slice k - 2 back.
        m_changed.wait(lock, [&] { return m_stop || slice - m_returned < 2; });
        if (m_stop)
            return;
        lock.unlock();
        std::vector<float>& out = m_slices[slice % 2];
        const int64_t frames = m_renderer.render(out.data(), int64_t(out.size()));
        lock.lock();
        m_frames[slice % 2] = frames;
        m_rendered = slice + 1;
        m_ended = frames == 0;
        m_changed.notify_all();
        if (frames == 0)
            return;
    }
}

} // namespace zwirl
