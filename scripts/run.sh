#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what zwirl needs, builds it and runs it: on the user's desktop when there is one,
# else as a headless demo on a virtual desktop, whose files are kept in ./zwirl-demo (or in
# $ZWIRL_DEMO_KEEP).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${DISPLAY:-}" ]; then
  sh "$top/scripts/setup.sh" --run
  sh "$top/scripts/build.sh"
  exec "$top/build/install/bin/zwirl"
fi
sh "$top/scripts/setup.sh" --demo
sh "$top/scripts/build.sh"
keep=$(realpath -m "${ZWIRL_DEMO_KEEP:-zwirl-demo}")
exec "$top/tests/desktop.sh" -- "$top/scripts/demo.sh" "$top/build/install/bin/zwirl" "$keep"
