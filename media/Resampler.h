// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/FFmpegPtr.h"

#include <vector>

namespace zwirl::media {

// Converts decoded audio of one form (sample format, rate, channel layout) into interleaved
// 16-bit samples at an output rate and channel count, into a block of its own.
class Resampler {
public:
    // The form of decoded audio that a converter is made for.
    struct InputForm {
        int format = -1, rate = 0, channels = 0, order = 0;
        uint64_t mask = 0;
        bool operator==(const InputForm&) const = default;
    };
    static InputForm formOf(const AVFrame* frame);

    // A converter that is set up, for audio of `form`.
    bool takes(const InputForm& form) const { return m_context && form == m_input; }
    bool isMade() const { return bool(m_context); }
    // A converter for audio like `frame`; one that fails to set up is never used.
    MediaError make(const AVFrame* frame, double rate, int channels);
    void reset() { m_context.reset(); }
    // Converts `count` frames of `input`, or drains with a null one, into output().
    MediaError convert(const uint8_t** input, int count, int& produced);
    int16_t* output() { return m_output.data(); }

private:
    FFmpegPtr<SwrContext> m_context;
    InputForm m_input; // what m_context takes
    int m_channels = 0;
    std::vector<int16_t> m_output; // interleaved
};

} // namespace zwirl::media
