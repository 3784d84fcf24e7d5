#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes one of the readers for a bounded time: builds its fuzz target with clang, libFuzzer and
# the address and undefined-behaviour checkers in build-fuzz/, seeds the corpus and runs the
# fuzzer.
#   sh bench/fuzz-reader.sh [seconds, default 600] [workers, default one per core] [target]
# The targets: fuzz_EAFRead (the audio file reader, the default; seeds from bench/fuzz-seeds.sh),
# fuzz_RunJournal (the run journal reader) and fuzz_RunStore (the stored runs' reader), which
# write their own seeds. Inputs that crash, hang (10 s) or use over 2 GB land in
# build-fuzz/<target>/findings/; the last lines give the figures.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
target=${3:-fuzz_EAFRead}
dir=$top/build-fuzz
CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZWIRL_SANITIZE=ON -DZWIRL_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target "$target"
work=$dir/$target
mkdir -p "$work/corpus" "$work/findings"
if [ "$target" = fuzz_EAFRead ]; then
  sh "$top/bench/fuzz-seeds.sh" "$work/seeds"
else
  ZWIRL_FUZZ_SEEDS="$work/seeds" "$dir/bin/$target"
fi
jobs=${2:-$(nproc)}
cd "$work"
start=$(date +%s)
# Each worker stops after the given time.
"$dir/bin/$target" -jobs="$jobs" -workers="$jobs" -max_total_time="$seconds" -timeout=10 \
  -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
  -artifact_prefix="$work/findings/" "$work/corpus" "$work/seeds" >/dev/null 2>&1 || true
end=$(date +%s)
execs=0
for log in fuzz-*.log; do
  n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  execs=$((execs + ${n:-0}))
done
echo "run time: $((end - start)) s on $jobs workers"
echo "executions: $execs"
echo "corpus inputs: $(ls "$work/corpus" | wc -l)"
echo "findings (crash/timeout/oom/leak): $(ls "$work/findings" | wc -l)"
ls "$work/findings"
