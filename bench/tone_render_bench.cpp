// Cost of the tone player's render callback per frame, in calls of the sizes an output
// device asks for.
#include "sound/DROVTonePlayer.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void renderTone(benchmark::State& state) {
    const auto frames = std::uint32_t(state.range(0));
    DROVTonePlayer player;
    std::vector<float> samples(frames);
    AudioOutputUnit::AudioBuffer buffer{1, frames * 4, samples.data()};
    AudioOutputUnit::AudioBufferList list{1, &buffer};
    AudioOutputUnit::AudioUnitRenderActionFlags flags = 0;
    const AudioOutputUnit::AudioTimeStamp stamp{};
    for (auto _ : state) {
        DROVTonePlayer::renderTone(&player, &flags, &stamp, 0, frames, &list);
        benchmark::DoNotOptimize(samples.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["ns_per_frame"] =
        benchmark::Counter(double(state.iterations()) * double(frames),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(renderTone)->Arg(64)->Arg(512)->Arg(4096)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
