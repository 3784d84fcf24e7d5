// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the journal of a full run (9999 clicks) that a process left behind, as a launch does;
// the file stays in the page cache between rounds.
#include "app/RunJournal.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace zwirl;

namespace {

void BM_readFullRunJournal(benchmark::State& state) {
    QTemporaryDir stateHome;
    qputenv("XDG_STATE_HOME", stateHome.path().toUtf8());
    Samples samples;
    for (int i = 0; i < 9999; ++i)
        samples.push_back({(i % 256) / 255.0, ((i * 7) % 256) / 255.0, ((i * 13) % 256) / 255.0});
    const QDateTime start = QDateTime::currentDateTime();
    RunJournal::write({samples, start, start.addSecs(60)});
    for (auto _ : state) {
        const RunJournal::Scan scan = RunJournal::leftBehind();
        if (scan.found.size() != 1 || scan.found[0].run.samples.size() != samples.size())
            state.SkipWithError("the journal did not read back");
        benchmark::DoNotOptimize(scan.found.data());
    }
}

} // namespace

BENCHMARK(BM_readFullRunJournal)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
