// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/ClickToneRenderer.h"

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

ClickToneRenderer::ClickToneRenderer(const Samples& samples)
    : m_samples(samples), m_total(frameCountForClicks(samples.size())) {}

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

} // namespace zwirl
