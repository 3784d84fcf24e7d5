#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what zwirl needs, builds and installs it, and runs the whole test suite inside the
# test desktop.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
sh "$top/scripts/setup.sh"
sh "$top/scripts/build.sh"
exec "$top/tests/desktop.sh" -- ctest --test-dir "$top/build" --output-on-failure --timeout 900
