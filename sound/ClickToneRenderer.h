// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ClickSample.h"

#include <cstdint>

namespace zwirl {

// The tone of a recording, rendered slice by slice in order: 2205 frames per click of a sine at
// the click's pitch, its phase running on from click to click, scaled to +-35000 so that the
// writer's clipping squares it. Any slicing gives the same frames.
class ClickToneRenderer {
public:
    // `samples` must outlive the renderer and not change while it renders.
    explicit ClickToneRenderer(const Samples& samples);

    // count x 2205 in single precision, as the boundaries are tested: beyond 2^24 frames a
    // frame or two is lost (7609 clicks give 16777844).
    static int64_t frameCountForClicks(std::size_t count);

    int64_t totalFrames() const { return m_total; }
    int64_t framesLeft() const { return m_total - m_frame; }
    // Up to `count` next frames into `out`; the number rendered, 0 at the end.
    int64_t render(float* out, int64_t count);

private:
    const Samples& m_samples;
    int64_t m_total;
    int64_t m_frame = 0;
    int64_t m_nextClick = 0;
    float m_increment = 0.0f; // the phase step of the current click's pitch
    float m_phase = 0.0f;
};

} // namespace zwirl
