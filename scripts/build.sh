#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds zwirl in build/ (or in $ZWIRL_BUILD_DIR) and installs it into its
# install/ folder.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZWIRL_BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
cmake --install "$build" --prefix "$build/install" >/dev/null
