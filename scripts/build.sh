#!/bin/sh
# Configures and builds zwirl in build/ and installs it into build/install.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j"$(nproc)"
cmake --install "$top/build" --prefix "$top/build/install" >/dev/null
