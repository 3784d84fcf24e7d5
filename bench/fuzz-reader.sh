#!/bin/sh
# Fuzzes the audio file reader for a bounded time: builds bench/fuzz_EAFRead with clang,
# libFuzzer and the address and undefined-behaviour checkers in build-fuzz/, seeds the corpus
# with bench/fuzz-seeds.sh and runs the fuzzer.
#   sh bench/fuzz-reader.sh [seconds, default 600] [workers, default one per core]
# Inputs that crash, hang (10 s) or use over 2 GB land in build-fuzz/findings/; the last lines
# give the figures.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
dir=$top/build-fuzz
CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZWIRL_SANITIZE=ON -DZWIRL_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzz_EAFRead
mkdir -p "$dir/corpus" "$dir/findings"
sh "$top/bench/fuzz-seeds.sh" "$dir/seeds"
jobs=${2:-$(nproc)}
cd "$dir"
start=$(date +%s)
# Each worker stops after the given time.
"$dir/bin/fuzz_EAFRead" -jobs="$jobs" -workers="$jobs" -max_total_time="$seconds" -timeout=10 \
  -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
  -artifact_prefix="$dir/findings/" "$dir/corpus" "$dir/seeds" >/dev/null 2>&1 || true
end=$(date +%s)
execs=0
for log in fuzz-*.log; do
  n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  execs=$((execs + ${n:-0}))
done
echo "run time: $((end - start)) s on $jobs workers"
echo "executions: $execs"
echo "corpus inputs: $(ls "$dir/corpus" | wc -l)"
echo "findings (crash/timeout/oom/leak): $(ls "$dir/findings" | wc -l)"
ls "$dir/findings"
