#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The second test stage: builds zwirl and its tests with the address and undefined-behaviour
# checkers (ZWIRL_SANITIZE) in build-asan/, installs that build into build-asan/install (the
# end-to-end tests drive it from there) and runs the whole suite inside the test desktop, all but
# the package test (the package is made from the normal build) and the builds on other releases
# (they build without the checkers, as the first stage did). Any report ends the process that made
# it, so it fails the test that caused it.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$top/build-asan
sh "$top/scripts/setup.sh"
cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZWIRL_SANITIZE=ON \
  -DZWIRL_BENCHMARKS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"
cmake --install "$dir" --prefix "$dir/install" >/dev/null
# Leaks are checked too: a test process, or zwirl at an orderly quit, that leaks exits with an
# error. The suite needs no suppressions for the system's libraries today.
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1
exec "$top/tests/desktop.sh" -- ctest --test-dir "$dir" --output-on-failure --timeout 900 -LE 'package|release'
