// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the tone player's render function per frame, in calls of the sizes an output device
// asks for.
#include "sound/DROVTonePlayer.h"

#include <benchmark/benchmark.h>

#include <vector>

using namespace zwirl;

namespace {

void renderTone(benchmark::State& state) {
    const auto frames = static_cast<unsigned long>(state.range(0));
    DROVTonePlayer player;
    std::vector<float> samples(frames);
    for (auto _ : state) {
        DROVTonePlayer::renderTone(&player, samples.data(), frames);
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
