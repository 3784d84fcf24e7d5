// SPDX-License-Identifier: GPL-3.0-or-later
// The samples picture for a full run (9999 clicks), with and without the logo.
#include "services/DROVHelper.h"

#include <benchmark/benchmark.h>

using namespace zwirl;

namespace {

Samples fullRun() {
    Samples samples;
    samples.reserve(9999);
    for (int i = 0; i < 9999; ++i)
        samples.push_back({(i % 256) / 255.0, ((i * 7) % 256) / 255.0, ((i * 13) % 256) / 255.0});
    return samples;
}

void BM_iconImageForSamples(benchmark::State& state) {
    const Samples samples = fullRun();
    const bool watermark = state.range(0) != 0;
    for (auto _ : state) {
        QImage picture = DROVHelper::iconImageForSamples(samples, watermark);
        benchmark::DoNotOptimize(picture.constBits());
    }
}

} // namespace

BENCHMARK(BM_iconImageForSamples)
    ->ArgName("watermark")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
