// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingSignal.h"

#include "sound/ClickTone.h"

#include <random>

using namespace zwirl;

namespace bench {

Samples randomClicks(int count) {
    std::mt19937 random(20240607);
    std::uniform_real_distribution<double> component(0.0, 1.0);
    Samples samples;
    for (int i = 0; i < count; ++i)
        samples.push_back({component(random), component(random), component(random)});
    return samples;
}

std::vector<int16_t> sixteenBitSignal(const Samples& samples) {
    zwirl::ClickToneRenderer renderer(samples);
    std::vector<float> rendered(size_t(renderer.totalFrames()));
    renderer.render(rendered.data(), renderer.totalFrames());
    std::vector<int16_t> signal(rendered.size());
    for (size_t i = 0; i < rendered.size(); ++i) {
        float x = rendered[i];
        x = double(x) > 0.999 ? 0.999f : (x < -1.0f ? -1.0f : x);
        signal[i] = int16_t(x * 32768.0f);
    }
    return signal;
}

} // namespace bench
